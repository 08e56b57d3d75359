#include "quellin_cli.h"

#include "batch_run.h"
#include "clock.h"
#include "codec.h"
#include "config_backup.h"
#include "config_history.h"
#include "console_app.h"
#include "device_book.h"
#include "device_identity.h"
#include "firmware_image.h"
#include "folder_lock.h"
#include "installation_layout.h"
#include "inventory.h"
#include "json_line.h"
#include "maintenance.h"
#include "maintenance_runner.h"
#include "message_box.h"
#include "questions.h"
#include "report.h"
#include "telnet_session.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>

namespace quellin::cli {
namespace {

using console::Operation;

constexpr char kUsage[] =
    "usage: quellin COMMAND [ARGUMENTS]\n"
    "\n"
    "Routers:\n"
    "  identify ADDRESS [--user U] [--password P] [--home DIR]\n"
    "      model, version and start-up configuration of the router\n"
    "  firmware-info FILE...\n"
    "      model and version of each firmware image\n"
    "\n"
    "Installation (--home DIR, default: the folder of this program):\n"
    "  devices                                  the registered devices\n"
    "  apply-config NAME... [--at YYMMDDHHMM] [--jobs N] [--json]\n"
    "  update-firmware NAME... [--at YYMMDDHHMM] [--jobs N] [--yes] [--json]\n"
    "  collect-log NAME... [--jobs N] [--json]\n"
    "  register NAME --address A --password P [--access-id I]\n"
    "           [--access-password X] [--config FILE]\n"
    "  unregister NAME\n"
    "\n"
    "Fleet (read base.db only, so they run beside the console):\n"
    "  inventory [--jobs N] [--json | --csv]    model, firmware and start-up\n"
    "      configuration of every device, the image an update would give it and\n"
    "      the verdict: up-to-date, update-available, downgrade, gated, no-image,\n"
    "      unreachable\n"
    "  backup (NAME... | --all) [--jobs N]      running configurations into the\n"
    "      history (history/ in the installation), a version only when changed\n"
    "  history NAME                             the stored versions of a device\n"
    "  diff NAME [REV [REV]]                    a stored change as a unified diff:\n"
    "      the last one, from REV to the newest, or from one REV to the other\n"
    "  drift (NAME... | --all) [--jobs N]       devices whose running configuration\n"
    "      differs from their registered configuration file, with the diff\n"
    "inventory ends with 1 when a device is unreachable, backup when a device\n"
    "failed, drift when a device differs or failed.\n"
    "\n"
    "--jobs N works on up to N devices at once (default 1).  A failure is told\n"
    "with its message and, after it, its reason.  --json prints one JSON object\n"
    "per device instead (name, address, operation, outcome, message, reason,\n"
    "seconds).  update-firmware gives no device an older version than it runs\n"
    "unless --yes is given.  Exit status: 0 done, 1 a device or file failed or\n"
    "an update was declined, 2 wrong command line, 3 the console or another\n"
    "quellin works on the installation folder.\n"
    "\n"
    "Test options (for tests and benchmarks against simulated routers):\n"
    "  --telnet-port N  --ftp-port N  --receive-timeout-ms N  --initial-sleep-ms N\n"
    "  --restart-wait-ms N  --ftp-connect-timeout-ms N\n";

const std::set<std::string> kTestOptions = {"telnet-port",        "ftp-port",
                                            "receive-timeout-ms", "initial-sleep-ms",
                                            "restart-wait-ms",    "ftp-connect-timeout-ms"};

struct CommandSpec {
    std::set<std::string> options;  // with a value
    std::set<std::string> flags;    // without
    bool routerOptions;             // takes the test options
};

const std::map<std::string, CommandSpec>& Commands() {
    static const std::map<std::string, CommandSpec> commands = {
        {"identify", {{"user", "password", "home"}, {}, true}},
        {"firmware-info", {{}, {}, false}},
        {"devices", {{"home"}, {}, false}},
        {"apply-config", {{"home", "at", "jobs"}, {"json"}, true}},
        {"update-firmware", {{"home", "at", "jobs"}, {"json", "yes"}, true}},
        {"collect-log", {{"home", "jobs"}, {"json"}, true}},
        {"register",
         {{"home", "address", "password", "access-id", "access-password", "config"}, {}, false}},
        {"unregister", {{"home"}, {}, false}},
        {"inventory", {{"home", "jobs"}, {"json", "csv"}, true}},
        {"backup", {{"home", "jobs"}, {"all"}, true}},
        {"history", {{"home"}, {}, false}},
        {"diff", {{"home"}, {}, false}},
        {"drift", {{"home", "jobs"}, {"all"}, true}},
    };
    return commands;
}

struct Invocation {
    std::string command;
    std::vector<std::string> operands;
    std::map<std::string, std::string> options;
    std::set<std::string> flags;

