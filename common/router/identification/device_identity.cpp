#include "device_identity.h"

#include "codec.h"

#include <algorithm>

#include <array>
#include <cstdio>
#include <optional>

namespace quellin {
namespace {

// Leading decimal digits; none gives 0 (atoi without sign handling beyond
// what the version texts use).
std::int32_t LeadingNumber(const std::string& text) {
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        value = value * 10u + static_cast<std::uint32_t>(c - '0');
    }
    return static_cast<std::int32_t>(value);
}

constexpr std::size_t kModelLimit = 30;
constexpr std::size_t kValueLimit = 32;

// The router's answer is handed on as a zero-terminated text, so nothing
// after a NUL byte takes part in the searches.
std::string_view UpToNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// The bytes after the first `label`, `skip` bytes further on, up to the next
// `end` byte; nullopt when the label, the skipped bytes or the end is missing.
std::optional<std::string_view> ValueAfter(std::string_view text, std::string_view label, char end,
                                           std::size_t skip = 0) {
    std::size_t at = text.find(label);
    if (at == std::string_view::npos)
        return std::nullopt;
    std::size_t begin = at + label.size();
    if (text.size() - begin < skip)
        return std::nullopt;
    begin += skip;
    std::size_t stop = text.find(end, begin);
    if (stop == std::string_view::npos)
        return std::nullopt;
    return text.substr(begin, stop - begin);
}

bool TakeText(std::optional<std::string_view> value, std::size_t limit, std::string& field) {
    if (!value || value->size() > limit)
        return false;
    field = *value;
    return true;
}

bool TakeVersion(std::optional<std::string_view> value, DeviceIdentity& identity) {
    if (!value || value->size() > kValueLimit)
        return false;
    return ParseVersionText(std::string(*value), identity.major, identity.minor) == 0;
}

// Routers that boot one of two firmware banks name the running one.
std::string_view VersionLabel(std::string_view text) {
    constexpr std::string_view kRunning = "Running-firmware : ";
    std::size_t at = text.find(kRunning);
    if (at != std::string_view::npos) {
        std::string_view bank = text.substr(at + kRunning.size());
        if (bank.starts_with("Firmware1"))
            return "\r\nFirmware1 Ver. : ";
        if (bank.starts_with("Firmware2"))
            return "\r\nFirmware2 Ver. : ";
    }
    return "\r\nFirm Ver. : ";
}

// The configuration name that follows " config" in the label's line.
std::optional<std::string_view> ConfigWordAfter(std::string_view text, std::string_view label) {
    std::optional<std::string_view> line = ValueAfter(text, label, '\r');
    if (!line)
        return std::nullopt;
    std::size_t word = line->find(" config");
    if (word == std::string_view::npos)
        return std::nullopt;
    return line->substr(word + 1);
}

}  // namespace

int ParseVersionText(const std::string& text, std::int32_t& major, std::int32_t& minor) {
    // Only the first 31 bytes (up to a zero byte) take part.
    std::string buffer = text.substr(0, 31);
    if (auto nul = buffer.find('\0'); nul != std::string::npos)
        buffer.resize(nul);
    if (buffer.empty() || buffer[0] != 'V')
        return -1;
    auto dot = buffer.find('.', 1);
    if (dot == std::string::npos)
        return -1;
    major = LeadingNumber(buffer.substr(1, dot - 1));
    std::string rest = buffer.substr(dot + 1);
    if (rest.size() != 2)
        return -1;
    minor = LeadingNumber(rest);
    return 0;
}

std::string FormatVersion(std::int32_t major, std::int32_t minor) {
    char text[32];
    std::snprintf(text, sizeof text, "V%02d.%02d", major, minor);
    return text;
}

