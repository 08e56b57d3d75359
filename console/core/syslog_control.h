// The console's control of the syslog server Syslogd: starting it, asking it
// to quit, and watching once a second whether it runs.
#pragma once

#include "report.h"

#include <chrono>
#include <functional>
#include <string>

namespace quellin::console {

// The processes the console starts, finds and signals.
class ProcessControl {
public:
    virtual ~ProcessControl() = default;
    virtual bool Start(const std::string& program) = 0;
    // A running process of that program file (a path), or 0.
    virtual int Find(const std::string& program) = 0;
    // Asks the process to quit the way its own exit command does.
    virtual bool AskToQuit(int pid) = 0;
};

class SystemProcessControl final : public ProcessControl {
public:
    bool Start(const std::string& program) override;
    int Find(const std::string& program) override;
    bool AskToQuit(int pid) override;
};

class SyslogControl {
public:
    // program: the installation's Syslogd; only a process of that program
    // counts as the syslog server, never another user's or another
    // installation's program of the same name.
    SyslogControl(std::string program, Reporter& reporter, ProcessControl& processes);

    // Menu 137: starts the installation's Syslogd.
    void StartSyslogServer();
    // Menu 138, exit and session end: true when Syslogd is gone or was not
    // believed running.
    bool StopSyslogServer();
    // Each second: true when the display changed.
    bool RefreshSyslogStatus();

    // Syslogd counts as running exactly when the stop item is enabled.
    bool running() const { return running_; }
    // CP932 status text "起動中" / "停止中".
    std::string statusText() const;

    // The waits of the stop poll; tests make them instant.
    void setSleep(std::function<void(std::chrono::milliseconds)> sleep) {
        sleep_ = std::move(sleep);
    }

private:
    std::string Program() const;  // the file system's path

    std::string program_;
    Reporter& reporter_;
    ProcessControl& processes_;
    int lastPid_ = -1;
    bool running_ = false;
    std::function<void(std::chrono::milliseconds)> sleep_;
};

}  // namespace quellin::console