    std::optional<std::string> Option(const std::string& name) const {
        auto it = options.find(name);
        if (it == options.end())
            return std::nullopt;
        return it->second;
    }
};

struct UsageError {
    std::string text;
};

std::optional<UsageError> Parse(const std::vector<std::string>& args, Invocation& invocation) {
    if (args.empty())
        return UsageError{"no command given"};
    invocation.command = args[0];
    auto spec = Commands().find(invocation.command);
    if (spec == Commands().end())
        return UsageError{"unknown command " + args[0]};
    bool optionsEnded = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 3 || arg.rfind("--", 0) != 0) {
            if (arg == "--") {
                optionsEnded = true;
                continue;
            }
            invocation.operands.push_back(arg);
            continue;
        }
        std::string name = arg.substr(2);
        std::optional<std::string> value;
        if (auto equals = name.find('='); equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if (spec->second.flags.contains(name)) {
            if (value)
                return UsageError{"--" + name + " takes no value"};
            invocation.flags.insert(name);
            continue;
        }
        const bool known = spec->second.options.contains(name) ||
                           (spec->second.routerOptions && kTestOptions.contains(name));
        if (!known)
            return UsageError{invocation.command + " takes no option --" + name};
        if (!value) {
            if (i + 1 >= args.size())
                return UsageError{"--" + name + " needs a value"};
            value = args[++i];
        }
        invocation.options[name] = *value;
    }
    return std::nullopt;
}

std::optional<long long> Number(const std::string& text, long long low, long long high) {
    if (text.empty() || text.size() > 12 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    long long value = std::stoll(text);
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

bool IsIpv4(const std::string& text) {
    in_addr parsed{};
    return ::inet_pton(AF_INET, text.c_str(), &parsed) == 1;
}

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

// The message boxes of the console's logic (what it tells the operator
// about base.db), as lines on the terminal.
class TerminalBoxes final : public MessageBoxes {
public:
    explicit TerminalBoxes(std::ostream& err) : err_(err) {}
    MsgAnswer Show(const MessageBoxRequest& request) override {
        std::lock_guard lock(lock_);
        err_ << cp932::ToUtf8Lossy(request.text) << "\n";
        return request.defaultButton;
    }

private:
    std::ostream& err_;
    std::mutex lock_;
};

// The questions of the operations, answered by the command line: a
// downgrade only with --yes; a device named to `unregister` is removed.
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
        return {true};
    }

private:
    bool yes_;
};

// "ok", "unchanged (MESSAGE): REASON", "failed (MESSAGE): REASON", ...
std::string OutcomeText(const console::Outcome& outcome) {
    constexpr const char* kWords[] = {"ok", "unchanged", "declined", "failed"};
    std::string text = kWords[static_cast<int>(outcome.kind)];
    if (!outcome.message.empty())
        text += " (" + cp932::ToUtf8Lossy(outcome.message) + ")";
    if (!outcome.reason.empty())
        text += ": " + OneLine(outcome.reason);
    return text;
}

class Runner {
public:
    Runner(const Invocation& invocation, std::string defaultHome, std::ostream& out,
           std::ostream& err)
        : in_(invocation), defaultHome_(std::move(defaultHome)), out_(out), err_(err) {}

    int Run() {
        // The maintenance commands share one; every other has its own.
        static const std::map<std::string, int (Runner::*)()> kOwn = {
            {"identify", &Runner::Identify},
            {"firmware-info", &Runner::FirmwareInfo},
            {"devices", &Runner::Devices},
            {"register", &Runner::Register},
            {"unregister", &Runner::Unregister},
            {"inventory", &Runner::Inventory},
            {"backup", &Runner::Backup},
            {"history", &Runner::History},
            {"diff", &Runner::Diff},
            {"drift", &Runner::Drift},
        };
        auto own = kOwn.find(in_.command);
        return own == kOwn.end() ? Maintain() : (this->*own->second)();
    }

private:
    int Usage(const std::string& problem) {
        err_ << "quellin: " << problem << "\n";
        return kExitUsage;
    }
    int Fail(const std::string& problem) {
        err_ << "quellin: " << problem << "\n";
        return kExitFailed;
    }

    std::string Home() const {
        auto home = in_.Option("home");
        if (!home)
            return defaultHome_;
        std::string folder = cp932::FromPath(std::filesystem::path(*home));
        if (folder.empty() || folder.back() != '/')
            folder += '/';
        return folder;
    }

