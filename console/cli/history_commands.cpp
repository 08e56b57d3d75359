// history and diff: the stored versions of a device's configuration.
#include "codec.h"
#include "command.h"
#include "config_history.h"
#include "device_json.h"

#include <ostream>

namespace quellin::cli {
namespace {

// The device the first operand names and the history to read it from;
// nullopt with the exit status in `status`.
struct DeviceHistory {
    std::string name;  // CP932
    std::unique_ptr<history::ConfigHistory> store;
};

std::optional<DeviceHistory> OpenDeviceHistory(CommandContext& c, int& status) {
    auto installation = c.Open(console::Installation::Access::kRead, status);
    if (!installation)
        return std::nullopt;
    auto name = c.Cp932("the device name", c.operands()[0]);
    if (!name || !installation->Find(*name)) {
        status = name ? c.Usage("no device named " + c.operands()[0]) : kExitUsage;
        return std::nullopt;
    }
    std::string error;
    auto store = history::ConfigHistory::Open(cp932::ToPath(installation->layout().historyFolder()),
                                              history::ConfigHistory::Access::kRead, error);
    if (!store) {
        status = c.Fail(cp932::ToUtf8Lossy(error));
        return std::nullopt;
    }
    return DeviceHistory{*name, std::move(store)};
}

int History(CommandContext& c) {
    if (c.operands().size() != 1)
        return c.Usage("history takes one device name");
    int status = kExitOk;
    auto device = OpenDeviceHistory(c, status);
    if (!device)
        return status;
    std::string error;
    auto versions = device->store->History(device->name, error);
    if (!versions)
        return c.Fail(cp932::ToUtf8Lossy(error));
    if (versions->empty())
        return c.Fail("no configuration of " + c.operands()[0] + " is stored yet");
    if (!c.json())
        c.out() << "time\tcommit\tlines\n";
    for (const auto& version : *versions) {
        if (c.json())
            c.out() << console::VersionJson(device->name, version) << "\n";
        else
            c.out() << TimeText(version.time) << "\t" << history::ShortCommit(version.commit)
                    << "\t+" << version.changes.added << " -" << version.changes.removed << "\n";
    }
    return kExitOk;
}

int Diff(CommandContext& c) {
    if (c.operands().empty() || c.operands().size() > 3)
        return c.Usage("diff takes a device name and at most two versions");
    int status = kExitOk;
    auto device = OpenDeviceHistory(c, status);
    if (!device)
        return status;
    const std::vector<std::string> revisions(c.operands().begin() + 1, c.operands().end());
    std::string error;
    auto diff = device->store->Diff(device->name, revisions, error);
    if (!diff)
        return c.Fail(cp932::ToUtf8Lossy(error));
    if (c.json())
        c.out() << console::DiffJson(device->name, revisions.empty() ? "" : revisions[0],
                                     revisions.size() < 2 ? "" : revisions[1], *diff)
                << "\n";
    else
        c.out() << cp932::ToUtf8Lossy(*diff);
    return kExitOk;
}

}  // namespace

std::vector<Command> HistoryCommands() {
    return {
        {"history",
         "the stored versions of a device's configuration",
         "usage: quellin history NAME [--json] [--home DIR]\n"
         "Lists the stored versions, newest first: time, commit and lines changed.\n"
         "--json: one object per version (name, time, commit, added, removed).\n",
         {"home"},
         {"json"},
         false,
         History},
        {"diff",
         "a stored change as a unified diff",
         "usage: quellin diff NAME [REV [REV]] [--json] [--home DIR]\n"
         "The last change of the device; with one REV from it to the newest; with two\n"
         "from the first to the second.  A REV is one of the device's own versions (a\n"
         "commit id or enough of its start).  --json: one object (name, from, to, diff).\n",
         {"home"},
         {"json"},
         false,
         Diff},
    };
}

}  // namespace quellin::cli
