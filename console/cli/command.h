// What every quellin command has: its own options, read from the command
// line; the installation folder; the routers' timings; how many devices at
// once; the output form; and one way to say what went wrong.  Each command
// is a spec (its options and its own usage) and a function over this
// context; the families live in files of their own.
#pragma once

#include "device_jobs.h"
#include "installation.h"
#include "maintenance.h"

#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quellin::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a device, a router or a file failed
inline constexpr int kExitUsage = 2;   // the command line is wrong, or names no device
inline constexpr int kExitBusy = 3;    // the console (or another run) holds the folder

class CommandContext;

struct Command {
    const char* name;
    const char* summary;            // one line of the general usage
    std::string usage;              // the command's own usage, for --help
    std::set<std::string> options;  // each taking a value
    std::set<std::string> flags;
    bool toRouters;  // takes the test options of the router dialogues
    int (*run)(CommandContext&);
};

// The commands by family.
std::vector<Command> RouterCommands();        // identify, firmware-info
std::vector<Command> RegistrationCommands();  // devices, register, unregister
std::vector<Command> MaintenanceCommands();   // apply-config, update-firmware, collect-log
std::vector<Command> FleetCommands();         // inventory, backup, drift
std::vector<Command> HistoryCommands();       // history, diff

class CommandContext {
public:
    CommandContext(const Command& command, std::string defaultHome, std::ostream& out,
                   std::ostream& err);

    // Reads the arguments after the command's name; false after saying why.
    bool Parse(const std::vector<std::string>& args);

    const Command& command() const { return command_; }
    const std::vector<std::string>& operands() const { return operands_; }
    std::optional<std::string> Option(const std::string& name) const;
    bool Flag(const std::string& name) const { return flags_.contains(name); }
    bool json() const { return Flag("json"); }
    std::ostream& out() { return out_; }
    std::ostream& err() { return err_; }

    // "quellin: PROBLEM" on standard error; the usage and failure statuses.
    int Usage(const std::string& problem);
    int Fail(const std::string& problem);

    // The installation folder, ending in "/" (CP932).
    std::string Home() const;
    // The operand (UTF-8) as CP932; nullopt after saying it has no form.
    std::optional<std::string> Cp932(const std::string& what, const std::string& utf8);
    // The router dialogues' ports and waits: the console's, or what the test
    // options give; --jobs (1 without it).  nullopt after saying why.
    std::optional<console::RouterTimings> Timings();
    std::optional<int> Jobs();

    // The installation opened and base.db loaded; nullptr with the exit
    // status in `status`, after saying why.
    std::unique_ptr<console::Installation> Open(console::Installation::Access access, int& status);
    // The registered devices the operands name (each once), or every one
    // with --all where the command takes it; nullopt with the exit status.
    std::optional<std::vector<CBase*>> Named(console::Installation& installation, int& status);

    // "[n/total] NAME: TEXT", a device's line as it ends.
    void PrintDeviceLine(const console::DeviceResult& result, const std::string& text);

private:
    const Command& command_;
    std::string defaultHome_;
    std::ostream& out_;
    std::ostream& err_;
    std::vector<std::string> operands_;
    std::map<std::string, std::string> options_;
    std::set<std::string> flags_;
    std::unique_ptr<MessageBoxes> boxes_;
};

// An outcome as the terminal shows it: "done", "nothing-to-do", "declined"
// or "failed", then " (MESSAGE)" and ": REASON" when there are such.
std::string OutcomeText(const console::Outcome& outcome);

// A text (CP932) as one cell of the terminal's tab-separated output, UTF-8:
// tabs, line ends and other control characters shown as escapes ("\t",
// "\n", "\x1B"), so that no text from a router or base.db can forge a cell
// or a row.
std::string Cell(std::string_view text);

// A reason (CP932) on one line of the terminal, UTF-8: escaped as Cell
// does, cut after maxBytes with "...".
std::string OneLine(const std::string& reason, std::size_t maxBytes = 300);

// "-" for never, else local "YYYY/MM/DD hh:mm:ss".
std::string TimeText(std::int64_t time);

}  // namespace quellin::cli
