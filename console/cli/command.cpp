#include "command.h"

#include "clock.h"
#include "codec.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <ostream>

namespace quellin::cli {
namespace {

const std::set<std::string> kTestOptions = {"telnet-port",        "ftp-port",
                                            "receive-timeout-ms", "initial-sleep-ms",
                                            "restart-wait-ms",    "ftp-connect-timeout-ms"};

std::optional<long long> Number(const std::string& text, long long low, long long high) {
    if (text.empty() || text.size() > 12 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const long long value = std::stoll(text);
    if (value < low || value > high)
        return std::nullopt;
    return value;
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

}  // namespace

CommandContext::CommandContext(const Command& command, std::string defaultHome, std::ostream& out,
                               std::ostream& err)
    : command_(command),
      defaultHome_(std::move(defaultHome)),
      out_(out),
      err_(err),
      boxes_(std::make_unique<TerminalBoxes>(err)) {}

bool CommandContext::Parse(const std::vector<std::string>& args) {
    auto refuse = [this](const std::string& problem) {
        Usage(problem);
        return false;
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 3 || !arg.starts_with("--")) {
            if (arg == "--" && !optionsEnded)
                optionsEnded = true;
            else
                operands_.push_back(arg);
            continue;
        }
        std::string name = arg.substr(2);
        std::optional<std::string> value;
        if (auto equals = name.find('='); equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if (command_.flags.contains(name)) {
            if (value)
                return refuse("--" + name + " takes no value");
            flags_.insert(name);
            continue;
        }
        if (!command_.options.contains(name) &&
            !(command_.toRouters && kTestOptions.contains(name)))
            return refuse(std::string(command_.name) + " takes no option --" + name);
        if (!value) {
            if (i + 1 >= args.size())
                return refuse("--" + name + " needs a value");
            value = args[++i];
        }
        options_[name] = *value;
    }
    return true;
}

std::optional<std::string> CommandContext::Option(const std::string& name) const {
    auto it = options_.find(name);
    return it == options_.end() ? std::nullopt : std::optional(it->second);
}

int CommandContext::Usage(const std::string& problem) {
    err_ << "quellin: " << problem << "\n";
    return kExitUsage;
}

int CommandContext::Fail(const std::string& problem) {
    err_ << "quellin: " << problem << "\n";
    return kExitFailed;
}

std::string CommandContext::Home() const {
    auto home = Option("home");
    if (!home)
        return defaultHome_;
    std::string folder = cp932::FromPath(std::filesystem::path(*home));
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

std::optional<std::string> CommandContext::Cp932(const std::string& what, const std::string& utf8) {
    auto text = cp932::FromUtf8(utf8);
    if (!text)
        Usage(what + " has characters without a Shift-JIS form: " + utf8);
    return text;
}

std::optional<console::RouterTimings> CommandContext::Timings() {
    using std::chrono::milliseconds;
    console::RouterTimings timings;
    struct Setting {
        const char* name;
        long long low;
        long long high;
        std::function<void(long long)> apply;
    };
    const Setting settings[] = {
        {"telnet-port", 1, 65535,
         [&](long long v) { timings.telnet.port = static_cast<std::uint16_t>(v); }},
        {"ftp-port", 1, 65535, [&](long long v) { timings.ftpPort = static_cast<int>(v); }},
        {"receive-timeout-ms", 1, 600000,
         [&](long long v) { timings.telnet.receiveTimeout = milliseconds(v); }},
        {"initial-sleep-ms", 0, 600000,
         [&](long long v) { timings.telnet.initialSleep = milliseconds(v); }},
        {"restart-wait-ms", 0, 600000,
         [&](long long v) {
             timings.configRestartWait = milliseconds(v);
             timings.firmwareRestartWait = milliseconds(v);
         }},
        {"ftp-connect-timeout-ms", 1, 600000,
         [&](long long v) { timings.ftp.connect = milliseconds(v); }},
    };
    for (const Setting& setting : settings) {
        auto text = Option(setting.name);
        if (!text)
            continue;
        auto value = Number(*text, setting.low, setting.high);
        if (!value) {
            Usage(std::string("--") + setting.name + " needs a number from " +
                  std::to_string(setting.low) + " to " + std::to_string(setting.high));
            return std::nullopt;
        }
        setting.apply(*value);
    }
    return timings;
}

std::optional<int> CommandContext::Jobs() {
    auto text = Option("jobs");
    if (!text)
        return 1;
    auto value = Number(*text, 1, 256);
    if (!value) {
        Usage("--jobs needs a number from 1 to 256");
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

std::unique_ptr<console::Installation> CommandContext::Open(console::Installation::Access access,
                                                            int& status) {
    const std::string home = Home();
    auto installation = std::make_unique<console::Installation>(home, access, *boxes_);
    switch (installation->state()) {
        case console::Installation::State::kOpen:
            break;
        case console::Installation::State::kBusy:
            err_ << "quellin: Quellin_tool or another quellin is working on "
                 << cp932::ToUtf8Lossy(home) << "; run this again when it has finished.\n";
            status = kExitBusy;
            return nullptr;
        case console::Installation::State::kLockFailed:
            status = Fail("cannot lock the installation folder " + cp932::ToUtf8Lossy(home) + ": " +
                          installation->reason());
            return nullptr;
    }
    if (!installation->Load()) {
        status = Fail("cannot read " + cp932::ToUtf8Lossy(installation->layout().registry()));
        return nullptr;
    }
    return installation;
}

std::optional<std::vector<CBase*>> CommandContext::Named(console::Installation& installation,
                                                         int& status) {
    const bool all = command_.flags.contains("all") && Flag("all");
    if (command_.flags.contains("all") && all == !operands_.empty()) {
        status = Usage(std::string(command_.name) + " takes device names or --all");
        return std::nullopt;
    }
    if (all)
        return installation.Registered();
    if (operands_.empty()) {
        status = Usage(std::string(command_.name) + " needs at least one device name");
        return std::nullopt;
    }
    std::vector<CBase*> named;
    for (const std::string& operand : operands_) {
        auto name = Cp932("the device name", operand);
        CBase* device = name ? installation.Find(*name) : nullptr;
        if (!name || !device) {
            status = name ? Usage("no device named " + operand) : kExitUsage;
            return std::nullopt;
        }
        if (std::find(named.begin(), named.end(), device) == named.end())
            named.push_back(device);
    }
    return named;
}

void CommandContext::PrintDeviceLine(const console::DeviceResult& result, const std::string& text) {
    out_ << "[" << result.finished << "/" << result.total << "] " << Cell(result.device.name)
         << ": " << text << "\n";
    out_.flush();
}

std::string OutcomeText(const console::Outcome& outcome) {
    std::string text(console::ToString(outcome.kind));
    if (!outcome.message.empty())
        text += " (" + cp932::ToUtf8Lossy(outcome.message) + ")";
    if (!outcome.reason.empty())
        text += ": " + OneLine(outcome.reason);
    return text;
}

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

std::string TimeText(std::int64_t time) {
    if (time == 0)
        return "-";
    std::string text = FormatLocalTime(time, "%Y/%m/%d %H:%M:%S");
    return text.empty() ? "-" : text;
}

}  // namespace quellin::cli
