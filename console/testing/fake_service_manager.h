// A service manager for tests: services are entries of a map, and a stopped
// service reads as stopped after the given number of polls.
#pragma once

#include "service_manager.h"

#include <map>
#include <string>

namespace quellin::console {

class FakeServiceManager final : public ServiceManager {
public:
    struct Service {
        std::string command;
        ServiceState state = ServiceState::kRunning;
        int pollsUntilStopped = 1;  // state reads after a stop request
    };

    int QueryServiceState(const std::string& name, const std::string& command) override {
        auto it = services.find(name);
        if (it == services.end())
            return 0;
        if (it->second.command != command)
            return -1;
        if (stopRequested && it->second.state != ServiceState::kStopped &&
            --it->second.pollsUntilStopped <= 0)
            it->second.state = ServiceState::kStopped;
        return static_cast<int>(it->second.state);
    }
    bool RequestStop(const std::string&) override {
        stopRequested = true;
        return true;
    }
    bool Delete(const std::string& name) override { return services.erase(name) == 1; }

    std::map<std::string, Service> services;
    bool stopRequested = false;
};

}  // namespace quellin::console
