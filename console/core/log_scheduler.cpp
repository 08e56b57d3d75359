#include "log_scheduler.h"

#include "clock.h"

namespace quellin::console {

LogScheduler::LogScheduler(DeviceBook& book, const MaintenanceRunner& runner, BusyFlag& busy,
                           std::function<bool()> save, Collected collected)
    : book_(book),
      runner_(runner),
      busy_(busy),
      save_(std::move(save)),
      collected_(std::move(collected)) {}

void LogScheduler::DropExpiredSchedules() {
    if (book_.DropExpiredLogSchedules(CurrentClock().Now()))
        save_();
}

void LogScheduler::RunDueLogCollections() {
    BusyFlag::Guard guard(busy_);
    if (!guard.taken())
        return;
    for (CBase* device : book_.DueLogCollections(CurrentClock().Now())) {
        const Outcome outcome = runner_.Run(*device, Operation::kCollectLog, RunMode::kSchedule);
        if (collected_)
            collected_(*device, outcome);
        DeviceBook::AdvanceLogSchedule(*device, CurrentClock().Now());
        save_();
    }
}

}  // namespace quellin::console
