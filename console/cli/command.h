// What every quellin command has: its own options, read from the command
// line; the installation and the devices it names; the routers' timings;
// how many devices at once; the output form; one way to say what went
// wrong.  A command is a spec (its options and its own usage) and a
// function over this context; the families live in files of their own.
#pragma once

#include "device_jobs.h"
#include "installation.h"
#include "maintenance.h"
#include "notices.h"
#include "terminal_text.h"

#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quellin::cli {

using console::Cell;
using console::OneLine;
using console::OutcomeText;
using console::TimeText;

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a device, a router or a file failed
inline constexpr int kExitUsage = 2;   // the command line is wrong, or names no device
inline constexpr int kExitBusy = 3;    // the console (or another run) holds the folder

class CommandContext;

struct Command {
    const char* name;
    std::string usage;              // its own usage, for --help; its first line in the general one
    std::set<std::string> options;  // each taking a value; the last given counts
    std::set<std::string> flags;
    bool toRouters;  // takes the router dialogues' test options
    int (*run)(CommandContext&);
};

std::vector<Command> RouterCommands();        // identify, firmware-info
std::vector<Command> RegistrationCommands();  // devices, register, unregister
std::vector<Command> MaintenanceCommands();   // apply-config, update-firmware, collect-log
std::vector<Command> FleetCommands();         // inventory, backup, drift
std::vector<Command> HistoryCommands();       // history, diff
std::vector<Command> WebUserCommands();       // web-user
std::vector<Command> SyslogCommands();        // syslog

class CommandContext {
public:
    CommandContext(const Command& command, std::string defaultHome, std::ostream& out,
                   std::ostream& err);
    ~CommandContext();

    // Reads the arguments after the command's name; false after saying why.
    bool Parse(const std::vector<std::string>& args);

    const Command& command() const { return command_; }
    const std::vector<std::string>& operands() const { return operands_; }
    std::optional<std::string> Option(const std::string& name) const;
    // Every value of an option that may be given more than once, in order.
    std::vector<std::string> Values(const std::string& name) const;
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
    // The router dialogues' ports and waits; nullopt after saying why.
    std::optional<console::RouterTimings> Timings();

    // What a command over devices starts from: --jobs and the timings (for
    // those that talk to routers), the installation opened and base.db
    // loaded, and the devices: none, those the operands name (each once, or
    // every one with --all where the command takes it), the one the first
    // operand names, or every registered one.  False after saying why, with
    // the exit status in status().
    enum class Devices { kNone, kNamed, kFirst, kEvery };
    bool Start(console::Installation::Access access, Devices devices);
    int status() const { return status_; }
    console::Installation& installation() { return *installation_; }
    const std::vector<CBase*>& devices() const { return devices_; }
    const console::RouterTimings& timings() const { return timings_; }
    int jobs() const { return jobs_; }

    // The installation's configuration history; nullptr after saying why.
    std::unique_ptr<history::ConfigHistory> OpenHistory(history::ConfigHistory::Access access);
    // A device's end as it comes: its JSON object with --json, else
    // "[n/total] NAME: TEXT".
    void PrintEnd(const console::DeviceResult& result, const std::string& json,
                  const std::string& text);
    // After the run's work and its result: the kept state turns what the
    // run found into notices, whose hooks and mails then go out, bounded in
    // time, and --prometheus writes the metrics.  Nothing is read or written
    // while neither is asked for.
    void Tell(const std::function<std::vector<console::Notice>(console::NoticeStates&)>& find,
              const std::function<void(std::vector<console::Notice>&)>& complete = {});

private:
    bool Refuse(int status);

    const Command& command_;
    std::string defaultHome_;
    std::ostream& out_;
    std::ostream& err_;
    std::vector<std::string> operands_;
    std::multimap<std::string, std::string> options_;
    std::set<std::string> flags_;
    std::unique_ptr<MessageBoxes> boxes_;
    std::unique_ptr<console::Installation> installation_;
    std::vector<CBase*> devices_;
    console::RouterTimings timings_;
    int jobs_ = 1;
    int status_ = kExitOk;
};

}  // namespace quellin::cli
