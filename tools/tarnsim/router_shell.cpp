#include "router_shell.h"

#include "clock.h"
#include "device_identity.h"

#include <cstdio>
#include <ctime>
#include <sstream>

namespace quellin::tarn {
namespace {

constexpr std::size_t kChunk = 1024;

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string word;
    while (in >> word)
        words.push_back(word);
    return words;
}

int SlotIndex(const std::string& slot) {
    return slot == "config2" ? 1 : 0;
}

std::string VersionLine(const char* label, const Software& software) {
    return std::string(label) + FormatVersion(software.major, software.minor) + " (" +
           software.ptf + " " + software.date + ")\r\n";
}

std::string Uptime(std::int64_t seconds) {
    if (seconds < 0)
        seconds = 0;
    char text[64];
    std::snprintf(text, sizeof text, "%lld days %02lld:%02lld:%02lld",
                  static_cast<long long>(seconds / 86400),
                  static_cast<long long>(seconds / 3600 % 24),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

std::string LogStamp(std::int64_t time) {
    std::string text = FormatLocalTime(time, "%Y/%m/%d %H:%M:%S");
    return text.empty() ? "1970/01/01 00:00:00" : text;
}

ShellReply Lines(std::string text) {
    ShellReply reply;
    if (!text.empty())
        reply.output.push_back({std::move(text), 0});
    return reply;
}

}  // namespace

RouterState InitialState(const RouterConfig& config, std::int64_t now) {
    RouterState state;
    state.model = config.model;
    ParseVersionText(config.version, state.bank[0].major, state.bank[0].minor);
    state.bank[0].ptf = config.ptf;
    state.bank[0].date = config.date;
    ParseVersionText(config.secondVersion, state.bank[1].major, state.bank[1].minor);
    state.bank[1].ptf = config.ptf;
    state.bank[1].date = config.date;
    state.startup = config.startup;
    state.slotSaved[0] = state.slotSaved[1] = now;
    state.slotConfig[0] = state.slotConfig[1] = DefaultConfiguration(config);
    state.runningConfig = state.slotConfig[SlotIndex(state.startup)];
    state.bootTime = now;
    return state;
}

std::string StartupStamp(std::int64_t time) {
    std::time_t t = static_cast<std::time_t>(time);
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr)
        return std::string(24, ' ');
    // The C locale's English names, a space-padded day and a four-digit
    // year give exactly 24 bytes, as the routers print it.
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %04d", kDays[local.tm_wday % 7],
                  kMonths[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min,
                  local.tm_sec, (local.tm_year + 1900) % 10000);
    return text;
}

std::string SystemInformation(const RouterConfig& config, const RouterState& state,
                              std::int64_t now) {
    std::string text;
    text += "System : " + state.model + "\r\n";
    text += "Name : " + (config.name.empty() ? config.address : config.name) + "\r\n";
    if (config.firmwareForm != FirmwareForm::kRunning)
        text += VersionLine("Firm Ver. : ", state.running());
    if (config.firmwareForm != FirmwareForm::kPlain) {
        text += std::string("Running-firmware : Firmware") + (state.runningBank == 0 ? "1" : "2") +
                "\r\n";
        text += VersionLine("Firmware1 Ver. : ", state.bank[0]);
        text += VersionLine("Firmware2 Ver. : ", state.bank[1]);
    }
    text += "Startup-config : " + StartupStamp(state.slotSaved[SlotIndex(state.startup)]) + " " +
            state.startup + "\r\n";
    text += "Uptime : " + Uptime(now - state.bootTime) + "\r\n";
    return text;
}

std::string IdInfo(const RouterState& state) {
    return "TYPE    : " + state.model + "\r\n" +
           "FIRM    : " + FormatVersion(state.running().major, state.running().minor) + "\r\n" +
           "CURRENT : " + state.startup + "\r\n";
}

std::string TechSupport(const RouterConfig& config, const RouterState& state, std::int64_t now) {
    const std::size_t size = config.techSupportBytes;
    if (size == 0)
        return {};
    std::string text = "### show system information ###\r\n" +
                       SystemInformation(config, state, now) + "\r\n### show log ###\r\n";
    for (unsigned n = 1; text.size() < size; ++n) {
        char line[160];
        std::snprintf(line, sizeof line,
                      "%s [%06u] %s: interface lan0 link up, 100Mbps full duplex, counter %u\r\n",
                      LogStamp(now - 3600 + n % 3600).c_str(), n, state.model.c_str(), n * 7);
        text += line;
    }
    // Exactly the configured size, still ending in a line end.
    text.resize(size);
    if (size >= 2)
        text.replace(size - 2, 2, "\r\n");
    return text;
}

std::string ShownConfiguration(const RouterState& state) {
    std::string text;
    std::string_view rest = state.runningConfig;
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        text.append(line);
        text += "\r\n";
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
    return text;
}

std::string DefaultConfiguration(const RouterConfig& config) {
    // The LAN is numbered after the last byte of the router's address.
    std::string lan = "1";
    if (auto dot = config.address.rfind('.'); dot != std::string::npos)
        lan = config.address.substr(dot + 1);
    const std::string name = config.name.empty() ? config.address : config.name;
    return "! " + config.model +
           " configuration\n"
           "hostname " +
           name +
           "\n"
           "timezone +09 00\n"
           "interface lan0\n"
           " ip address 192.168." +
           lan +
           ".1/24\n"
           " exit\n"
           "interface wan0\n"
           " ip address dhcp\n"
           " ip nat masquerade\n"
           " exit\n"
           "ip route 0.0.0.0/0 wan0\n"
           "syslog facility local0\n"
           "telnet-server enable\n"
           "ftp-server enable\n"
           "eof\n";
}

std::optional<std::int64_t> ParsePlanTime(const std::string& digits) {
    if (digits.size() != 10)
        return std::nullopt;
    for (char c : digits)
        if (c < '0' || c > '9')
            return std::nullopt;
    auto two = [&](std::size_t at) { return (digits[at] - '0') * 10 + (digits[at + 1] - '0'); };
    int month = two(2);
    int day = two(4);
    int hour = two(6);
    int minute = two(8);
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59)
        return std::nullopt;
    std::int64_t time = MakeLocalTime(2000 + two(0), month, day, hour, minute, 0);
    if (time < 0)
        return std::nullopt;
    return time;
}

