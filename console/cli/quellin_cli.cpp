#include "quellin_cli.h"

#include "timing_options.h"

#include <algorithm>
#include <iterator>
#include <ostream>

namespace quellin::cli {
namespace {

const std::vector<Command>& Commands() {
    static const std::vector<Command> commands = [] {
        std::vector<Command> all;
        for (auto family : {RouterCommands, RegistrationCommands, MaintenanceCommands,
                            FleetCommands, HistoryCommands, WebUserCommands, SyslogCommands})
            std::ranges::move(family(), std::back_inserter(all));
        return all;
    }();
    return commands;
}

void PrintUsage(std::ostream& out) {
    out << "usage: quellin COMMAND [ARGUMENTS]   (quellin COMMAND --help tells more)\n";
    for (const Command& command : Commands())
        out << "  " << command.usage.substr(0, command.usage.find('\n') + 1);
    out << "\n"
           "--home DIR names the installation (default: the folder of this program).  Commands\n"
           "that report devices print a table, or with --json one JSON object per line.\n"
           "Exit status: 0 done, 1 a device, router or file failed (or an update was\n"
           "declined), 2 wrong command line or no such device, 3 the console or another\n"
           "quellin works on the installation folder.\n"
           "\n"
           "Test options of the commands that talk to routers, for simulated routers:\n";
    for (const console::TimingOption& option : console::TimingOptions())
        out << "  --" << option.name << " N\n";
}

}  // namespace

int RunQuellin(const std::vector<std::string>& args, const std::string& defaultHome,
               std::ostream& out, std::ostream& err) {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
        PrintUsage(out);
        return kExitOk;
    }
    const Command* command = nullptr;
    for (const Command& candidate : Commands())
        if (!args.empty() && args[0] == candidate.name)
            command = &candidate;
    if (command == nullptr) {
        err << "quellin: " << (args.empty() ? "no command given" : "unknown command " + args[0])
            << "\n";
        PrintUsage(err);
        return kExitUsage;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (std::ranges::find(rest, "--help") != rest.end() ||
        std::ranges::find(rest, "-h") != rest.end()) {
        out << command->usage;
        return kExitOk;
    }
    CommandContext context(*command, defaultHome, out, err);
    if (!context.Parse(rest)) {
        err << command->usage;
        return kExitUsage;
    }
    return command->run(context);
}

}  // namespace quellin::cli
