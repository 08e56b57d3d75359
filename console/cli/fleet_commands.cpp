// inventory, backup and drift: every device (or those named) asked at once,
// reading base.db but never writing it, so they run beside the console.
#include "clock.h"
#include "codec.h"
#include "command.h"
#include "device_json.h"
#include "fleet_state.h"
#include "history_remote.h"
#include "metrics.h"
#include "notices.h"

#include <algorithm>
#include <functional>
#include <ostream>

namespace quellin::cli {
namespace {

using console::Installation;

// What a run found, kept for the web view; a file that cannot take it is
// told but changes nothing of the run's own result.
void Keep(CommandContext& c, const Result<void>& kept) {
    if (!kept)
        c.err() << "quellin: the fleet state was not kept: "
                << cp932::ToUtf8Lossy(OneLineDetail(kept.error())) << "\n";
}

int Inventory(CommandContext& c) {
    if (!c.operands().empty())
        return c.Usage("inventory takes no names: it lists every registered device");
    if (c.json() && c.Flag("csv"))
        return c.Usage("inventory takes --json or --csv, not both");
    if (!c.Start(Installation::Access::kRead, CommandContext::Devices::kEvery))
        return c.status();
    const console::RouterMaintenance router(c.installation().app(), c.timings());
    std::vector<console::InventoryRow> rows(c.devices().size());
    const auto outcomes =
        console::RunJobs(c.devices(), c.jobs(), [&](std::size_t i, CBase& d, std::stop_token s) {
            rows[i] = console::ProbeDevice(d, router, std::move(s));
            return console::OutcomeOf(rows[i]);
        });
    Keep(c, console::FleetState(c.Home()).RecordInventory(rows, CurrentClock().Now()));
    c.Tell([&](console::NoticeStates& states) {
        return console::InventoryNotices(rows, states, CurrentClock().Now());
    });
    if (c.Flag("csv"))
        c.out() << console::InventoryCsv(rows, console::CsvEncoding::kUtf8);
    else
        c.out() << (c.json() ? "" : console::InventoryHeading());
    for (const console::InventoryRow& row : rows)
        if (!c.Flag("csv"))
            c.out() << (c.json() ? console::InventoryJson(row) + "\n"
                                 : console::InventoryLine(row));
    return std::ranges::all_of(outcomes, &console::Outcome::done) ? kExitOk : kExitFailed;
}

// With a history remote, the history goes there after every run, whether
// the run stored anything or not: what an earlier push could not send goes
// now.  A push that fails is said and logged, and fails the run.
bool PushHistory(CommandContext& c, const history::ConfigHistory& store) {
    const history::HistoryRemote remote =
        history::ReadHistoryRemote(cp932::ToPath(c.installation().layout().settingsFile()));
    if (remote.url.empty())
        return true;
    const auto pushed = history::PushHistory(store.folder(), remote);
    if (pushed)
        return true;
    const std::string detail = remote.url + " " + OneLineDetail(pushed.error());
    c.installation().reporter().Report(console::kToolName,
                                       cp932::Jp("構成履歴を送れませんでした。") + " " + detail,
                                       console::MSG_LOG);
    c.err() << "quellin: the history was not pushed: " << cp932::ToUtf8Lossy(detail) << "\n";
    return false;
}

int Backup(CommandContext& c) {
    if (!c.Start(Installation::Access::kRead, CommandContext::Devices::kNamed))
        return c.status();
    // The history first: a folder that cannot take it ends the run before
    // any router is asked.
    auto store = c.OpenHistory(history::ConfigHistory::Access::kWrite);
    if (!store)
        return c.status();
    const console::RouterMaintenance router(c.installation().app(), c.timings());
    const auto results = console::RunEachKeeping<console::BackupResult>(
        c.devices(), c.jobs(),
        [&](CBase& device) {
            return console::BackUp(device, router, *store, c.installation().reporter(),
                                   CurrentClock().Now());
        },
        [&](auto& r, auto& result) {
            c.PrintEnd(r, console::BackupJson(r, result), console::BackupText(result));
        });
    Keep(c,
         console::FleetState(c.Home()).RecordBackups(c.devices(), results, CurrentClock().Now()));
    c.Tell(
        [&](console::NoticeStates& states) {
            return console::BackupNotices(c.devices(), results, states, CurrentClock().Now());
        },
        [&](std::vector<console::Notice>& notices) {
            for (console::Notice& n : notices)
                if (n.event == console::NoticeEvent::kChange)
                    if (auto diff = store->Diff(n.device, {}))
                        n.diff = std::move(*diff);
        });
    if (!c.json())
        c.out() << console::BackupSummary(results);
    const bool pushed = PushHistory(c, *store);
    return pushed && std::ranges::all_of(results, [](auto& r) { return r.outcome.done(); })
               ? kExitOk
               : kExitFailed;
}

int Drift(CommandContext& c) {
    if (!c.Start(Installation::Access::kRead, CommandContext::Devices::kNamed))
        return c.status();
    const console::RouterMaintenance router(c.installation().app(), c.timings());
    const auto results = console::RunEachKeeping<console::DriftResult>(
        c.devices(), c.jobs(),
        [&](CBase& device) {
            return console::CheckDrift(device, router, c.installation().reporter());
        },
        [&](auto& r, auto& result) {
            c.PrintEnd(r, console::DriftJson(r, result), console::DriftText(result));
        });
    Keep(c, console::FleetState(c.Home()).RecordDrifts(c.devices(), results, CurrentClock().Now()));
    c.Tell([&](console::NoticeStates& states) {
        return console::DriftNotices(c.devices(), results, states, CurrentClock().Now());
    });
    if (!c.json())
        c.out() << console::DriftSummary(results);
    const bool alike = std::ranges::all_of(results, [](auto& r) {
        return r.outcome.kind == console::OutcomeKind::kNothingToDo || (r.outcome.done() && r.same);
    });
    return alike ? kExitOk : kExitFailed;
}

}  // namespace

std::vector<Command> FleetCommands() {
    const std::string jobs = "--jobs N asks N devices at once.  Runs beside the console.\n";
    // clang-format off
    return {
        {"inventory",
         "usage: quellin inventory [--jobs N] [--json | --csv] [--prometheus FILE] [--home DIR]\n"
         "Verdicts: up-to-date, update-available, downgrade, gated, no-image, login-failed,\n"
         "unreachable.  --json objects: name, address, model, version, startup, image,\n"
         "image_version, verdict, reason.  Exit 1 when a device was not identified.\n"
         "--prometheus writes the fleet's metrics to FILE (textfile collector).\n" +
             jobs,
         {"home", "jobs", "prometheus"}, {"json", "csv"}, true, Inventory},
        {"backup",
         "usage: quellin backup (NAME... | --all) [--jobs N] [--json] [--prometheus FILE]\n"
         "       [--home DIR]\n"
         "--json objects: name, address, outcome, message, reason, seconds, stored, commit,\n"
         "added, removed.  Exit 1 when a device failed.  --prometheus writes the fleet's\n"
         "metrics to FILE (textfile collector).\n" +
             jobs,
         {"home", "jobs", "prometheus"}, {"all", "json"}, true, Backup},
        {"drift",
         "usage: quellin drift (NAME... | --all) [--jobs N] [--json] [--home DIR]\n"
         "--json objects: name, address, outcome, message, reason, seconds, same, diff.\n"
         "Exit 1 when a device differs or failed.\n" +
             jobs,
         {"home", "jobs"}, {"all", "json"}, true, Drift},
    };
    // clang-format on
}

}  // namespace quellin::cli
