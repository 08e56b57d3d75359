#include "maintenance_dialog_logic.h"

#include "clock.h"
#include "codec.h"

#include <cstdio>

namespace quellin::console {

const ListChoice LogIntervalTable[6] = {{"10分おき", 10}, {"20分おき", 20}, {"30分おき", 30},
                                        {"40分おき", 40}, {"50分おき", 50}, {"60分おき", 60}};
const ListChoice LogCountTable[10] = {{"1回", 1}, {"2回", 2}, {"3回", 3}, {"4回", 4}, {"5回", 5},
                                      {"6回", 6}, {"7回", 7}, {"8回", 8}, {"9回", 9}, {"10回", 10}};

std::string MaintenanceTimeText(std::int64_t time) {
    if (time == 0)
        return cp932::Jp("未実施");
    return FormatLocalTime(time, "%Y/%m/%d %H:%M:%S");
}

std::string ScheduleDigits(int year, int month, int day, int hour, int minute) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%02d%02d%02d%02d%02d", year % 100, month, day, hour,
                  minute);
    return digits;
}

MaintenanceDialogLogic::MaintenanceDialogLogic(CBase& device, Maintenance& maintenance,
                                               Reporter& reporter, OperationWaiter& waiter,
                                               BusyFlag& busy, std::function<void()> saveAndRefresh)
    : device_(device),
      maintenance_(maintenance),
      reporter_(reporter),
      waiter_(waiter),
      busy_(busy),
      saveAndRefresh_(std::move(saveAndRefresh)) {}

std::string MaintenanceDialogLogic::Caption() const {
    return cp932::Jp("メンテナンス   < ") + device_.name + " >";
}

const MaintenanceStep& StepFor(MaintenanceAction action) {
    static const MaintenanceStep kSteps[] = {
        {"即時反映を開始しました。", "即時反映を終了しました。", &CBase::lastConfigTransfer, true,
         false},
        {"構成定義のスケジュール反映を開始しました。", "構成定義のスケジュール反映を終了しました。",
         &CBase::lastConfigTransfer, true, true},
        {"ソフトウェア更新を開始しました。", "ソフトウェア更新を終了しました。",
         &CBase::lastFirmwareUpdate, false, false},
        {"ソフトウェアのスケジュール実行を開始しました。",
         "ソフトウェアのスケジュール実行を終了しました。", &CBase::lastFirmwareUpdate, false, true},
        {"ログ採取を開始しました。", "ログ採取を終了しました。", &CBase::lastLogCollection, false,
         false},
    };
    return kSteps[static_cast<int>(action)];
}

int RunMaintenance(Maintenance& maintenance, MaintenanceAction action,
                   const MaintenanceTarget& target, bool unattended) {
    const bool scheduled = StepFor(action).scheduled;
    switch (action) {
        case MaintenanceAction::kApplyNow:
        case MaintenanceAction::kApplyScheduled:
            return maintenance.ApplyConfig(target, scheduled, unattended) ? 1 : -1;
        case MaintenanceAction::kUpdateNow:
        case MaintenanceAction::kUpdateScheduled:
            switch (maintenance.UpdateSoftware(target, scheduled, unattended)) {
                case kUpdateNoNewer:
                    return 0;
                case kUpdateFailed:
                    return -1;
                default:
                    return 1;
            }
        case MaintenanceAction::kCollectNow:
            return maintenance.CollectLog(target, unattended) ? 1 : -1;
    }
    return -1;
}

int IntervalSecondsOf(const std::string& text) {
    for (const ListChoice& c : LogIntervalTable)
        if (text == c.text)
            return c.value * 60;
    return 0;
}

int CountOf(const std::string& text) {
    for (const ListChoice& c : LogCountTable)
        if (text == c.text)
            return c.value;
    return 0;
}

bool MaintenanceDialogLogic::Run(Action action, const std::string& scheduleTime) {
    BusyFlag::Guard guard(busy_);
    if (!guard.taken())
        return false;
    const MaintenanceStep& step = StepFor(action);
    const MaintenanceTarget target =
        TargetFor(device_, step.scheduled ? scheduleTime : std::string());

    if (!maintenance_.CheckAddress(target, false))
        return false;
    if (step.needsConfig && !maintenance_.CheckConfigFile(target, false))
        return false;
    reporter_.Report(device_.name, cp932::Jp(step.opening), MSG_LOG);

    bool ok = false;
    waiter_.Run([&] {
        if (action == Action::kUpdateNow || action == Action::kUpdateScheduled) {
            // Only a finished update counts here; a declined one or no
            // newer software leaves the stamp alone.
            ok = maintenance_.UpdateSoftware(target, step.scheduled, false) == kUpdateDone;
        } else {
            ok = RunMaintenance(maintenance_, action, target, false) == 1;
        }
    });
    if (!ok)
        return false;
    device_.*step.stamp = CurrentClock().Now();
    saveAndRefresh_();
    // The new time is on show while the closing message is.
    if (showStamp_)
        showStamp_();
    reporter_.Report(device_.name, cp932::Jp(step.closing), MSG_LOG | MSG_BOX);
    return true;
}

std::optional<int> MaintenanceDialogLogic::intervalIndex() const {
    if (!scheduleRegistered())
        return 0;
    for (int i = 0; i < 6; ++i)
        if (LogIntervalTable[i].value == device_.logInterval / 60)
            return i;
    return std::nullopt;
}

std::optional<int> MaintenanceDialogLogic::countIndex() const {
    if (!scheduleRegistered())
        return 0;
    for (int i = 0; i < 10; ++i)
        if (LogCountTable[i].value == device_.logRepeatCount)
            return i;
    return std::nullopt;
}

std::string MaintenanceDialogLogic::nextRunText() const {
    if (!scheduleRegistered())
        return cp932::Jp("未登録");
    return FormatLocalTime(device_.nextLogCollection, "%Y/%m/%d %H:%M:%S");
}

std::string MaintenanceDialogLogic::scheduleButtonText() const {
    return cp932::Jp(scheduleRegistered() ? "スケジュール削除" : "スケジュール実行");
}

void MaintenanceDialogLogic::ToggleSchedule(const std::string& intervalText,
                                            const std::string& countText) {
    if (!scheduleRegistered()) {
        const int interval = IntervalSecondsOf(intervalText);
        device_.nextLogCollection = CurrentClock().Now() + interval;
        device_.logInterval = interval;
        device_.logRepeatCount = CountOf(countText);
        saveAndRefresh_();
        reporter_.Report(device_.name, cp932::Jp("ログ採取のスケジュール実行を終了しました。"),
                         MSG_LOG | MSG_BOX);
        return;
    }
    MsgAnswer answer =
        reporter_.Ask(cp932::Jp("ログ採取のスケジュールを削除します。よろしいですか？"),
                      MsgButtons::YesNo, MsgAnswer::No);
    if (answer != MsgAnswer::Yes)
        return;
    device_.nextLogCollection = 0;
    device_.logInterval = 0;
    device_.logRepeatCount = 0;
    saveAndRefresh_();
    reporter_.Report(device_.name, cp932::Jp("ログ採取のスケジュールを削除しました。"),
                     MSG_LOG | MSG_BOX);
}

}  // namespace quellin::console
