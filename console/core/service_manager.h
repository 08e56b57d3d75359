// The operating system's service manager, as far as the console uses it: to
// find a left-over web-server service by name and start command, stop it and
// remove it.  Here the services are systemd units; tests use
// FakeServiceManager (fake_service_manager.h).
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace quellin::console {

enum class ServiceState {
    kRunning = 1,
    kStopped = 2,
    kStartPending = 3,
    kStopPending = 4,
    kOther = 8,
};

class ServiceManager {
public:
    virtual ~ServiceManager() = default;
    // 0 not found, 1 to 8 its state, -1 error or a service of that name
    // with another start command.
    virtual int QueryServiceState(const std::string& name, const std::string& command) = 0;
    // Asks the service to stop; false when the request failed.
    virtual bool RequestStop(const std::string& name) = 0;
    // False when the service could not be removed.
    virtual bool Delete(const std::string& name) = 0;
};

// 0 stopped and deleted, 1 not installed, -1 otherwise.  After asking it to
// stop, polls the state every half second (passed by `sleep`) for a minute.
int StopAndDeleteService(ServiceManager& manager, const std::string& name,
                         const std::string& command,
                         const std::function<void(std::chrono::milliseconds)>& sleep);

// systemd through systemctl.  Without systemd there are no services.
class SystemdServiceManager final : public ServiceManager {
public:
    int QueryServiceState(const std::string& name, const std::string& command) override;
    bool RequestStop(const std::string& name) override;
    bool Delete(const std::string& name) override;
};

}  // namespace quellin::console