int ParseSystemInformation(std::string_view text, DeviceIdentity& identity,
                           SystemInformationRules rules) {
    identity = DeviceIdentity{};
    text = UpToNul(text);
    int hits = 0;
    if (TakeText(ValueAfter(text, "System : ", '\r'), kModelLimit, identity.model))
        ++hits;

    std::string_view versionLabel =
        rules == SystemInformationRules::kNetprov ? VersionLabel(text) : "\r\nFirm Ver. : ";
    if (TakeVersion(ValueAfter(text, versionLabel, ' '), identity))
        ++hits;

    constexpr std::string_view kStartup = "Startup-config : ";
    // The label is followed by a time stamp such as "Thu Jan 26 13:08:04 2006 ".
    constexpr std::size_t kTimeStampLength = 25;
    std::optional<std::string_view> startup =
        rules == SystemInformationRules::kNetprov
            ? ValueAfter(text, kStartup, '\r', kTimeStampLength)
            : ConfigWordAfter(text, kStartup);
    if (TakeText(startup, kValueLimit, identity.startupConfig))
        ++hits;
    return hits == 3 ? 0 : -1;
}

int ParseIdInfo(std::string_view text, DeviceIdentity& identity) {
    identity = DeviceIdentity{};
    text = UpToNul(text);
    int hits = 0;
    if (TakeText(ValueAfter(text, "TYPE    : ", '\r'), kModelLimit, identity.model))
        ++hits;
    if (TakeVersion(ValueAfter(text, "FIRM    : ", '\r'), identity))
        ++hits;
    if (TakeText(ValueAfter(text, "CURRENT : ", '\r'), kValueLimit, identity.startupConfig))
        ++hits;
    return hits == 3 ? 0 : -1;
}

namespace {

Result<std::string> Ask(const std::string& address, const std::string& user,
                        const std::string& password, const std::string& command,
                        const TelnetOptions& options) {
    // An identification is a short answer; a router that floods is cut
    // early, so many identifications at once stay small.
    TelnetOptions bounded = options;
    bounded.outputLimit = std::min(options.outputLimit, kIdentificationOutputLimit);
    CTelnetSession session(bounded);
    return session.Run(address, user, password, command);
}

constexpr char kShowSystemInformation[] = "show system information";

}  // namespace

Result<DeviceIdentity> IdentifyDevice(const std::string& address, const std::string& user,
                                      const std::string& password, SystemInformationRules rules,
                                      const TelnetOptions& options) {
    Result<std::string> answer = Ask(address, user, password, kShowSystemInformation, options);
    if (!answer)
        return answer.error();
    DeviceIdentity identity;
    if (ParseSystemInformation(*answer, identity, rules) != 0)
        return Error{ErrorCode::kFormat,
                     cp932::Jp("show system information の応答に機種、版または起動構成が"
                               "ありません")};
    return identity;
}

int QuerySystemInformation(const std::string& address, const std::string& user,
                           const std::string& password, DeviceIdentity& identity,
                           SystemInformationRules rules, const TelnetOptions& options) {
    identity = DeviceIdentity{};
    Result<std::string> answer = Ask(address, user, password, kShowSystemInformation, options);
    if (!answer)
        return -1;
    return ParseSystemInformation(*answer, identity, rules) == 0 ? 0 : -2;
}

int QueryIdInfo(const std::string& address, const std::string& user, const std::string& password,
                DeviceIdentity& identity, const TelnetOptions& options) {
    identity = DeviceIdentity{};
    Result<std::string> answer = Ask(address, user, password, "idinfo -c", options);
    if (!answer)
        return -1;
    return ParseIdInfo(*answer, identity) == 0 ? 0 : -2;
}

namespace {

constexpr std::array<std::string_view, 5> kLegacyModels = {"Tarn-10", "Tarn-20B", "Tarn-60",
                                                           "Tarn-70", "Tarn-90"};

std::string WithoutDashes(std::string_view text) {
    std::string result(text);
    std::erase(result, '-');
    return result;
}

}  // namespace

bool IsGatedModel(const DeviceIdentity& identity) {
    if (identity.major >= 30)
        return false;
    for (std::string_view model : kLegacyModels)
        if (identity.model == model)
            return true;
    return false;
}

bool IsGatedModelWithoutDashes(const DeviceIdentity& identity) {
    if (identity.major >= 30)
        return false;
    const std::string model = WithoutDashes(identity.model);
    for (std::string_view legacy : kLegacyModels)
        if (model == WithoutDashes(legacy))
            return true;
    return false;
}

}  // namespace quellin
