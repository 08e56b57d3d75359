// apply-config, update-firmware and collect-log: the console's maintenance
// operations on the named devices, their questions answered in advance.
#include "clock.h"
#include "codec.h"
#include "command.h"
#include "device_json.h"
#include "planned_time.h"

#include <algorithm>
#include <ostream>

namespace quellin::cli {
namespace {

using console::Operation;

Operation OperationOf(const std::string& command, bool scheduled) {
    if (command == "apply-config")
        return scheduled ? Operation::kApplyConfigAt : Operation::kApplyConfig;
    if (command == "update-firmware")
        return scheduled ? Operation::kUpdateFirmwareAt : Operation::kUpdateFirmware;
    return Operation::kCollectLog;
}

int Maintain(CommandContext& c) {
    const std::string at = c.Option("at").value_or("");
    if (auto problem =
            at.empty() ? std::nullopt : console::PlannedTimeProblem(at, CurrentClock().Now()))
        return c.Usage(*problem);
    if (!c.Start(console::Installation::Access::kWrite, CommandContext::Devices::kNamed))
        return c.status();
    const Operation operation = OperationOf(c.command().name, !at.empty());
    console::RouterMaintenance router(c.installation().app(), c.timings());
    console::AnsweredQuestions answers(c.Flag("yes"));
    console::OperationWaiter waiter;
    const console::MaintenanceRunner runner(router, c.installation().reporter(), answers, waiter);
    const auto outcomes = console::RunOnEach(
        runner, c.devices(), operation, console::RunMode::kAnsweredInAdvance, at, c.jobs(),
        [&](const console::DeviceResult& r) {
            c.PrintEnd(r, console::OperationJson(r, operation), OutcomeText(r.outcome));
        });
    if (!c.installation().Save())
        return c.Fail("cannot write " + cp932::ToUtf8Lossy(c.installation().app().registryPath()));
    if (!c.json())
        c.out() << cp932::ToUtf8Lossy(console::RunSummary(operation, outcomes)) << "\n";
    // A planned operation usually runs from a timer nobody watches.
    if (!at.empty())
        c.Tell([&](console::NoticeStates& states) {
            std::vector<console::Notice> notices;
            for (std::size_t i = 0; i < outcomes.size() && i < c.devices().size(); ++i)
                for (console::Notice& n :
                     console::WorkNotices(console::NoticeWork::kOperation, *c.devices()[i],
                                          outcomes[i], states, CurrentClock().Now()))
                    notices.push_back(std::move(n));
            return notices;
        });
    return std::ranges::any_of(outcomes, &console::Outcome::failsRun) ? kExitFailed : kExitOk;
}

}  // namespace

std::vector<Command> MaintenanceCommands() {
    const std::string names = " NAME... [--jobs N] [--json] [--home DIR]";
    const std::string notes =
        "Each device's line: done, nothing-to-do, declined or failed, with the message the\n"
        "log keeps and the reason.  --json objects: name, address, outcome, message, reason,\n"
        "seconds, operation.  --at: a local time the router acts at.\n";
    // clang-format off
    return {
        {"apply-config",
         "usage: quellin apply-config" + names + " [--at YYMMDDHHMM]\n" + notes,
         {"home", "at", "jobs"}, {"json"}, true, Maintain},
        {"update-firmware",
         "usage: quellin update-firmware" + names + " [--at YYMMDDHHMM] [--yes]\n" + notes +
             "An older version than a device runs is given only with --yes.\n",
         {"home", "at", "jobs"}, {"json", "yes"}, true, Maintain},
        {"collect-log",
         "usage: quellin collect-log" + names + "\n" + notes,
         {"home", "jobs"}, {"json"}, true, Maintain},
    };
    // clang-format on
}

}  // namespace quellin::cli
