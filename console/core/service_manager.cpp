#include "service_manager.h"

#include "process.h"

#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <vector>

namespace quellin::console {
namespace {

// Runs systemctl with the arguments.  Without systemd there are no services.
ProgramRun Systemctl(const std::vector<std::string>& arguments) {
    for (const char* program : {"/usr/bin/systemctl", "/bin/systemctl"}) {
        if (::access(program, X_OK) == 0 && std::filesystem::exists("/run/systemd/system"))
            return RunAndRead(program, arguments);
    }
    return {};
}

std::string Property(const std::string& output, const std::string& key) {
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    }
    return {};
}

// "{ path=/x ; argv[]=/x -k runservice ; ... }" as the command line
// "\"/x\" -k runservice".
std::string CommandOf(const std::string& execStart) {
    auto at = execStart.find("argv[]=");
    if (at == std::string::npos)
        return {};
    auto end = execStart.find(" ;", at);
    std::string argv =
        execStart.substr(at + 7, end == std::string::npos ? std::string::npos : end - at - 7);
    auto blank = argv.find(' ');
    std::string program = argv.substr(0, blank);
    std::string rest = blank == std::string::npos ? std::string() : argv.substr(blank);
    return "\"" + program + "\"" + rest;
}

}  // namespace

int StopAndDeleteService(ServiceManager& manager, const std::string& name,
                         const std::string& command,
                         const std::function<void(std::chrono::milliseconds)>& sleep) {
    int state = manager.QueryServiceState(name, command);
    if (state == 0)
        return 1;
    if (state < 1 || state > 8)
        return -1;
    if (state != static_cast<int>(ServiceState::kStopped)) {
        if (!manager.RequestStop(name))
            return -1;
        bool stopped = false;
        for (int i = 0; i < 120 && !stopped; ++i) {
            sleep(std::chrono::milliseconds(500));
            stopped = manager.QueryServiceState(name, command) ==
                      static_cast<int>(ServiceState::kStopped);
        }
        if (!stopped)
            return -1;
    }
    return manager.Delete(name) ? 0 : -1;
}

int SystemdServiceManager::QueryServiceState(const std::string& name, const std::string& command) {
    ProgramRun shown = Systemctl({"show", name + ".service", "-p", "LoadState", "-p", "ActiveState",
                                  "-p", "SubState", "-p", "ExecStart"});
    if (!shown.ran)
        return 0;
    if (shown.status != 0)
        return -1;
    if (Property(shown.output, "LoadState") == "not-found")
        return 0;
    if (CommandOf(Property(shown.output, "ExecStart")) != command)
        return -1;
    const std::string active = Property(shown.output, "ActiveState");
    if (active == "active" || active == "reloading")
        return static_cast<int>(ServiceState::kRunning);
    if (active == "inactive" || active == "failed")
        return static_cast<int>(ServiceState::kStopped);
    if (active == "activating")
        return static_cast<int>(ServiceState::kStartPending);
    if (active == "deactivating")
        return static_cast<int>(ServiceState::kStopPending);
    return static_cast<int>(ServiceState::kOther);
}

bool SystemdServiceManager::RequestStop(const std::string& name) {
    ProgramRun r = Systemctl({"stop", "--no-block", name + ".service"});
    return r.ran && r.status == 0;
}

bool SystemdServiceManager::Delete(const std::string& name) {
    ProgramRun shown = Systemctl({"show", name + ".service", "-p", "FragmentPath"});
    const std::string unit = Property(shown.output, "FragmentPath");
    Systemctl({"disable", name + ".service"});
    std::error_code ec;
    if (!unit.empty() && !std::filesystem::remove(unit, ec))
        return false;
    ProgramRun reload = Systemctl({"daemon-reload"});
    return reload.ran && reload.status == 0;
}

}  // namespace quellin::console
