// apply-config, update-firmware and collect-log: the console's maintenance
// operations on the named devices, answered in advance by the options.
#include "clock.h"
#include "codec.h"
#include "command.h"
#include "device_json.h"

#include <algorithm>
#include <ctime>
#include <ostream>

namespace quellin::cli {
namespace {

using console::Operation;

// The planned time as the dialogs make it: "%y%m%d%H%M" of a minute that
// exists in the local calendar (no 30 February) and has not passed yet;
// otherwise what is wrong with it.  The router would wait for ever for a
// time that never comes.
std::optional<std::string> ScheduleTimeProblem(const std::string& text, std::int64_t now) {
    if (text.size() != 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return "--at needs YYMMDDHHMM, e.g. 1712251030";
    auto part = [&](std::size_t at) { return std::stoi(text.substr(at, 2)); };
    std::tm planned{};
    planned.tm_year = 100 + part(0);
    planned.tm_mon = part(2) - 1;
    planned.tm_mday = part(4);
    planned.tm_hour = part(6);
    planned.tm_min = part(8);
    planned.tm_isdst = -1;
    std::tm normalised = planned;
    const std::time_t time = std::mktime(&normalised);
    if (time == -1 || normalised.tm_year != planned.tm_year ||
        normalised.tm_mon != planned.tm_mon || normalised.tm_mday != planned.tm_mday ||
        normalised.tm_hour != planned.tm_hour || normalised.tm_min != planned.tm_min)
        return "--at " + text + " is no time of the calendar (YYMMDDHHMM)";
    if (time < now - now % 60)
        return "--at " + text + " has passed already";
    return std::nullopt;
}

// The operations' questions, answered by the command line: a downgrade only
// with --yes.
class OptionAnswers final : public console::Questions {
public:
    explicit OptionAnswers(bool yes) : yes_(yes) {}
    console::Answer ConfirmFirmwareUpdate(const console::FirmwareUpdateQuestion& q) override {
        if (!q.downgrade || yes_)
            return {true};
        return {false, q.current + " to " + q.next +
                           " would be a downgrade; run again with --yes to allow it"};
    }
    console::Answer ConfirmDeletion(console::Deletion, const std::string&) override {
        return {false};
    }

private:
    bool yes_;
};

Operation OperationOf(const std::string& command, bool scheduled) {
    if (command == "apply-config")
        return scheduled ? Operation::kApplyConfigAt : Operation::kApplyConfig;
    if (command == "update-firmware")
        return scheduled ? Operation::kUpdateFirmwareAt : Operation::kUpdateFirmware;
    return Operation::kCollectLog;
}

int Maintain(CommandContext& c) {
    std::string scheduleTime;
    if (auto at = c.Option("at")) {
        if (auto problem = ScheduleTimeProblem(*at, CurrentClock().Now()))
            return c.Usage(*problem);
        scheduleTime = *at;
    }
    const Operation operation = OperationOf(c.command().name, !scheduleTime.empty());
    auto jobs = c.Jobs();
    auto timings = c.Timings();
    if (!jobs || !timings)
        return kExitUsage;
    int status = kExitOk;
    auto installation = c.Open(console::Installation::Access::kWrite, status);
    if (!installation)
        return status;
    auto devices = c.Named(*installation, status);
    if (!devices)
        return status;

    console::RouterMaintenance router(installation->app(), *timings);
    OptionAnswers answers(c.Flag("yes"));
    console::OperationWaiter waiter;
    const console::MaintenanceRunner runner(router, installation->reporter(), answers, waiter);
    const auto outcomes = console::RunOnEach(
        runner, *devices, operation, console::RunMode::kAnsweredInAdvance, scheduleTime, *jobs,
        [&](const console::DeviceResult& r) {
            if (c.json())
                c.out() << console::OperationJson(r, operation) << "\n" << std::flush;
            else
                c.PrintDeviceLine(r, OutcomeText(r.outcome));
        });
    if (!installation->Save())
        return c.Fail("cannot write " + cp932::ToUtf8Lossy(installation->layout().registry()));
    const bool failed =
        std::ranges::any_of(outcomes, [](const console::Outcome& o) { return o.failsRun(); });
    if (!c.json())
        c.out() << cp932::ToUtf8Lossy(console::RunSummary(operation, outcomes)) << "\n";
    return failed ? kExitFailed : kExitOk;
}

// What the three usages share.
constexpr char kRunNotes[] =
    "--jobs N works on up to N devices at once (default 1).  Each device's line tells\n"
    "its outcome (done, nothing-to-do, declined, failed) with the message the\n"
    "operation log keeps and, after it, the reason.  --json prints one object per\n"
    "device instead (name, address, outcome, message, reason, seconds, operation).\n";

}  // namespace

std::vector<Command> MaintenanceCommands() {
    const std::string names = " NAME... [--jobs N] [--json] [--home DIR]";
    return {
        {"apply-config",
         "pushes each device's configuration file, now or --at a time",
         "usage: quellin apply-config" + names + " [--at YYMMDDHHMM]\n" +
             "Uploads each device's registered configuration file and restarts the\n"
             "router from it now, or has the router do so at the planned local time.\n" +
             kRunNotes,
         {"home", "at", "jobs"},
         {"json"},
         true,
         Maintain},
        {"update-firmware",
         "gives each device the newest image for its model",
         "usage: quellin update-firmware" + names + " [--at YYMMDDHHMM] [--yes]\n" +
             "Uploads the newest image of the software folder for each device's model and\n"
             "restarts it now or at the planned local time.  An older version than the\n"
             "device runs is given only with --yes.\n" +
             kRunNotes,
         {"home", "at", "jobs"},
         {"json", "yes"},
         true,
         Maintain},
        {"collect-log",
         "collects each device's tech-support output into the log folder",
         "usage: quellin collect-log" + names + "\n" +
             "Stores each device's diagnostic output as <name>-<time>.log in the log folder.\n" +
             kRunNotes,
         {"home", "jobs"},
         {"json"},
         true,
         Maintain},
    };
}

}  // namespace quellin::cli
