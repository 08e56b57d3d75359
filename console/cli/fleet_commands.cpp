// inventory, backup and drift: every device (or those named) asked at once,
// reading base.db but never writing it, so they run beside the console.
#include "clock.h"
#include "codec.h"
#include "command.h"
#include "config_backup.h"
#include "device_json.h"
#include "inventory.h"

#include <algorithm>
#include <ostream>

namespace quellin::cli {
namespace {

using console::DeviceResult;
using console::Installation;

// What every fleet run starts from: --jobs, the router timings, the
// installation and its devices (those named, or --all; every one for
// the inventory).
struct FleetRun {
    int jobs = 1;
    console::RouterTimings timings;
    std::unique_ptr<Installation> installation;
    std::vector<CBase*> devices;
};

std::optional<FleetRun> StartFleetRun(CommandContext& c, int& status) {
    FleetRun run;
    auto jobs = c.Jobs();
    auto timings = c.Timings();
    if (!jobs || !timings) {
        status = kExitUsage;
        return std::nullopt;
    }
    run.jobs = *jobs;
    run.timings = *timings;
    run.installation = c.Open(Installation::Access::kRead, status);
    if (!run.installation)
        return std::nullopt;
    if (std::string(c.command().name) == "inventory") {
        run.devices = run.installation->Registered();
        return run;
    }
    auto named = c.Named(*run.installation, status);
    if (!named)
        return std::nullopt;
    run.devices = std::move(*named);
    return run;
}

// The history in the installation, or nullptr after saying why.
std::unique_ptr<history::ConfigHistory> OpenHistory(CommandContext& c,
                                                    const Installation& installation,
                                                    history::ConfigHistory::Access access) {
    std::string error;
    auto store = history::ConfigHistory::Open(cp932::ToPath(installation.layout().historyFolder()),
                                              access, error);
    if (!store)
        c.Fail(cp932::ToUtf8Lossy(error));
    return store;
}

std::string Changes(const history::LineChanges& changes) {
    return "+" + std::to_string(changes.added) + " -" + std::to_string(changes.removed);
}

int Inventory(CommandContext& c) {
    if (!c.operands().empty())
        return c.Usage("inventory takes no names: it lists every registered device");
    const bool csv = c.Flag("csv");
    if (c.json() && csv)
        return c.Usage("inventory takes --json or --csv, not both");
    int status = kExitOk;
    auto run = StartFleetRun(c, status);
    if (!run)
        return status;
    const console::RouterMaintenance router(run->installation->app(), run->timings);
    std::vector<console::InventoryRow> rows(run->devices.size());
    const auto outcomes =
        console::RunJobs(run->devices, run->jobs, [&](std::size_t i, CBase& d, std::stop_token s) {
            rows[i] = console::ProbeDevice(d, router, std::move(s));
            return console::OutcomeOf(rows[i]);
        });
    if (csv)
        c.out() << console::InventoryCsv(rows, console::CsvEncoding::kUtf8);
    else if (!c.json())
        c.out() << "name\taddress\tmodel\tversion\tstartup\timage\tverdict\treason\n";
    for (const console::InventoryRow& row : rows) {
        if (c.json())
            c.out() << console::InventoryJson(row) << "\n";
        else if (!csv)
            c.out() << Cell(row.name) << "\t" << Cell(row.address) << "\t" << Cell(row.model)
                    << "\t" << row.version << "\t" << Cell(row.startupConfig) << "\t"
                    << Cell(console::CellText(row, console::InventoryColumn::kImage)) << "\t"
                    << console::VerdictKey(row.verdict) << "\t" << OneLine(row.reason) << "\n";
    }
    const bool failed = std::ranges::any_of(outcomes, [](auto& o) { return !o.done(); });
    return failed ? kExitFailed : kExitOk;
}

int Backup(CommandContext& c) {
    int status = kExitOk;
    auto run = StartFleetRun(c, status);
    if (!run)
        return status;
    // The history first: a folder that cannot take it ends the run before
    // any router is asked.
    auto store = OpenHistory(c, *run->installation, history::ConfigHistory::Access::kWrite);
    if (!store)
        return kExitFailed;
    const console::RouterMaintenance router(run->installation->app(), run->timings);
    std::vector<console::BackupResult> results(run->devices.size());
    console::RunJobs(
        run->devices, run->jobs,
        [&](std::size_t i, CBase& device, std::stop_token) {
            results[i] = console::BackUp(device, router, *store, run->installation->reporter(),
                                         CurrentClock().Now());
            return results[i].outcome;
        },
        [&](const DeviceResult& r) {
            const console::BackupResult& result = results[r.index];
            if (c.json())
                c.out() << console::BackupJson(r, result) << "\n" << std::flush;
            else if (!result.outcome.done())
                c.PrintDeviceLine(r, OutcomeText(result.outcome));
            else
                c.PrintDeviceLine(r, result.stored
                                         ? "stored " + history::ShortCommit(result.commit) + " (" +
                                               Changes(result.changes) + ")"
                                         : "unchanged");
        });
    const auto failed = std::ranges::count_if(results, [](auto& r) { return !r.outcome.done(); });
    const auto stored = std::ranges::count_if(results, [](auto& r) { return r.stored; });
    if (!c.json())
        c.out() << "backup: " << stored << " stored, " << std::ssize(results) - stored - failed
                << " unchanged, " << failed << " failed\n";
    return failed > 0 ? kExitFailed : kExitOk;
}

std::string DriftLine(const console::DriftResult& result) {
    if (result.outcome.kind == console::OutcomeKind::kNothingToDo)
        return "skipped (no configuration file is registered)";
    if (!result.outcome.done())
        return OutcomeText(result.outcome);
    return result.same ? "same" : "differs";
}

int Drift(CommandContext& c) {
    int status = kExitOk;
    auto run = StartFleetRun(c, status);
    if (!run)
        return status;
    const console::RouterMaintenance router(run->installation->app(), run->timings);
    std::vector<console::DriftResult> results(run->devices.size());
    console::RunJobs(
        run->devices, run->jobs,
        [&](std::size_t i, CBase& device, std::stop_token) {
            results[i] = console::CheckDrift(device, router, run->installation->reporter());
            return results[i].outcome;
        },
        [&](const DeviceResult& r) {
            if (c.json())
                c.out() << console::DriftJson(r, results[r.index]) << "\n" << std::flush;
            else
                c.PrintDeviceLine(r, DriftLine(results[r.index]));
        });
    std::size_t counts[4] = {};  // differ, same, skipped, failed
    for (const console::DriftResult& result : results) {
        const bool skipped = result.outcome.kind == console::OutcomeKind::kNothingToDo;
        const int kind = skipped ? 2 : !result.outcome.done() ? 3 : result.same ? 1 : 0;
        ++counts[kind];
        if (kind == 0 && !c.json())
            c.out() << "\n" << cp932::ToUtf8Lossy(result.diff);
    }
    if (!c.json())
        c.out() << (counts[0] > 0 ? "\n" : "") << "drift: " << counts[0] << " differ, " << counts[1]
                << " same, " << counts[2] << " without a configuration file, " << counts[3]
                << " failed\n";
    return counts[0] > 0 || counts[3] > 0 ? kExitFailed : kExitOk;
}

constexpr char kJobsNote[] =
    "--jobs N asks up to N devices at once (default 1).  Reads base.db but never\n"
    "writes it, so it runs beside the console.\n";

}  // namespace

std::vector<Command> FleetCommands() {
    return {
        {"inventory",
         "model, firmware and update verdict of every device",
         std::string("usage: quellin inventory [--jobs N] [--json | --csv] [--home DIR]\n"
                     "Identifies every registered device and prints its model, firmware version,\n"
                     "start-up configuration, the image an update would give it now and the\n"
                     "verdict: up-to-date, update-available, downgrade, gated, no-image,\n"
                     "login-failed, unreachable (with the reason).  --json: one object per\n"
                     "device (name, address, model, version, startup, image, image_version,\n"
                     "verdict, reason); --csv: the console's CSV in UTF-8.  Exit 1 when a device\n"
                     "could not be identified.\n") +
             kJobsNote,
         {"home", "jobs"},
         {"json", "csv"},
         true,
         Inventory},
        {"backup",
         "running configurations into the history, a version only when changed",
         std::string("usage: quellin backup (NAME... | --all) [--jobs N] [--json] [--home DIR]\n"
                     "Reads each device's running configuration and stores it in the history\n"
                     "(history/ in the installation) when it changed.  --json: one object per\n"
                     "device (name, address, outcome, message, reason, seconds, stored, commit,\n"
                     "added, removed).  Exit 1 when a device failed.\n") +
             kJobsNote,
         {"home", "jobs"},
         {"all", "json"},
         true,
         Backup},
        {"drift",
         "devices whose running configuration differs from their file",
         std::string("usage: quellin drift (NAME... | --all) [--jobs N] [--json] [--home DIR]\n"
                     "Holds each device's running configuration against its registered file\n"
                     "and prints the devices that differ, with the diff.  --json: one object\n"
                     "per device (name, address, outcome, message, reason, seconds, same,\n"
                     "diff).  Exit 1 when a device differs or failed.\n") +
             kJobsNote,
         {"home", "jobs"},
         {"all", "json"},
         true,
         Drift},
    };
}

}  // namespace quellin::cli
