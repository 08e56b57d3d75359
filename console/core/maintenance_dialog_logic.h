// What the maintenance dialog does for one device: the three last-time
// displays, the five operation buttons (each one run of the maintenance
// runner, attended) and the repeating log-collection schedule.
#pragma once

#include "device_registry.h"
#include "maintenance_runner.h"
#include "operation_waiter.h"
#include "questions.h"
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

// The interval seconds and count of the two lists' visible texts (UTF-8);
// 0 for a text not in its table.
int IntervalSecondsOf(const std::string& text);
int CountOf(const std::string& text);

// What both maintenance dialogs work with: the runner, the operator, the
// busy flag, and what writes base.db and redraws the devices' rows.
struct MaintenanceTools {
    const MaintenanceRunner& runner;
    Questions& questions;
    Reporter& reporter;
    BusyFlag& busy;
    std::function<void()> saveAndRefresh;
};

class MaintenanceDialogLogic {
public:
    MaintenanceDialogLogic(CBase& device, const MaintenanceRunner& runner, Questions& questions,
                           Reporter& reporter, BusyFlag& busy,
                           std::function<void()> saveAndRefresh);

    // "メンテナンス   < NAME >"
    std::string Caption() const;

    // One of the five operation buttons.  True when the operation was done:
    // the device was then stamped, saved and shown (through the stamp
    // display) before the closing message.
    bool Run(Operation operation, const std::string& scheduleTime = {});

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
    MaintenanceTools tools_;
    std::function<void()> showStamp_;
};

}  // namespace quellin::console
