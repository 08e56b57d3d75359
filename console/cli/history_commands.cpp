// history and diff: the stored versions of a device's configuration.
#include "codec.h"
#include "command.h"
#include "device_json.h"

#include <ostream>

namespace quellin::cli {
namespace {

// The history to read the first operand's device from; nullptr after
// saying why, with the exit status in the context.
std::unique_ptr<history::ConfigHistory> Open(CommandContext& c) {
    if (!c.Start(console::Installation::Access::kRead, CommandContext::Devices::kFirst))
        return nullptr;
    return c.OpenHistory(history::ConfigHistory::Access::kRead);
}

int History(CommandContext& c) {
    if (c.operands().size() != 1)
        return c.Usage("history takes one device name");
    auto store = Open(c);
    if (!store)
        return c.status();
    const std::string& name = c.devices().front()->name;
    auto versions = store->History(name);
    if (!versions)
        return c.Fail(cp932::ToUtf8Lossy(versions.error().detail));
    if (versions->empty())
        return c.Fail("no configuration of " + c.operands()[0] + " is stored yet");
    c.out() << (c.json() ? "" : console::VersionHeading());
    for (const auto& version : *versions)
        c.out() << (c.json() ? console::VersionJson(name, version) + "\n"
                             : console::VersionLine(version));
    return kExitOk;
}

int Diff(CommandContext& c) {
    if (c.operands().empty() || c.operands().size() > 3)
        return c.Usage("diff takes a device name and at most two versions");
    auto store = Open(c);
    if (!store)
        return c.status();
    const std::string& name = c.devices().front()->name;
    std::vector<std::string> revisions(c.operands().begin() + 1, c.operands().end());
    auto diff = store->Diff(name, revisions);
    if (!diff)
        return c.Fail(cp932::ToUtf8Lossy(diff.error().detail));
    revisions.resize(2);
    c.out() << (c.json() ? console::DiffJson(name, revisions[0], revisions[1], *diff) + "\n"
                         : cp932::ToUtf8Lossy(*diff));
    return kExitOk;
}

}  // namespace

std::vector<Command> HistoryCommands() {
    // clang-format off
    return {
        {"history",
         "usage: quellin history NAME [--json] [--home DIR]\n"
         "Newest first.  --json objects: name, time, commit, added, removed.\n",
         {"home"}, {"json"}, false, History},
        {"diff",
         "usage: quellin diff NAME [REV [REV]] [--json] [--home DIR]\n"
         "The last change; from REV to the newest; or from one REV to the other.  A REV is\n"
         "one of the device's versions.  --json object: name, from, to, diff.\n",
         {"home"}, {"json"}, false, Diff},
    };
    // clang-format on
}

}  // namespace quellin::cli
