// Hand-edited Syslogd.ini files: parse, render, and parse the rendering
// again; reading and writing must agree with the shared profile-file rules.
#include "profile_file.h"
#include "syslogd_settings.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace quellin;
using namespace quellin::syslogd;

// A value as written on one line.
std::string Flat(std::string text) {
    for (char& c : text) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    return text;
}

void CheckAgainstProfileRules(std::string_view bytes, const SyslogdSettings& settings) {
    ProfileDocument doc(bytes);
    std::string path = doc.Find(kSettingsSection, "LogPath").value_or(kDefaultLogPath);
    if (path.size() <= 254 && settings.logPath != path)
        std::abort();
    if (!settings.searchTable.empty()) {
        std::string key = doc.Find(kSettingsSection, "KeyStr1").value_or("");
        if (key.size() <= 254 && settings.searchTable[0].keyStr != key)
            std::abort();
    }
    // Key by key through the profile module gives the same bytes as the
    // one-pass rendering (kept to small tables: the reference is quadratic).
    if (settings.searchTable.size() <= 3) {
        for (const auto& [key, value] : SettingsEntries(settings, bytes))
            doc.Set(kSettingsSection, key, value);
        if (doc.Bytes() != RenderSettings(bytes, settings))
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    SettingsLoad load = ParseSettings(bytes);
    if (load.settings.searchTable.size() != SearchTableSize(load.settings.searchMaxKensu))
        std::abort();
    if (!load.ok())
        return 0;
    CheckAgainstProfileRules(bytes, load.settings);
    SettingsLoad again = ParseSettings(RenderSettings(bytes, load.settings));
    if (!again.ok())
        std::abort();
    // The keys of the mail transport, hold-off, rotation and forwarding
    // come back as they were: numbers exactly, the login with its blanks
    // and quotes (a line break inside a value becomes a space, as in every
    // text key), and the other texts unchanged from the first save on.
    const SyslogdSettings& a = load.settings;
    const SyslogdSettings& b = again.settings;
    if (a.smtpSecurity != b.smtpSecurity || a.smtpAuthFlag != b.smtpAuthFlag ||
        Flat(a.smtpUser) != b.smtpUser || Flat(a.smtpPassword) != b.smtpPassword ||
        a.alertHoldSeconds != b.alertHoldSeconds || a.logRotateType != b.logRotateType ||
        a.logRotateSizeMB != b.logRotateSizeMB || a.logKeepCount != b.logKeepCount ||
        a.forwardFlag != b.forwardFlag || a.forwardPort != b.forwardPort ||
        a.forwardProtocol != b.forwardProtocol || a.forwardFormat != b.forwardFormat)
        std::abort();
    SettingsLoad third = ParseSettings(RenderSettings(bytes, b));
    if (!third.ok() || third.settings.smtpCAFile != b.smtpCAFile ||
        third.settings.forwardHost != b.forwardHost)
        std::abort();
    return 0;
}