    // The ports and waits of the router dialogues; the defaults are the
    // console's, the test options shorten them.
    std::optional<console::RouterTimings> Timings() {
        console::RouterTimings timings;
        auto number = [&](const char* name, long long low, long long high, auto apply) -> bool {
            auto text = in_.Option(name);
            if (!text)
                return true;
            auto value = Number(*text, low, high);
            if (!value) {
                Usage(std::string("--") + name + " needs a number from " + std::to_string(low) +
                      " to " + std::to_string(high));
                return false;
            }
            apply(*value);
            return true;
        };
        using std::chrono::milliseconds;
        bool ok =
            number("telnet-port", 1, 65535,
                   [&](long long v) { timings.telnet.port = static_cast<std::uint16_t>(v); }) &&
            number("ftp-port", 1, 65535,
                   [&](long long v) { timings.ftpPort = static_cast<int>(v); }) &&
            number("receive-timeout-ms", 1, 600000,
                   [&](long long v) { timings.telnet.receiveTimeout = milliseconds(v); }) &&
            number("initial-sleep-ms", 0, 600000,
                   [&](long long v) { timings.telnet.initialSleep = milliseconds(v); }) &&
            number("restart-wait-ms", 0, 600000,
                   [&](long long v) {
                       timings.configRestartWait = milliseconds(v);
                       timings.firmwareRestartWait = milliseconds(v);
                   }) &&
            number("ftp-connect-timeout-ms", 1, 600000,
                   [&](long long v) { timings.ftp.connect = milliseconds(v); });
        if (!ok)
            return std::nullopt;
        return timings;
    }

    std::optional<std::string> Cp932(const std::string& what, const std::string& utf8) {
        auto text = cp932::FromUtf8(utf8);
        if (!text)
            Usage(what + " has characters without a Shift-JIS form: " + utf8);
        return text;
    }

    // The console's state on the folder, without its start-up line, for the
    // commands that write base.db.  The folder lock is taken first and held
    // until the installation goes, so no console or other quellin writes
    // beside the command.
    struct Installation {
        Installation(const std::string& folder, std::unique_ptr<FolderLock> folderLock,
                     std::ostream& err)
            : home(folder),
              lock(std::move(folderLock)),
              boxes(err),
              app(home, console::ConsoleApp::StartLog::Skip),
              reporter(home, boxes),
              book(app.registryPath(), app.settings().maxRows) {
            book.Load(reporter, app.maxRowsOverLimit());
        }
        const std::string home;
        std::unique_ptr<FolderLock> lock;
        TerminalBoxes boxes;
        console::ConsoleApp app;
        console::Reporter reporter;
        console::DeviceBook book;
    };

    // nullptr, with the exit status in `status`, when the folder is busy or
    // cannot be locked.
    std::unique_ptr<Installation> OpenInstallation(int& status) {
        const std::string home = Home();
        auto lock = std::make_unique<FolderLock>(home);
        switch (lock->state()) {
            case FolderLock::State::kAcquired:
                return std::make_unique<Installation>(home, std::move(lock), err_);
            case FolderLock::State::kHeldElsewhere:
                err_ << "quellin: Quellin_tool or another quellin is working on "
                     << cp932::ToUtf8Lossy(home) << "; run this again when it has finished.\n";
                status = kExitBusy;
                return nullptr;
            case FolderLock::State::kFailed:
                break;
        }
        status = Fail("cannot lock the installation folder " + cp932::ToUtf8Lossy(home) + ": " +
                      lock->reason());
        return nullptr;
    }

    int CannotSave(const Installation& installation) {
        return Fail("cannot write " + cp932::ToUtf8Lossy(installation.app.registryPath()));
    }

    int Identify() {
        if (in_.operands.size() != 1)
            return Usage("identify takes one address");
        const std::string& address = in_.operands[0];
        if (!IsIpv4(address))
            return Usage("not an IPv4 address: " + address);
        auto timings = Timings();
        if (!timings)
            return kExitUsage;
        timings->telnet.deadline = std::chrono::seconds(ReadConsoleSettings(Home()).telnetDeadline);
        auto user = Cp932("the user", in_.Option("user").value_or(""));
        auto password = Cp932("the password", in_.Option("password").value_or(""));
        if (!user || !password)
            return kExitUsage;

        const Result<DeviceIdentity> identified = IdentifyDevice(
            address, *user, *password, SystemInformationRules::kConsole, timings->telnet);
        if (!identified && identified.error().code != ErrorCode::kFormat)
            return Fail(OneLine(identified.error().detail));
        if (!identified)
            return Fail(cp932::ToUtf8Lossy(cp932::Jp("装置情報の確認に失敗しました。")));
        const DeviceIdentity& identity = *identified;
        out_ << "model: " << Cell(identity.model) << "\n"
             << "version: " << FormatVersion(identity.major, identity.minor) << "\n"
             << "startup configuration: " << Cell(identity.startupConfig) << "\n";
        return kExitOk;
    }

