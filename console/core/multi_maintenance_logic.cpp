#include "multi_maintenance_logic.h"

#include "clock.h"
#include "codec.h"

namespace quellin::console {
namespace {

const char* SummaryOf(MaintenanceAction action) {
    switch (action) {
        case MaintenanceAction::kApplyNow:
            return "複数装置の即時反映を終了しました。";
        case MaintenanceAction::kApplyScheduled:
            return "複数装置の構成定義スケジュール反映を終了しました。";
        case MaintenanceAction::kUpdateNow:
            return "複数装置のソフトウェア更新を終了しました。";
        case MaintenanceAction::kUpdateScheduled:
            return "複数装置のソフトウェアスケジュール実行を終了しました。";
        case MaintenanceAction::kCollectNow:
            return "複数装置のログ採取を終了しました。";
    }
    return "";
}

}  // namespace

MultiMaintenanceLogic::MultiMaintenanceLogic(std::vector<CBase*> devices, Maintenance& maintenance,
                                             Reporter& reporter, OperationWaiter& waiter,
                                             BusyFlag& busy, std::function<void()> saveAndRefresh)
    : devices_(std::move(devices)),
      maintenance_(maintenance),
      reporter_(reporter),
      waiter_(waiter),
      busy_(busy),
      saveAndRefresh_(std::move(saveAndRefresh)) {}

bool MultiMaintenanceLogic::Run(MaintenanceAction action, const std::string& scheduleTime) {
    MsgAnswer answer = reporter_.Ask(cp932::Jp("複数装置の操作を行うため、処理に時間がかかる場合が"
                                               "あります。\r\n実行してよろしいですか？"),
                                     MsgButtons::YesNo, MsgAnswer::No);
    if (answer != MsgAnswer::Yes)
        return false;
    BusyFlag::Guard guard(busy_);
    if (!guard.taken())
        return false;

    const MaintenanceStep& step = StepFor(action);
    bool failed = false;
    for (CBase* device : devices_) {
        const MaintenanceTarget target =
            TargetFor(*device, step.scheduled ? scheduleTime : std::string());
        int result = -1;
        waiter_.RunForDevice(device->name, cp932::Jp("しばらくお待ちください ･･･"), [&] {
            reporter_.Report(device->name, cp932::Jp(step.opening), MSG_LOG);
            if (!maintenance_.CheckAddress(target, true))
                return;
            if (step.needsConfig && !maintenance_.CheckConfigFile(target, true))
                return;
            result = RunMaintenance(maintenance_, action, target, true);
        });
        if (result > 0) {
            device->*step.stamp = CurrentClock().Now();
            reporter_.Report(device->name, cp932::Jp(step.closing), MSG_LOG);
        } else if (result < 0) {
            failed = true;
        }
    }
    saveAndRefresh_();
    reporter_.Report("", cp932::Jp(failed ? "処理に失敗した装置があります。" : SummaryOf(action)),
                     MSG_BOX);
    return true;
}

void MultiMaintenanceLogic::RegisterSchedule(const std::string& intervalText,
                                             const std::string& countText) {
    MsgAnswer answer =
        reporter_.Ask(cp932::Jp("複数装置のログ採取を行うため、スケジュール実行時、処理に時間がかか"
                                "る場合があります。\r\n登録してよろしいですか？"),
                      MsgButtons::YesNo, MsgAnswer::No);
    if (answer != MsgAnswer::Yes)
        return;
    const int interval = IntervalSecondsOf(intervalText);
    const int count = CountOf(countText);
    const std::int64_t now = CurrentClock().Now();
    for (CBase* device : devices_) {
        device->nextLogCollection = now + interval;
        device->logInterval = interval;
        device->logRepeatCount = count;
        reporter_.Report(device->name, cp932::Jp("ログ採取のスケジュール実行を終了しました。"),
                         MSG_LOG);
    }
    saveAndRefresh_();
    reporter_.Report("", cp932::Jp("複数装置のログ採取スケジュール実行を終了しました。"), MSG_BOX);
}

void MultiMaintenanceLogic::DeleteSchedule() {
    MsgAnswer answer =
        reporter_.Ask(cp932::Jp("ログ採取のスケジュールを削除します。よろしいですか？"),
                      MsgButtons::YesNo, MsgAnswer::No);
    if (answer != MsgAnswer::Yes)
        return;
    for (CBase* device : devices_) {
        device->nextLogCollection = 0;
        device->logInterval = 0;
        device->logRepeatCount = 0;
        reporter_.Report(device->name, cp932::Jp("ログ採取のスケジュールを削除しました。"),
                         MSG_LOG);
    }
    saveAndRefresh_();
    reporter_.Report("", cp932::Jp("複数装置のログ採取スケジュールを削除しました。"), MSG_BOX);
}

}  // namespace quellin::console
