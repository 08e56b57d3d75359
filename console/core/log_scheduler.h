// The repeating log collection that the console carries out itself while it
// runs: every second, each due device collects once and its schedule
// advances from the planned time or ends.
#pragma once

#include "device_registry.h"
#include "maintenance.h"
#include "operation_waiter.h"
#include "report.h"

#include <functional>

namespace quellin::console {

class LogScheduler {
public:
    // save writes base.db.
    LogScheduler(CList<CBase>& devices, Maintenance& maintenance, Reporter& reporter,
                 OperationWaiter& waiter, BusyFlag& busy, std::function<bool()> save);

    // At start-up: schedules whose next time has passed are cancelled.
    void DropExpiredSchedules();
    // Each tick: every due device once, earliest first, ties in row order.
    void RunDueLogCollections();
    void RunScheduledLogCollection(CBase& device);

private:
    static bool Scheduled(const CBase& device) {
        return !device.name.empty() && device.logInterval != 0;
    }

    CList<CBase>& devices_;
    Maintenance& maintenance_;
    Reporter& reporter_;
    OperationWaiter& waiter_;
    BusyFlag& busy_;
    std::function<bool()> save_;
};

}  // namespace quellin::console