    int FirmwareInfo() {
        if (in_.operands.empty())
            return Usage("firmware-info needs at least one file");
        int status = kExitOk;
        for (const std::string& file : in_.operands) {
            const Result<DeviceIdentity> examined = ExamineFirmwareImage(file);
            if (!examined) {
                out_ << file << ": not a firmware image (" << examined.error().detail << ")\n";
                status = kExitFailed;
                continue;
            }
            const DeviceIdentity& identity = *examined;
            out_ << file << ": model " << Cell(identity.model) << ", version "
                 << FormatVersion(identity.major, identity.minor) << ", ptf " << Cell(identity.ptf)
                 << ", date " << Cell(identity.date) << "\n";
        }
        return status;
    }

    static std::string Time(std::int64_t time) {
        if (time == 0)
            return "-";
        std::string text = FormatLocalTime(time, "%Y/%m/%d %H:%M:%S");
        return text.empty() ? "-" : text;
    }

    int Devices() {
        if (!in_.operands.empty())
            return Usage("devices takes no names");
        const InstallationLayout layout(Home());
        const ConsoleSettings settings = ReadConsoleSettings(layout.folder());
        CList<CBase> devices;
        if (!LoadDevices(cp932::ToPath(layout.registry()), devices, settings.maxRows))
            return Fail("cannot read " + cp932::ToUtf8Lossy(layout.registry()));
        out_ << "row\tname\taddress\tlast config\tlast firmware\tlast log\tnext log\n";
        for (const CBase& d : devices) {
            if (d.name.empty())
                continue;
            out_ << d.row << "\t" << Cell(d.name) << "\t" << Cell(d.address) << "\t"
                 << Time(d.lastConfigTransfer) << "\t" << Time(d.lastFirmwareUpdate) << "\t"
                 << Time(d.lastLogCollection) << "\t" << Time(d.nextLogCollection) << "\n";
        }
        return kExitOk;
    }

    // "[n/total] NAME: TEXT", a device's line as it ends.
    void PrintDeviceLine(const console::DeviceResult& r, const std::string& text) {
        out_ << "[" << r.finished << "/" << r.total << "] " << Cell(r.device.name) << ": " << text
             << "\n";
    }

    void PrintJson(Operation operation, const console::DeviceResult& r) {
        out_ << JsonLine()
                    .Add("name", r.device.name)
                    .Add("address", r.device.address)
                    .Add("operation", console::RowOf(operation).name)
                    .Add("outcome", ToString(r.outcome.kind))
                    .Add("message", r.outcome.message)
                    .Add("reason", r.outcome.reason)
                    .Add("seconds", static_cast<double>(r.took.count()) / 1000)
                    .Text()
             << "\n";
    }

    int Maintain() {
        if (in_.operands.empty())
            return Usage(in_.command + " needs at least one device name");
        std::string scheduleTime;
        if (auto at = in_.Option("at")) {
            if (auto problem = ScheduleTimeProblem(*at, CurrentClock().Now()))
                return Usage(*problem);
            scheduleTime = *at;
        }
        const bool at = !scheduleTime.empty();
        Operation operation = Operation::kCollectLog;
        if (in_.command == "apply-config")
            operation = at ? Operation::kApplyConfigAt : Operation::kApplyConfig;
        else if (in_.command == "update-firmware")
            operation = at ? Operation::kUpdateFirmwareAt : Operation::kUpdateFirmware;
        int jobs = 1;
        if (auto text = in_.Option("jobs")) {
            auto value = Number(*text, 1, 256);
            if (!value)
                return Usage("--jobs needs a number from 1 to 256");
            jobs = static_cast<int>(*value);
        }
        auto timings = Timings();
        if (!timings)
            return kExitUsage;
        std::vector<std::string> names;
        for (const std::string& operand : in_.operands) {
            auto name = Cp932("the device name", operand);
            if (!name)
                return kExitUsage;
            if (std::find(names.begin(), names.end(), *name) == names.end())
                names.push_back(*name);
        }

        int status = kExitOk;
        auto installation = OpenInstallation(status);
        if (!installation)
            return status;
        std::vector<CBase*> selected;
        for (const std::string& name : names) {
            auto index = installation->book.Find(name);
            if (!index)
                return Usage("no device named " + cp932::ToUtf8Lossy(name));
            selected.push_back(&installation->book.device(*index));
        }

        console::RouterMaintenance router(installation->app, *timings);
        OptionAnswers answers(in_.flags.contains("yes"));
        console::OperationWaiter waiter;
        const console::MaintenanceRunner runner(router, installation->reporter, answers, waiter);
        const bool json = in_.flags.contains("json");
        auto finished = [&](const console::DeviceResult& r) {
            if (json) {
                PrintJson(operation, r);
            } else {
                PrintDeviceLine(r, OutcomeText(r.outcome));
            }
            out_.flush();
        };
        const auto outcomes =
            console::RunOnEach(runner, selected, operation, console::RunMode::kAnsweredInAdvance,
                               scheduleTime, jobs, finished);
        if (!installation->book.Save())
            return CannotSave(*installation);
        const bool failed =
            std::ranges::any_of(outcomes, [](const console::Outcome& o) { return o.failsRun(); });
        if (!json)
            out_ << (failed ? console::kSomeDevicesFailed : console::RowOf(operation).summary)
                 << "\n";
        return failed ? kExitFailed : kExitOk;
    }