std::vector<OutputPiece> InsertSilence(std::vector<OutputPiece> pieces, int delayMs) {
    std::size_t total = 0;
    for (const auto& piece : pieces)
        total += piece.bytes.size();
    if (total < 2 || delayMs <= 0)
        return pieces;
    const std::size_t middle = total / 2;
    std::vector<OutputPiece> result;
    std::size_t seen = 0;
    bool inserted = false;
    for (auto& piece : pieces) {
        const std::size_t size = piece.bytes.size();
        if (!inserted && middle >= seen && middle < seen + size) {
            const std::size_t cut = middle - seen;
            if (cut > 0)
                result.push_back({piece.bytes.substr(0, cut), piece.delayMs});
            result.push_back({piece.bytes.substr(cut), (cut > 0 ? 0 : piece.delayMs) + delayMs});
            inserted = true;
        } else {
            result.push_back(std::move(piece));
        }
        seen += size;
    }
    return result;
}

ShellReply RouterShell::Run(const std::string& line, std::int64_t now) {
    const std::vector<std::string> words = Words(line);
    if (words.empty())
        return {};
    const std::string& verb = words[0];

    if (words == std::vector<std::string>{"show", "system", "information"})
        return Lines(SystemInformation(config_, state_, now));
    if (words == std::vector<std::string>{"show", "config"})
        return Lines(ShownConfiguration(state_));
    if (words == std::vector<std::string>{"idinfo", "-c"})
        return Lines(IdInfo(state_));
    if (words == std::vector<std::string>{"show", "tech-support"} ||
        words == std::vector<std::string>{"tech-support"}) {
        ShellReply reply;
        std::string text = TechSupport(config_, state_, now);
        for (std::size_t at = 0; at < text.size(); at += kChunk)
            reply.output.push_back(
                {text.substr(at, kChunk), at == 0 ? 0 : config_.techSupportPaceMs});
        return reply;
    }
    if (verb == "configure" && words.size() == 1) {
        configuring_ = true;
        return {};
    }
    if ((verb == "commit" || verb == "enable") && words.size() == 1)
        return {};
    if (verb == "end" && words.size() == 1) {
        configuring_ = false;
        return {};
    }
    if (verb == "exit" && words.size() == 1) {
        if (configuring_) {
            configuring_ = false;
            return {};
        }
        ShellReply reply;
        reply.then = ShellReply::Then::kClose;
        return reply;
    }
    if (verb == "save") {
        std::string slot = words.size() > 1 ? words[1] : state_.startup;
        if (words.size() > 2 || (slot != "config1" && slot != "config2"))
            return Lines("% Invalid slot\r\n");
        state_.slotSaved[SlotIndex(slot)] = now;
        state_.slotConfig[SlotIndex(slot)] = state_.runningConfig;
        return Lines("Saving configuration to " + slot + " ... done\r\n");
    }
    if (verb == "reset") {
        if (words.size() > 2 ||
            (words.size() == 2 && words[1] != "config1" && words[1] != "config2"))
            return Lines("% Invalid slot\r\n");
        ShellReply reply = Lines("Restarting system ...\r\n");
        reply.then = ShellReply::Then::kReset;
        if (words.size() == 2)
            reply.resetSlot = words[1];
        return reply;
    }
    if (verb == "addact") {
        // addact <number> <YYMMDDHHMM> reset [slot]
        if (words.size() < 4 || words.size() > 5 || words[3] != "reset" ||
            words[1].find_first_not_of("0123456789") != std::string::npos)
            return Lines("% Invalid addact command\r\n");
        auto due = ParsePlanTime(words[2]);
        if (!due)
            return Lines("% Invalid time\r\n");
        std::string slot = words.size() == 5 ? words[4] : "";
        if (!slot.empty() && slot != "config1" && slot != "config2")
            return Lines("% Invalid slot\r\n");
        ShellReply reply;
        reply.plan = PlannedRestart{words[2], slot, *due};
        return reply;
    }
    return Lines("% Unknown command\r\n");
}

}  // namespace quellin::tarn
