// The repeating log collection that the console carries out itself while it
// runs: every second, each due device collects once and its schedule
// advances from the planned time or ends.
#pragma once

#include "device_book.h"
#include "maintenance_runner.h"
#include "operation_waiter.h"

#include <functional>

namespace quellin::console {

class LogScheduler {
public:
    // save writes base.db.
    LogScheduler(DeviceBook& book, const MaintenanceRunner& runner, BusyFlag& busy,
                 std::function<bool()> save);

    // At start-up: schedules whose next time has passed are cancelled.
    void DropExpiredSchedules();
    // Each tick: every due device once, earliest first, ties in row order.
    // A failed collection counts as a run too.
    void RunDueLogCollections();

private:
    DeviceBook& book_;
    const MaintenanceRunner& runner_;
    BusyFlag& busy_;
    std::function<bool()> save_;
};

}  // namespace quellin::console
