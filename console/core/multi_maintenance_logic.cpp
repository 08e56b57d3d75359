#include "multi_maintenance_logic.h"

#include "clock.h"
#include "codec.h"
#include "device_book.h"
#include "device_jobs.h"

namespace quellin::console {

MultiMaintenanceLogic::MultiMaintenanceLogic(std::vector<CBase*> devices,
                                             const MaintenanceRunner& runner, Questions& questions,
                                             Reporter& reporter, BusyFlag& busy,
                                             std::function<void()> saveAndRefresh)
    : devices_(std::move(devices)),
      tools_{runner, questions, reporter, busy, std::move(saveAndRefresh)} {}

bool MultiMaintenanceLogic::Confirm(const char* question) {
    return tools_.reporter.Ask(cp932::Jp(question), MsgButtons::YesNo, MsgAnswer::No) ==
           MsgAnswer::Yes;
}

bool MultiMaintenanceLogic::Run(Operation operation, const std::string& scheduleTime) {
    if (!Confirm("複数装置の操作を行うため、処理に時間がかかる場合があります。\r\n"
                 "実行してよろしいですか？"))
        return false;
    BusyFlag::Guard guard(tools_.busy);
    if (!guard.taken())
        return false;
    // One device after the other, as the dialog always went.
    const auto outcomes =
        RunOnEach(tools_.runner, devices_, operation, RunMode::kUnattended, scheduleTime, 1);
    tools_.saveAndRefresh();
    tools_.reporter.Report("", RunSummary(operation, outcomes), MSG_BOX);
    return true;
}

void MultiMaintenanceLogic::RegisterSchedule(const std::string& intervalText,
                                             const std::string& countText) {
    if (!Confirm("複数装置のログ採取を行うため、スケジュール実行時、処理に時間がかかる場合があり"
                 "ます。\r\n登録してよろしいですか？"))
        return;
    const int interval = IntervalSecondsOf(intervalText);
    const int count = CountOf(countText);
    const std::int64_t now = CurrentClock().Now();
    for (CBase* device : devices_) {
        DeviceBook::SetLogSchedule(*device, now, interval, count);
        tools_.reporter.Report(device->name,
                               cp932::Jp("ログ採取のスケジュール実行を終了しました。"), MSG_LOG);
    }
    tools_.saveAndRefresh();
    tools_.reporter.Report("", cp932::Jp("複数装置のログ採取スケジュール実行を終了しました。"),
                           MSG_BOX);
}

void MultiMaintenanceLogic::DeleteSchedule() {
    if (!tools_.questions.ConfirmDeletion(Deletion::kLogSchedule, {}).yes)
        return;
    for (CBase* device : devices_) {
        DeviceBook::ClearLogSchedule(*device);
        tools_.reporter.Report(device->name, cp932::Jp("ログ採取のスケジュールを削除しました。"),
                               MSG_LOG);
    }
    tools_.saveAndRefresh();
    tools_.reporter.Report("", cp932::Jp("複数装置のログ採取スケジュールを削除しました。"),
                           MSG_BOX);
}

}  // namespace quellin::console
