#include "syslog_control.h"

#include "codec.h"
#include "process.h"

#include <signal.h>

#include <thread>

namespace quellin::console {

bool SystemProcessControl::Start(const std::string& program) {
    return StartDetached(program, {}).ok();
}

int SystemProcessControl::Find(const std::string& program) {
    return FindProcessOf(program);
}

bool SystemProcessControl::AskToQuit(int pid) {
    return ::kill(pid, SIGTERM) == 0;
}

SyslogControl::SyslogControl(std::string program, Reporter& reporter, ProcessControl& processes)
    : program_(std::move(program)),
      reporter_(reporter),
      processes_(processes),
      sleep_([](std::chrono::milliseconds wait) { std::this_thread::sleep_for(wait); }) {}

void SyslogControl::StartSyslogServer() {
    if (running_)
        return;
    if (processes_.Start(Program())) {
        running_ = true;
        reporter_.Report(kToolName, cp932::Jp("システムログサーバを起動しました。"), MSG_LOG);
    } else {
        reporter_.Report(kToolName, cp932::Jp("システムログサーバの起動に失敗しました。"),
                         MSG_LOG | MSG_BOX);
    }
}

bool SyslogControl::StopSyslogServer() {
    if (!running_)
        return true;
    const int pid = processes_.Find(Program());
    if (pid != 0 && processes_.AskToQuit(pid)) {
        for (int check = 0; check <= 500; ++check) {
            if (check > 0)
                sleep_(std::chrono::milliseconds(10));
            if (processes_.Find(Program()) == 0) {
                running_ = false;
                reporter_.Report(kToolName, cp932::Jp("システムログサーバを停止しました。"),
                                 MSG_LOG);
                return true;
            }
        }
    }
    reporter_.Report(kToolName, cp932::Jp("システムログサーバの停止に失敗しました。"), MSG_LOG);
    return false;
}

bool SyslogControl::RefreshSyslogStatus() {
    // The display follows the process check alone: a start or stop from the
    // menu may have changed it since the last check without the process
    // having changed (a Syslogd that started and ended between two checks).
    const int pid = processes_.Find(Program());
    if (pid == lastPid_ && running_ == (pid != 0))
        return false;
    lastPid_ = pid;
    running_ = pid != 0;
    return true;
}

std::string SyslogControl::Program() const {
    return cp932::ToPath(program_).string();
}

std::string SyslogControl::statusText() const {
    return cp932::Jp(running_ ? "起動中" : "停止中");
}

}  // namespace quellin::console
