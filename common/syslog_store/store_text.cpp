#include "store_text.h"

#include "codec.h"

#include <array>
#include <cctype>
#include <charconv>
#include <ctime>

namespace quellin::syslogstore {
namespace {

constexpr std::array<std::string_view, 8> kLevelNames = {
    "Emergency", "Alert", "Critical", "Error", "Warning", "Notice", "Info", "Debug"};
// The short names of syslog configurations, as people type them.
constexpr std::array<std::string_view, 8> kLevelShortNames = {"emerg", "alert",  "crit", "err",
                                                              "warn",  "notice", "info", "debug"};
constexpr std::array<std::string_view, 24> kFacilityNames = {
    "Kern",   "User",   "Mail",     "Daemon", "Auth",   "Syslog",    "Lpr",       "News",
    "Uucp",   "Cron",   "Authpriv", "Ftp",    "Ntp",    "Log Audit", "Log Alert", "",
    "Local0", "Local1", "Local2",   "Local3", "Local4", "Local5",    "Local6",    "Local7"};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// Reads exactly `digits` decimal digits at `pos`.
std::optional<int> Digits(std::string_view text, std::size_t& pos, std::size_t digits) {
    if (pos + digits > text.size())
        return std::nullopt;
    int value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const char c = text[pos + i];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    pos += digits;
    return value;
}

std::optional<std::int64_t> Number(std::string_view text) {
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// "-15m": that long before now.
std::optional<std::int64_t> Relative(std::string_view text, std::int64_t now) {
    if (!text.empty() && text.front() == '-')
        text.remove_prefix(1);
    if (text.size() < 2)
        return std::nullopt;
    std::int64_t unit = 0;
    switch (text.back()) {
        case 's':
            unit = 1;
            break;
        case 'm':
            unit = 60;
            break;
        case 'h':
            unit = 3600;
            break;
        case 'd':
            unit = 86400;
            break;
        case 'w':
            unit = 7 * 86400;
            break;
        default:
            return std::nullopt;
    }
    auto count = Number(text.substr(0, text.size() - 1));
    // Up to a century back.
    if (!count || *count < 0 || *count > std::int64_t{100} * 366 * 86400 / unit)
        return std::nullopt;
    return now - *count * unit;
}

// Local midnight `daysBack` days before today.
std::int64_t LocalMidnight(std::int64_t now, int daysBack) {
    const std::time_t t = static_cast<std::time_t>(now);
    std::tm local{};
    localtime_r(&t, &local);
    return MakeLocalTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday - daysBack, 0, 0, 0);
}

// "+09:00", "-0530", "Z": seconds east of UTC.
std::optional<std::int64_t> ZoneOffset(std::string_view zone) {
    if (zone == "Z" || zone == "z")
        return 0;
    if (zone.size() < 3 || (zone[0] != '+' && zone[0] != '-'))
        return std::nullopt;
    std::size_t pos = 1;
    auto hours = Digits(zone, pos, 2);
    if (pos < zone.size() && zone[pos] == ':')
        ++pos;
    std::optional<int> minutes = pos < zone.size() ? Digits(zone, pos, 2) : 0;
    if (!hours || !minutes || pos != zone.size() || *hours > 23 || *minutes > 59)
        return std::nullopt;
    const std::int64_t offset = *hours * 3600 + *minutes * 60;
    return zone[0] == '-' ? -offset : offset;
}

// "YYYY-MM-DD[( |T)hh:mm[:ss]][zone]".
std::optional<std::int64_t> Absolute(std::string_view text) {
    std::size_t pos = 0;
    auto year = Digits(text, pos, 4);
    if (!year || pos >= text.size() || text[pos++] != '-')
        return std::nullopt;
    auto month = Digits(text, pos, 2);
    if (!month || pos >= text.size() || text[pos++] != '-')
        return std::nullopt;
    auto day = Digits(text, pos, 2);
    if (!day)
        return std::nullopt;
    std::array<int, 3> hms{0, 0, 0};
    if (pos < text.size() && (text[pos] == ' ' || text[pos] == 'T')) {
        ++pos;
        auto hour = Digits(text, pos, 2);
        if (!hour || pos >= text.size() || text[pos++] != ':')
            return std::nullopt;
        auto minute = Digits(text, pos, 2);
        if (!minute)
            return std::nullopt;
        hms = {*hour, *minute, 0};
        if (pos < text.size() && text[pos] == ':') {
            ++pos;
            auto second = Digits(text, pos, 2);
            if (!second)
                return std::nullopt;
            hms[2] = *second;
        }
    }
    if (*month < 1 || *month > 12 || *day < 1 || *day > 31 || hms[0] > 23 || hms[1] > 59 ||
        hms[2] > 59)
        return std::nullopt;
    std::optional<std::int64_t> offset;
    if (pos < text.size()) {
        offset = ZoneOffset(text.substr(pos));
        if (!offset)
            return std::nullopt;
    }
    std::int64_t time;
    std::tm back{};
    if (offset) {
        std::tm fields{};
        fields.tm_year = *year - 1900;
        fields.tm_mon = *month - 1;
        fields.tm_mday = *day;
        fields.tm_hour = hms[0];
        fields.tm_min = hms[1];
        fields.tm_sec = hms[2];
        time = static_cast<std::int64_t>(timegm(&fields)) - *offset;
        const std::time_t t = static_cast<std::time_t>(time + *offset);
        gmtime_r(&t, &back);
    } else {
        time = MakeLocalTime(*year, *month, *day, hms[0], hms[1], hms[2]);
        const std::time_t t = static_cast<std::time_t>(time);
        localtime_r(&t, &back);
    }
    // A day that does not exist (February 30) comes back as another date.
    if (back.tm_mday != *day || back.tm_mon != *month - 1)
        return std::nullopt;
    return time;
}

std::optional<int> LevelOf(std::string_view text) {
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '7')
        return text[0] - '0';
    for (int level = 0; level < 8; ++level) {
        if (EqualsIgnoringCase(text, kLevelNames[level]) ||
            EqualsIgnoringCase(text, kLevelShortNames[level]))
            return level;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::int64_t> ParseTimePoint(std::string_view text, const Clock& clock) {
    if (text.size() > 64)
        return std::nullopt;
    const std::int64_t now = clock.Now();
    if (text == "now")
        return now;
    if (text == "today")
        return LocalMidnight(now, 0);
    if (text == "yesterday")
        return LocalMidnight(now, 1);
    if (!text.empty() && text.front() == '@')
        return Number(text.substr(1));
    if (text.size() >= 10 && text[4] == '-')
        return Absolute(text);
    return Relative(text, now);
}

std::optional<std::uint8_t> ParseLevelMask(std::string_view text) {
    if (text.empty() || text.size() > 256)
        return std::nullopt;
    unsigned mask = 0;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        const std::size_t dash = item.find('-');
        auto from = LevelOf(item.substr(0, dash));
        auto to = dash == std::string_view::npos ? from : LevelOf(item.substr(dash + 1));
        if (!from || !to)
            return std::nullopt;
        for (int level = std::min(*from, *to); level <= std::max(*from, *to); ++level)
            mask |= 1u << level;
        if (comma == std::string_view::npos)
            return static_cast<std::uint8_t>(mask);
        text.remove_prefix(comma + 1);
    }
}

std::string_view LevelName(int level) {
    return level >= 0 && level < 8 ? kLevelNames[level] : std::string_view();
}

std::string_view FacilityName(int facility) {
    return facility >= 0 && facility < 24 ? kFacilityNames[facility] : std::string_view();
}

std::optional<std::uint32_t> ParseIPv4Address(std::string_view text) {
    std::uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = part < 3 ? text.find('.') : text.size();
        if (dot == std::string_view::npos || dot == 0 || dot > 3)
            return std::nullopt;
        auto value = Number(text.substr(0, dot));
        if (!value || *value > 255 || text[0] == '+' || text[0] == '-')
            return std::nullopt;
        address = (address << 8) | static_cast<std::uint32_t>(*value);
        text.remove_prefix(part < 3 ? dot + 1 : dot);
    }
    return address;
}

std::string FormatIPv4Address(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 255) + "." +
           std::to_string((address >> 8) & 255) + "." + std::to_string(address & 255);
}

std::filesystem::path DefaultStorePath(std::string_view logPath) {
    return cp932::ToPath(logPath).parent_path() / "syslogd-store.db";
}

}  // namespace quellin::syslogstore
