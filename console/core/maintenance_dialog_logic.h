// What the maintenance dialog does for one device: the three last-time
// displays, the five operation buttons with their checks, log lines, stamps
// and messages, and the repeating log-collection schedule.
#pragma once

#include "device_registry.h"
#include "maintenance.h"
#include "operation_waiter.h"
#include "report.h"

#include <functional>
#include <optional>
#include <string>

namespace quellin::console {

struct ListChoice {
    const char* text;  // UTF-8 as shown
    int value;
};
// Interval texts and minutes; count texts and counts.
extern const ListChoice LogIntervalTable[6];
extern const ListChoice LogCountTable[10];

// "未実施" for 0, else local time "%Y/%m/%d %H:%M:%S" (CP932).
std::string MaintenanceTimeText(std::int64_t time);

// The planned time as the router takes it: "%y%m%d" of the date and "%H%M"
// of the time.
std::string ScheduleDigits(int year, int month, int day, int hour, int minute);

enum class MaintenanceAction {
    kApplyNow,
    kApplyScheduled,
    kUpdateNow,
    kUpdateScheduled,
    kCollectNow
};

// What one operation button does: its log lines, the field it stamps, and
// whether it needs the configuration file.
struct MaintenanceStep {
    const char* opening;
    const char* closing;
    std::int64_t CBase::*stamp;
    bool needsConfig;
    bool scheduled;
};
const MaintenanceStep& StepFor(MaintenanceAction action);

// Runs the action's operation unattended or not: 1 success, 0 neither (no
// newer software), -1 failure.
int RunMaintenance(Maintenance& maintenance, MaintenanceAction action,
                   const MaintenanceTarget& target, bool unattended);

// The interval seconds and count of the two lists' visible texts (UTF-8);
// 0 for a text not in its table.
int IntervalSecondsOf(const std::string& text);
int CountOf(const std::string& text);

class MaintenanceDialogLogic {
public:
    using Action = MaintenanceAction;

    MaintenanceDialogLogic(CBase& device, Maintenance& maintenance, Reporter& reporter,
                           OperationWaiter& waiter, BusyFlag& busy,
                           std::function<void()> saveAndRefresh);

    // "メンテナンス   < NAME >"
    std::string Caption() const;

    // One of the five operation buttons.  True when the operation succeeded:
    // the device was then stamped, saved and shown (through the stamp
    // display) before the closing message.
    bool Run(Action action, const std::string& scheduleTime = {});

    // What shows a new stamp in the dialog's time edits; the dialog sets it
    // while it is open.
    void setStampDisplay(std::function<void()> show) { showStamp_ = std::move(show); }

    // Schedule state shown in the log-collection group.
    bool scheduleRegistered() const { return device_.logInterval != 0; }
    // Index of the stored interval and count in their tables, or nullopt
    // when the list is left as it is.
    std::optional<int> intervalIndex() const;
    std::optional<int> countIndex() const;
    std::string nextRunText() const;         // CP932
    std::string scheduleButtonText() const;  // CP932

    // Button 1037 with the visible texts of the two lists (UTF-8): registers
    // or, after the question, deletes the schedule.
    void ToggleSchedule(const std::string& intervalText, const std::string& countText);

    const CBase& device() const { return device_; }

private:
    CBase& device_;
    Maintenance& maintenance_;
    Reporter& reporter_;
    OperationWaiter& waiter_;
    BusyFlag& busy_;
    std::function<void()> saveAndRefresh_;
    std::function<void()> showStamp_;
};

}  // namespace quellin::console