    int Register() {
        if (in_.operands.size() != 1)
            return Usage("register takes one device name");
        auto address = in_.Option("address");
        auto password = in_.Option("password");
        if (!address || !password)
            return Usage("register needs --address and --password");
        if (!address->empty() && !IsIpv4(*address))
            return Usage("not an IPv4 address: " + *address);
        auto name = Cp932("the device name", in_.operands[0]);
        auto pass = Cp932("the password", *password);
        auto accessId = Cp932("the access ID", in_.Option("access-id").value_or(""));
        auto accessPassword =
            Cp932("the access password", in_.Option("access-password").value_or(""));
        if (!name || !pass || !accessId || !accessPassword)
            return kExitUsage;
        if (name->empty())
            return Usage("the device name is empty");
        std::string configFile;
        if (auto config = in_.Option("config")) {
            std::error_code ec;
            std::filesystem::path path = std::filesystem::absolute(*config, ec);
            if (ec || !std::filesystem::is_regular_file(path, ec))
                return Fail("no such file: " + *config);
            configFile = cp932::FromPath(path.lexically_normal());
        }

        int status = kExitOk;
        auto installation = OpenInstallation(status);
        if (!installation)
            return status;
        console::DeviceBook& book = installation->book;
        if (book.Find(*name))
            return Fail("a device named " + in_.operands[0] + " is already registered");
        auto free = book.FirstFree();
        if (!free)
            return Fail("base.db has no free row (MAXROWS " +
                        std::to_string(installation->app.settings().maxRows) + ")");
        CBase& device = book.device(*free);
        const console::DeviceFields fields{*name,     *address,        *pass,
                                           *accessId, *accessPassword, configFile};
        if (auto refusal = book.Check(fields, device.row)) {
            err_ << cp932::ToUtf8Lossy(*refusal) << "\n";
            return kExitFailed;
        }
        console::DeviceBook::Store(device, fields);
        if (!book.Save())
            return CannotSave(*installation);
        console::DeviceBook::LogRegistered(installation->reporter, device.name);
        console::DeviceBook::LogSettingsChanged(installation->reporter, device.name);
        out_ << "registered " << in_.operands[0] << " in row " << device.row << "\n";
        return kExitOk;
    }

    int Unregister() {
        if (in_.operands.size() != 1)
            return Usage("unregister takes one device name");
        auto name = Cp932("the device name", in_.operands[0]);
        if (!name)
            return kExitUsage;
        if (name->empty())
            return Usage("the device name is empty");
        int status = kExitOk;
        auto installation = OpenInstallation(status);
        if (!installation)
            return status;
        auto index = installation->book.Find(*name);
        if (!index)
            return Fail("no device named " + in_.operands[0]);
        CBase& device = installation->book.device(*index);
        OptionAnswers answers(in_.flags.contains("yes"));
        if (!console::DeviceBook::Unregister(device, answers))
            return kExitFailed;
        if (!installation->book.Save())
            return CannotSave(*installation);
        console::DeviceBook::LogUnregistered(installation->reporter, *name);
        out_ << "unregistered " << in_.operands[0] << " from row " << device.row << "\n";
        return kExitOk;
    }

    // ---- the fleet: commands that read base.db and never write it

    std::optional<int> Jobs() {
        if (auto text = in_.Option("jobs")) {
            auto value = Number(*text, 1, 256);
            if (!value) {
                Usage("--jobs needs a number from 1 to 256");
                return std::nullopt;
            }
            return static_cast<int>(*value);
        }
        return 1;
    }

