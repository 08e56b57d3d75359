// A stand-in for the router operations that records what was asked of it
// and answers as scripted.
#pragma once

#include "clock.h"
#include "maintenance.h"
#include "test_support.h"

#include <string>
#include <thread>
#include <vector>

namespace quellin::console {

class ScriptedMaintenance final : public Maintenance {
public:
    bool CheckAddress(const MaintenanceTarget& t, bool unattended) override {
        calls.push_back("CheckAddress " + t.name + (unattended ? " unattended" : ""));
        if (t.address.empty() && reporter != nullptr)
            reporter->Report(t.name, testing::Sjis("IPアドレスが設定されていません。"),
                             unattended ? MSG_LOG : MSG_BOX);
        return !t.address.empty();
    }
    bool CheckConfigFile(const MaintenanceTarget& t, bool) override {
        calls.push_back("CheckConfigFile " + t.configFile);
        return !t.configFile.empty();
    }
    bool ApplyConfig(const MaintenanceTarget& t, bool scheduled, bool) override {
        calls.push_back("ApplyConfig " + t.name + (scheduled ? " at " + t.scheduleTime : ""));
        return succeed;
    }
    int UpdateSoftware(const MaintenanceTarget& t, bool scheduled, bool) override {
        calls.push_back("UpdateSoftware " + t.name + (scheduled ? " at " + t.scheduleTime : ""));
        return updateResult;
    }
    bool CollectLog(const MaintenanceTarget& t, bool unattended) override {
        calls.push_back("CollectLog " + t.name + (unattended ? " unattended" : ""));
        collectThread = std::this_thread::get_id();
        if (clock != nullptr)
            clock->Advance(collectSeconds);
        return succeed;
    }

    std::vector<std::string> calls;
    bool succeed = true;
    int updateResult = kUpdateDone;
    int collectSeconds = 0;
    std::thread::id collectThread;
    FakeClock* clock = nullptr;
    Reporter* reporter = nullptr;
};

}  // namespace quellin::console
