// Processes as the console sees them, for tests: programs "start" by being
// added to the running set (by their path) and quit when asked.
#pragma once

#include "syslog_control.h"

#include <map>
#include <string>
#include <vector>

namespace quellin::console {

class FakeProcessControl final : public ProcessControl {
public:
    bool Start(const std::string& program) override {
        started.push_back(program);
        if (!startSucceeds)
            return false;
        running[program] = nextPid++;
        return true;
    }
    int Find(const std::string& program) override {
        auto it = running.find(program);
        return it == running.end() ? 0 : it->second;
    }
    bool AskToQuit(int pid) override {
        quitRequests.push_back(pid);
        if (!quitsWhenAsked)
            return true;
        for (auto it = running.begin(); it != running.end(); ++it) {
            if (it->second == pid) {
                running.erase(it);
                break;
            }
        }
        return true;
    }

    std::map<std::string, int> running;
    std::vector<std::string> started;
    std::vector<int> quitRequests;
    bool startSucceeds = true;
    bool quitsWhenAsked = true;
    int nextPid = 4242;
};

}  // namespace quellin::console