    // The installation as the fleet commands read it: its settings, its
    // registered devices (in row order) and its operation logs.
    struct Fleet {
        explicit Fleet(const std::string& folder, std::ostream& err)
            : layout(folder),
              boxes(err),
              app(folder, console::ConsoleApp::StartLog::Skip),
              reporter(folder, boxes) {}
        const InstallationLayout layout;
        TerminalBoxes boxes;
        console::ConsoleApp app;
        console::Reporter reporter;
        std::vector<CBase> devices;
    };

    // nullptr with the exit status in `status` when base.db cannot be read.
    std::unique_ptr<Fleet> OpenFleet(int& status) {
        auto fleet = std::make_unique<Fleet>(Home(), err_);
        CList<CBase> all;
        if (!LoadDevices(cp932::ToPath(fleet->layout.registry()), all,
                         fleet->app.settings().maxRows)) {
            status = Fail("cannot read " + cp932::ToUtf8Lossy(fleet->layout.registry()));
            return nullptr;
        }
        for (CBase& device : all)
            if (!device.name.empty())
                fleet->devices.push_back(std::move(device));
        return fleet;
    }

    // The devices the operands name, or all of them with --all; nullopt
    // with the exit status in `status`.
    std::optional<std::vector<CBase*>> Chosen(Fleet& fleet, int& status) {
        const bool all = in_.flags.contains("all");
        if (all == !in_.operands.empty()) {
            status = Usage(in_.command + " takes device names or --all");
            return std::nullopt;
        }
        std::vector<CBase*> chosen;
        if (all) {
            for (CBase& device : fleet.devices)
                chosen.push_back(&device);
            return chosen;
        }
        for (const std::string& operand : in_.operands) {
            auto name = Cp932("the device name", operand);
            if (!name) {
                status = kExitUsage;
                return std::nullopt;
            }
            auto it = std::find_if(fleet.devices.begin(), fleet.devices.end(),
                                   [&](const CBase& d) { return d.name == *name; });
            if (it == fleet.devices.end()) {
                status = Usage("no device named " + operand);
                return std::nullopt;
            }
            if (std::find(chosen.begin(), chosen.end(), &*it) == chosen.end())
                chosen.push_back(&*it);
        }
        return chosen;
    }

    std::optional<std::string> OneDevice(const Fleet& fleet, int& status) {
        auto name = Cp932("the device name", in_.operands.empty() ? "" : in_.operands[0]);
        if (!name) {
            status = kExitUsage;
            return std::nullopt;
        }
        const bool known = std::any_of(fleet.devices.begin(), fleet.devices.end(),
                                       [&](const CBase& d) { return d.name == *name; });
        if (!known) {
            status = Usage("no device named " + in_.operands[0]);
            return std::nullopt;
        }
        return name;
    }

    static std::string Changes(const history::LineChanges& changes) {
        return "+" + std::to_string(changes.added) + " -" + std::to_string(changes.removed);
    }

    int Inventory() {
        if (!in_.operands.empty())
            return Usage("inventory takes no names: it lists every registered device");
        const bool json = in_.flags.contains("json");
        const bool csv = in_.flags.contains("csv");
        if (json && csv)
            return Usage("inventory takes --json or --csv, not both");
        auto jobs = Jobs();
        auto timings = Timings();
        if (!jobs || !timings)
            return kExitUsage;
        int status = kExitOk;
        auto fleet = OpenFleet(status);
        if (!fleet)
            return status;
        const console::RouterMaintenance router(fleet->app, *timings);
        std::vector<console::InventoryRow> rows;
        std::mutex lock;
        console::InventoryRun run(fleet->devices, *jobs,
                                  [&router](const CBase& device, std::stop_token stop) {
                                      return console::ProbeDevice(device, router, std::move(stop));
                                  });
        run.Start([&](const console::InventoryRow& row) {
            std::lock_guard guard(lock);
            rows.push_back(row);
        });
        run.Wait();
        std::sort(rows.begin(), rows.end(),
                  [](const auto& a, const auto& b) { return a.row < b.row; });

        if (csv) {
            out_ << console::InventoryCsv(rows, console::CsvEncoding::kUtf8);
        } else if (!json) {
            out_ << "name\taddress\tmodel\tversion\tstartup\timage\tverdict\treason\n";
        }
        bool unreachable = false;
        for (const console::InventoryRow& row : rows) {
            unreachable = unreachable || row.verdict == console::InventoryVerdict::kUnreachable ||
                          row.verdict == console::InventoryVerdict::kLoginFailed;
            if (csv)
                continue;
            if (json) {
                out_ << JsonLine()
                            .Add("name", row.name)
                            .Add("address", row.address)
                            .Add("model", row.model)
                            .Add("version", row.version)
                            .Add("startup", row.startupConfig)
                            .Add("image", row.image)
                            .Add("image_version", row.imageVersion)
                            .Add("verdict", console::VerdictKey(row.verdict))
                            .Add("reason", row.reason)
                            .Text()
                     << "\n";
                continue;
            }
            out_ << Cell(row.name) << "\t" << Cell(row.address) << "\t" << Cell(row.model) << "\t"
                 << row.version << "\t" << Cell(row.startupConfig) << "\t"
                 << Cell(console::CellText(row, console::InventoryColumn::kImage)) << "\t"
                 << console::VerdictKey(row.verdict) << "\t" << OneLine(row.reason) << "\n";
        }
        return unreachable ? kExitFailed : kExitOk;
    }

