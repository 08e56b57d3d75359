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
    // save writes base.db; collected (when given) hears each collection's
    // end.
    using Collected = std::function<void(const CBase&, const Outcome&)>;
    LogScheduler(DeviceBook& book, const MaintenanceRunner& runner, BusyFlag& busy,
                 std::function<bool()> save, Collected collected = {});

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
    Collected collected_;
};

}  // namespace quellin::console
