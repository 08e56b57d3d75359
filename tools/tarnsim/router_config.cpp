#include "router_config.h"

#include "device_identity.h"

#include <sstream>

namespace quellin::tarn {
namespace {

std::optional<long long> ParseNumber(const std::string& text, long long low, long long high) {
    if (text.empty() || text.size() > 12)
        return std::nullopt;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < low || value > high)
        return std::nullopt;
    return value;
}

bool SetNumber(int& target, const std::string& value, long long low, long long high,
               const std::string& key, std::string& error) {
    auto number = ParseNumber(value, low, high);
    if (!number) {
        error = key + " needs a number from " + std::to_string(low) + " to " + std::to_string(high);
        return false;
    }
    target = static_cast<int>(*number);
    return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator))
        if (!part.empty())
            parts.push_back(part);
    return parts;
}

bool ApplyFaults(Faults& faults, const std::string& value, std::string& error) {
    for (const auto& item : Split(value, ',')) {
        auto colon = item.find(':');
        std::string name = item.substr(0, colon);
        std::string argument = colon == std::string::npos ? "" : item.substr(colon + 1);
        if (name == "none") {
            faults = Faults{};
        } else if (name == "no-banner") {
            faults.noBanner = true;
        } else if (name == "wrong-password") {
            faults.wrongPassword = true;
        } else if (name == "no-prompt") {
            faults.noPrompt = true;
        } else if (name == "refuse-ftp-login") {
            faults.refuseFtpLogin = true;
        } else if (name == "close-after-command") {
            faults.closeAfterCommand = argument;
        } else if (name == "silence") {
            faults.silenceMs = 8000;
            if (colon != std::string::npos &&
                !SetNumber(faults.silenceMs, argument, 1, 3600000, "silence", error))
                return false;
        } else if (name == "flood") {
            faults.flood = true;
        } else if (name == "trickle") {
            faults.trickleMs = 4000;
            if (colon != std::string::npos &&
                !SetNumber(faults.trickleMs, argument, 1, 3600000, "trickle", error))
                return false;
        } else if (name == "long-line") {
            int bytes = 50 << 20;
            if (colon != std::string::npos &&
                !SetNumber(bytes, argument, 1, 1 << 30, "long-line", error))
                return false;
            faults.longLineBytes = static_cast<std::size_t>(bytes);
        } else {
            error = "unknown fault " + name;
            return false;
        }
    }
    return true;
}

bool ValidSlot(const std::string& slot) {
    return slot == "config1" || slot == "config2";
}

bool ValidName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 64)
        return false;
    for (char c : name)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20)
            return false;
    return true;
}

}  // namespace

bool ApplyRouterSetting(RouterConfig& config, const std::string& key, const std::string& value,
                        std::string& error) {
    if (key == "name") {
        config.name = value;
    } else if (key == "address") {
        config.address = value;
    } else if (key == "model") {
        config.model = value;
    } else if (key == "version") {
        config.version = value;
    } else if (key == "ptf") {
        config.ptf = value;
    } else if (key == "date") {
        config.date = value;
    } else if (key == "startup") {
        config.startup = value;
    } else if (key == "firmware-form") {
        if (value == "plain") {
            config.firmwareForm = FirmwareForm::kPlain;
        } else if (value == "running") {
            config.firmwareForm = FirmwareForm::kRunning;
        } else if (value == "both") {
            config.firmwareForm = FirmwareForm::kBoth;
        } else {
            error = "firmware-form is plain, running or both";
            return false;
        }
    } else if (key == "second-version") {
        config.secondVersion = value;
    } else if (key == "user") {
        config.user = value;
    } else if (key == "password") {
        config.password = value;
    } else if (key == "telnet-port") {
        return SetNumber(config.telnetPort, value, 0, 65535, key, error);
    } else if (key == "ftp-port") {
        return SetNumber(config.ftpPort, value, 0, 65535, key, error);
    } else if (key == "reset-delay-ms") {
        return SetNumber(config.resetDelayMs, value, 0, 3600000, key, error);
    } else if (key == "tech-support-bytes") {
        int bytes = 0;
        if (!SetNumber(bytes, value, 0, 64 << 20, key, error))
            return false;
        config.techSupportBytes = static_cast<std::size_t>(bytes);
    } else if (key == "tech-support-pace-ms") {
        return SetNumber(config.techSupportPaceMs, value, 0, 60000, key, error);
    } else if (key == "telnet-options") {
        config.doEcho = config.willEcho = false;
        for (const auto& option : Split(value, ',')) {
            if (option == "do-echo") {
                config.doEcho = true;
            } else if (option == "will-echo") {
                config.willEcho = true;
            } else if (option != "none") {
                error = "telnet-options are do-echo, will-echo or none";
                return false;
            }
        }
    } else if (key == "fault") {
        return ApplyFaults(config.faults, value, error);
    } else if (key == "fault-command") {
        config.faults.outputCommand = value;
    } else if (key == "syslog") {
        if (value.empty() || value == "none") {
            config.syslog.reset();
            return true;
        }
        config.syslog = ParseEndpoint(value);
        if (!config.syslog) {
            error = "syslog needs ADDRESS:PORT";
            return false;
        }
    } else if (key == "max-upload-bytes") {
        int bytes = 0;
        if (!SetNumber(bytes, value, 1, 1 << 30, key, error))
            return false;
        config.maxUploadBytes = static_cast<std::size_t>(bytes);
    } else if (key == "idle-timeout-ms") {
        return SetNumber(config.idleTimeoutMs, value, 100, 86400000, key, error);
    } else {
        error = "unknown setting " + key;
        return false;
    }
    return true;
}