    // The history in the installation, or nullptr after saying why.
    std::unique_ptr<history::ConfigHistory> OpenHistory(const Fleet& fleet,
                                                        history::ConfigHistory::Access access) {
        auto store =
            history::ConfigHistory::Open(cp932::ToPath(fleet.layout.historyFolder()), access);
        if (!store) {
            Fail(cp932::ToUtf8Lossy(store.error().detail));
            return nullptr;
        }
        return std::move(*store);
    }

    // What backup and drift start from: --jobs, the router timings, the
    // installation and the devices named (or --all); nullopt with the exit
    // status in `status`.
    struct FleetRun {
        int jobs;
        console::RouterTimings timings;
        std::unique_ptr<Fleet> fleet;
        std::vector<CBase*> chosen;
    };
    std::optional<FleetRun> StartFleetRun(int& status) {
        auto jobs = Jobs();
        auto timings = Timings();
        if (!jobs || !timings) {
            status = kExitUsage;
            return std::nullopt;
        }
        auto fleet = OpenFleet(status);
        if (!fleet)
            return std::nullopt;
        auto chosen = Chosen(*fleet, status);
        if (!chosen)
            return std::nullopt;
        return FleetRun{*jobs, *timings, std::move(fleet), std::move(*chosen)};
    }

    // The device the first operand names and the history to read it from;
    // nullopt with the exit status in `status`.
    std::optional<std::pair<std::string, std::unique_ptr<history::ConfigHistory>>>
    OpenDeviceHistory(int& status) {
        auto fleet = OpenFleet(status);
        if (!fleet)
            return std::nullopt;
        auto name = OneDevice(*fleet, status);
        if (!name)
            return std::nullopt;
        auto store = OpenHistory(*fleet, history::ConfigHistory::Access::kRead);
        if (!store) {
            status = kExitFailed;
            return std::nullopt;
        }
        return std::pair(std::move(*name), std::move(store));
    }

    // `work` on every chosen device, up to `jobs` at once; as each ends,
    // "[n/total] NAME: " and what `line` makes of its result.  The results
    // come back in the order of `chosen`.
    template <typename Result>
    std::vector<Result> RunOnChosen(const std::vector<CBase*>& chosen, int jobs,
                                    const std::function<Result(CBase&)>& work,
                                    const std::function<std::string(const Result&)>& line) {
        std::vector<Result> results(chosen.size());
        std::map<const CBase*, std::size_t> index;
        for (std::size_t i = 0; i < chosen.size(); ++i)
            index[chosen[i]] = i;
        auto run = [&](CBase& device) {
            Result& result = results[index.at(&device)];
            result = work(device);
            return result.outcome;
        };
        auto finished = [&](const console::DeviceResult& r) {
            PrintDeviceLine(r, line(results[index.at(&r.device)]));
            out_.flush();
        };
        console::RunEach(chosen, jobs, run, finished);
        return results;
    }

    int Backup() {
        int status = kExitOk;
        auto run = StartFleetRun(status);
        if (!run)
            return status;
        // The history first: a folder that cannot take it ends the run
        // before any router is asked.
        auto store = OpenHistory(*run->fleet, history::ConfigHistory::Access::kWrite);
        if (!store)
            return kExitFailed;
        const console::RouterMaintenance router(run->fleet->app, run->timings);
        const auto results = RunOnChosen<console::BackupResult>(
            run->chosen, run->jobs,
            [&](CBase& device) {
                return console::BackUp(device, router, *store, run->fleet->reporter,
                                       CurrentClock().Now());
            },
            [](const console::BackupResult& result) {
                if (!result.outcome.done())
                    return OutcomeText(result.outcome);
                if (!result.stored)
                    return std::string("unchanged");
                return "stored " + history::ShortCommit(result.commit) + " (" +
                       Changes(result.changes) + ")";
            });
        const auto failed = std::ranges::count_if(
            results, [](const console::BackupResult& r) { return !r.outcome.done(); });
        const auto stored = std::ranges::count_if(
            results, [](const console::BackupResult& r) { return r.outcome.done() && r.stored; });
        out_ << "backup: " << stored << " stored, " << std::ssize(results) - stored - failed
             << " unchanged, " << failed << " failed\n";
        return failed > 0 ? kExitFailed : kExitOk;
    }

