#include "maintenance_dialog_logic.h"

#include "clock.h"
#include "codec.h"
#include "device_book.h"

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

namespace {

// The entry of the table with the text or the value; nullopt for none.
template <std::size_t N, typename Match>
std::optional<int> IndexIn(const ListChoice (&table)[N], Match match) {
    for (std::size_t i = 0; i < N; ++i)
        if (match(table[i]))
            return static_cast<int>(i);
    return std::nullopt;
}

template <std::size_t N>
int ValueOf(const ListChoice (&table)[N], const std::string& text) {
    auto index = IndexIn(table, [&](const ListChoice& c) { return text == c.text; });
    return index ? table[*index].value : 0;
}

}  // namespace

int IntervalSecondsOf(const std::string& text) {
    return ValueOf(LogIntervalTable, text) * 60;
}

int CountOf(const std::string& text) {
    return ValueOf(LogCountTable, text);
}

MaintenanceDialogLogic::MaintenanceDialogLogic(CBase& device, const MaintenanceRunner& runner,
                                               Questions& questions, Reporter& reporter,
                                               BusyFlag& busy, std::function<void()> saveAndRefresh)
    : device_(device), tools_{runner, questions, reporter, busy, std::move(saveAndRefresh)} {}

std::string MaintenanceDialogLogic::Caption() const {
    return cp932::Jp("メンテナンス   < ") + device_.name + " >";
}

bool MaintenanceDialogLogic::Run(Operation operation, const std::string& scheduleTime) {
    BusyFlag::Guard guard(tools_.busy);
    if (!guard.taken())
        return false;
    // The new time is saved and on show while the closing message is.
    return tools_.runner
        .Run(device_, operation, RunMode::kAttended, scheduleTime,
             [this] {
                 tools_.saveAndRefresh();
                 if (showStamp_)
                     showStamp_();
             })
        .done();
}

std::optional<int> MaintenanceDialogLogic::intervalIndex() const {
    if (!scheduleRegistered())
        return 0;
    return IndexIn(LogIntervalTable,
                   [&](const ListChoice& c) { return c.value == device_.logInterval / 60; });
}

std::optional<int> MaintenanceDialogLogic::countIndex() const {
    if (!scheduleRegistered())
        return 0;
    return IndexIn(LogCountTable,
                   [&](const ListChoice& c) { return c.value == device_.logRepeatCount; });
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
        DeviceBook::SetLogSchedule(device_, CurrentClock().Now(), IntervalSecondsOf(intervalText),
                                   CountOf(countText));
        tools_.saveAndRefresh();
        tools_.reporter.Report(device_.name,
                               cp932::Jp("ログ採取のスケジュール実行を終了しました。"),
                               MSG_LOG | MSG_BOX);
        return;
    }
    if (!tools_.questions.ConfirmDeletion(Deletion::kLogSchedule, device_.name).yes)
        return;
    DeviceBook::ClearLogSchedule(device_);
    tools_.saveAndRefresh();
    tools_.reporter.Report(device_.name, cp932::Jp("ログ採取のスケジュールを削除しました。"),
                           MSG_LOG | MSG_BOX);
}

}  // namespace quellin::console
