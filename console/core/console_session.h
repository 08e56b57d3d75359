// The console from its start to its end, without windows: the settings and
// the conversion table, the device book, the maintenance runner and the log
// schedule, and the control of Syslogd and of a left-over web service.
// main() starts it before the main window shows; the window and the dialogs
// only show what it holds and pass the operator's commands on.
#pragma once

#include "installation.h"
#include "log_scheduler.h"
#include "maintenance.h"
#include "maintenance_runner.h"
#include "notices.h"
#include "operation_waiter.h"
#include "questions.h"
#include "report.h"
#include "syslog_control.h"
#include "web_service_control.h"

#include <optional>
#include <string>
#include <vector>

namespace quellin::console {

// What the session talks to outside itself.
struct ConsoleSeams {
    MessageBoxes& boxes;
    OperationWaiter& waiter;
    ProcessControl& processes;
    ServiceManager& services;
};

class ConsoleSession {
public:
    // Takes the installation's folder lock, reads the settings and the
    // conversion table and logs the start, unless the folder is busy
    // (installation().state()).  programFolder ends in "/".
    ConsoleSession(const std::string& programFolder, ConsoleSeams seams,
                   RouterTimings timings = {});

    // The start-up work, in the order the main window's start always did
    // it: base.db padded and loaded, a left-over web service removed (which
    // may take a minute), the schedules whose time passed while the console
    // was not running dropped.
    void Start();
    // Exit from the menu, the button or the close box: Syslogd stopped, the
    // exit logged.  The end of the desktop session, or SIGTERM: Syslogd
    // stopped and the web service removed, no exit line.
    void Exit();
    void EndOfDesktopSession();

    // The main window's buttons on the selected rows.  設定 (or a double
    // click): the one row whose settings open; メンテナンス: the named rows
    // to maintain, in list order.  Nothing, after telling the operator why.
    std::optional<int> RowForSettings(const std::vector<int>& selectedRows);
    std::vector<int> RowsForMaintenance(std::vector<int> selectedRows);

    Installation& installation() { return installation_; }
    ConsoleApp& app() { return installation_.app(); }
    Reporter& reporter() { return installation_.reporter(); }
    Questions& questions() { return questions_; }
    DeviceBook& book() { return installation_.book(); }
    const RouterMaintenance& router() const { return router_; }
    const MaintenanceRunner& runner() const { return runner_; }
    BusyFlag& busy() { return busy_; }
    LogScheduler& scheduler() { return scheduler_; }
    SyslogControl& syslog() { return syslog_; }
    WebServiceControl& webService() { return webService_; }

private:
    void TellCollection(const CBase& device, const Outcome& outcome);

    Installation installation_;
    MessageBoxQuestions questions_;
    RouterMaintenance router_;
    MaintenanceRunner runner_;
    BusyFlag busy_;
    // Before the scheduler that posts to it, so that it goes after it.
    NoticeQueue notices_;
    LogScheduler scheduler_;
    SyslogControl syslog_;
    WebServiceControl webService_;
};

}  // namespace quellin::console