    int History() {
        if (in_.operands.size() != 1)
            return Usage("history takes one device name");
        int status = kExitOk;
        auto stored = OpenDeviceHistory(status);
        if (!stored)
            return status;
        auto& [name, store] = *stored;
        auto versions = store->History(name);
        if (!versions)
            return Fail(cp932::ToUtf8Lossy(versions.error().detail));
        if (versions->empty())
            return Fail("no configuration of " + in_.operands[0] + " is stored yet");
        out_ << "time\tcommit\tlines\n";
        for (const auto& version : *versions)
            out_ << Time(version.time) << "\t" << history::ShortCommit(version.commit) << "\t"
                 << Changes(version.changes) << "\n";
        return kExitOk;
    }

    int Diff() {
        if (in_.operands.empty() || in_.operands.size() > 3)
            return Usage("diff takes a device name and at most two versions");
        int status = kExitOk;
        auto stored = OpenDeviceHistory(status);
        if (!stored)
            return status;
        auto& [name, store] = *stored;
        const std::vector<std::string> revisions(in_.operands.begin() + 1, in_.operands.end());
        auto diff = store->Diff(name, revisions);
        if (!diff)
            return Fail(cp932::ToUtf8Lossy(diff.error().detail));
        out_ << cp932::ToUtf8Lossy(*diff);
        return kExitOk;
    }

    int Drift() {
        int status = kExitOk;
        auto run = StartFleetRun(status);
        if (!run)
            return status;
        const console::RouterMaintenance router(run->fleet->app, run->timings);
        const auto results = RunOnChosen<console::DriftResult>(
            run->chosen, run->jobs,
            [&](CBase& device) {
                return console::CheckDrift(device, router, run->fleet->reporter);
            },
            [](const console::DriftResult& result) -> std::string {
                if (result.outcome.kind == console::OutcomeKind::kNothingToDo)
                    return "skipped (no configuration file is registered)";
                if (!result.outcome.done())
                    return OutcomeText(result.outcome);
                return result.same ? "same" : "differs";
            });
        std::size_t differ = 0;
        std::size_t same = 0;
        std::size_t skipped = 0;
        std::size_t failed = 0;
        for (const console::DriftResult& result : results) {
            if (result.outcome.kind == console::OutcomeKind::kNothingToDo) {
                ++skipped;
            } else if (!result.outcome.done()) {
                ++failed;
            } else if (result.same) {
                ++same;
            } else {
                ++differ;
                out_ << "\n" << cp932::ToUtf8Lossy(result.diff);
            }
        }
        out_ << (differ > 0 ? "\n" : "") << "drift: " << differ << " differ, " << same << " same, "
             << skipped << " without a configuration file, " << failed << " failed\n";
        return differ > 0 || failed > 0 ? kExitFailed : kExitOk;
    }

    const Invocation& in_;
    std::string defaultHome_;
    std::ostream& out_;
    std::ostream& err_;
};

}  // namespace

std::string Cell(std::string_view text) {
    std::string line;
    for (char c : cp932::ToUtf8Lossy(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            line += "\\r";
        } else if (c == '\n') {
            line += "\\n";
        } else if (c == '\t') {
            line += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            line += escape;
        } else {
            line += c;
        }
    }
    return line;
}

std::string OneLine(const std::string& reason, std::size_t maxBytes) {
    const std::string_view kept = cp932::Head(reason, maxBytes);
    std::string line = Cell(kept);
    if (kept.size() < reason.size())
        line += "...";
    return line;
}

int RunQuellin(const std::vector<std::string>& args, const std::string& defaultHome,
               std::ostream& out, std::ostream& err) {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
        out << kUsage;
        return kExitOk;
    }
    Invocation invocation;
    if (auto problem = Parse(args, invocation)) {
        err << "quellin: " << problem->text << "\n" << kUsage;
        return kExitUsage;
    }
    return Runner(invocation, defaultHome, out, err).Run();
}

}  // namespace quellin::cli