bool CheckRouterConfig(const RouterConfig& config, std::string& error) {
    auto address = ParseIpv4(config.address);
    if (!address || !IsLoopback(*address)) {
        error = "address " + config.address + " is not a loopback address (127.x.x.x)";
        return false;
    }
    if (config.syslog && !IsLoopback(config.syslog->address)) {
        error = "syslog target must be a loopback address";
        return false;
    }
    std::int32_t major = 0;
    std::int32_t minor = 0;
    if (ParseVersionText(config.version, major, minor) != 0 ||
        ParseVersionText(config.secondVersion, major, minor) != 0) {
        error = "versions are written V<major>.<two digits>, e.g. V10.02";
        return false;
    }
    if (!ValidSlot(config.startup)) {
        error = "startup is config1 or config2";
        return false;
    }
    if (!config.name.empty() && !ValidName(config.name)) {
        error = "name " + config.name + " cannot name a folder";
        return false;
    }
    if (config.model.empty() || config.model.size() > 30) {
        error = "model needs 1 to 30 bytes";
        return false;
    }
    return true;
}

bool ParseFleet(const std::string& text, const RouterConfig& base,
                std::vector<RouterConfig>& routers, std::string& error) {
    RouterConfig defaults = base;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        auto fail = [&](const std::string& reason) {
            error = "line " + std::to_string(number) + ": " + reason;
            return false;
        };
        if (auto hash = line.find('#'); hash != std::string::npos)
            line.resize(hash);
        std::istringstream words(line);
        std::string kind;
        if (!(words >> kind))
            continue;
        if (kind != "router" && kind != "defaults")
            return fail("expected router or defaults");
        RouterConfig config = defaults;
        int count = 1;
        std::string word;
        while (words >> word) {
            auto equals = word.find('=');
            if (equals == std::string::npos)
                return fail("expected key=value, got " + word);
            std::string key = word.substr(0, equals);
            std::string value = word.substr(equals + 1);
            if (key == "count" && kind == "router") {
                auto n = ParseNumber(value, 1, 4096);
                if (!n)
                    return fail("count needs a number from 1 to 4096");
                count = static_cast<int>(*n);
                continue;
            }
            std::string reason;
            if (!ApplyRouterSetting(config, key, value, reason))
                return fail(reason);
        }
        if (kind == "defaults") {
            defaults = config;
            continue;
        }
        auto first = ParseIpv4(config.address);
        if (!first)
            return fail("address " + config.address + " is not dotted IPv4");
        for (int i = 0; i < count; ++i) {
            RouterConfig router = config;
            router.address = FormatIpv4(NextAddress(*first, static_cast<std::uint32_t>(i)));
            if (count > 1) {
                std::string pattern = router.name.empty() ? "" : router.name;
                if (auto at = pattern.find("%d"); at != std::string::npos) {
                    router.name = pattern.replace(at, 2, std::to_string(i + 1));
                } else if (!pattern.empty()) {
                    router.name = pattern + "-" + std::to_string(i + 1);
                }
            }
            std::string reason;
            if (!CheckRouterConfig(router, reason))
                return fail(reason);
            routers.push_back(std::move(router));
        }
    }
    return true;
}

}  // namespace quellin::tarn
