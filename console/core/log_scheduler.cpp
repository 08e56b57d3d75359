#include "log_scheduler.h"

#include "clock.h"
#include "codec.h"

#include <algorithm>

namespace quellin::console {

LogScheduler::LogScheduler(CList<CBase>& devices, Maintenance& maintenance, Reporter& reporter,
                           OperationWaiter& waiter, BusyFlag& busy, std::function<bool()> save)
    : devices_(devices),
      maintenance_(maintenance),
      reporter_(reporter),
      waiter_(waiter),
      busy_(busy),
      save_(std::move(save)) {}

void LogScheduler::DropExpiredSchedules() {
    const std::int64_t now = CurrentClock().Now();
    bool changed = false;
    for (CBase& device : devices_) {
        if (!Scheduled(device) || now < device.nextLogCollection)
            continue;
        device.logInterval = 0;
        device.nextLogCollection = 0;
        device.logRepeatCount = 0;
        changed = true;
    }
    if (changed)
        save_();
}

void LogScheduler::RunDueLogCollections() {
    BusyFlag::Guard guard(busy_);
    if (!guard.taken())
        return;
    const std::int64_t now = CurrentClock().Now();
    std::vector<CBase*> due;
    for (CBase& device : devices_) {
        if (Scheduled(device) && now >= device.nextLogCollection)
            due.push_back(&device);
    }
    std::stable_sort(due.begin(), due.end(), [](const CBase* a, const CBase* b) {
        if (a->nextLogCollection != b->nextLogCollection)
            return a->nextLogCollection < b->nextLogCollection;
        return a->row < b->row;
    });
    for (CBase* device : due)
        RunScheduledLogCollection(*device);
}

void LogScheduler::RunScheduledLogCollection(CBase& device) {
    const MaintenanceTarget target{device.address, device.password, {}, {}, device.name};
    bool ok = false;
    waiter_.RunForDevice(
        device.name, cp932::Jp("ログ採取スケジュール実行中。しばらくお待ちください ･･･"), [&] {
            reporter_.Report(device.name, cp932::Jp("[スケジュール実行] ログ採取を開始しました。"),
                             MSG_LOG);
            ok = maintenance_.CheckAddress(target, true) && maintenance_.CollectLog(target, true);
        });
    device.lastLogCollection = CurrentClock().Now();
    if (ok) {
        reporter_.Report(device.name, cp932::Jp("[スケジュール実行] ログ採取を終了しました。"),
                         MSG_LOG);
    }
    if (device.logRepeatCount == 1) {
        device.logInterval = 0;
        device.nextLogCollection = 0;
    } else {
        device.nextLogCollection += device.logInterval;
    }
    device.logRepeatCount -= 1;
    save_();
}

}  // namespace quellin::console
