// A stand-in for the work on the routers that records what was asked of it
// and answers as scripted.
#pragma once

#include "clock.h"
#include "maintenance.h"
#include "test_support.h"

#include <string>
#include <thread>
#include <vector>

namespace quellin::console {

class ScriptedRouter final : public RouterOperations {
public:
    Outcome ApplyConfig(const OperationContext& c, bool scheduled) override {
        calls.push_back("ApplyConfig " + c.target.name +
                        (scheduled ? " at " + c.target.scheduleTime : ""));
        return Result();
    }
    Outcome UpdateFirmware(const OperationContext& c, bool scheduled) override {
        calls.push_back("UpdateFirmware " + c.target.name +
                        (scheduled ? " at " + c.target.scheduleTime : ""));
        return update;
    }
    Outcome CollectLog(const OperationContext& c) override {
        calls.push_back("CollectLog " + c.target.name +
                        (c.questions == nullptr ? " unattended" : ""));
        collectThread = std::this_thread::get_id();
        if (clock != nullptr)
            clock->Advance(collectSeconds);
        return Result();
    }

    std::vector<std::string> calls;
    bool succeed = true;
    Outcome update;
    int collectSeconds = 0;
    std::thread::id collectThread;
    FakeClock* clock = nullptr;

private:
    Outcome Result() const { return succeed ? Outcome{} : Outcome{OutcomeKind::kFailed}; }
};

}  // namespace quellin::console
