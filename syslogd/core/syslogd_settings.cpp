#include "syslogd_settings.h"

#include "codec.h"
#include "file_descriptor.h"
#include "file_replacement.h"
#include "profile_file.h"
#include "store_text.h"

#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>

namespace quellin::syslogd {
namespace {

// Values are read as into a 255-byte buffer.
constexpr std::size_t kValueLimit = 254;

std::string CutValue(std::string value) {
    if (value.size() <= kValueLimit)
        return value;
    std::size_t cut = 0;
    for (std::size_t i = 0; i < kValueLimit;) {
        std::size_t width = cp932::IsLeadByte(static_cast<unsigned char>(value[i])) ? 2 : 1;
        if (i + width > kValueLimit)
            break;
        i += width;
        cut = i;
    }
    value.resize(cut);
    return value;
}

// A whole decimal number with an optional sign; blanks around it were
// already removed by the profile reader.
std::optional<std::int64_t> ParseWhole(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > (std::int64_t{1} << 40))
            return std::nullopt;
    }
    return negative ? -value : value;
}

class Reader {
public:
    explicit Reader(std::optional<std::string_view> bytes) : exists_(bytes.has_value()) {
        if (!bytes)
            return;
        // One pass over the section: with a table of up to
        // kSearchTableLimit entries, looking each key up alone takes seconds.
        for (auto& [key, value] : ProfileDocument(*bytes).Values(kSettingsSection))
            values_.try_emplace(FoldProfileName(key), std::move(value));
    }

    bool exists() const { return exists_; }

    std::string Text(std::string_view key, std::string_view defaultValue) const {
        const std::string* found = Find(key);
        return CutValue(found != nullptr ? *found : std::string(defaultValue));
    }

    // Reads a number that fits T; records the key as failed otherwise.
    template <typename T>
    T Number(std::string_view key, T defaultValue, std::string& failedKey) const {
        const std::string* found = Find(key);
        if (found == nullptr)
            return defaultValue;
        auto value = ParseWhole(CutValue(*found));
        if (!value || *value < std::numeric_limits<T>::min() ||
            *value > std::numeric_limits<T>::max()) {
            if (failedKey.empty())
                failedKey = std::string(key);
            return defaultValue;
        }
        return static_cast<T>(*value);
    }

    bool Flag(std::string_view key, bool defaultValue, std::string& failedKey) const {
        return Number<std::int32_t>(key, defaultValue ? 1 : 0, failedKey) == 1;
    }

private:
    const std::string* Find(std::string_view key) const {
        auto it = values_.find(FoldProfileName(key));
        return it == values_.end() ? nullptr : &it->second;
    }

    bool exists_;
    std::unordered_map<std::string, std::string> values_;
};

// Writes keys into the section as the profile write does one by one: a key
// present replaces its first line in place, a new key goes after the last
// non-blank line of the section, a missing section is added at the end.
class Writer {
public:
    void Set(std::string key, std::string value) {
        entries_.push_back({std::move(key), std::move(value)});
    }

    std::string Apply(std::string_view existing) const {
        ProfileDocument document(existing);
        document.SetMany(kSettingsSection, entries_);
        return document.Bytes();
    }

private:
    std::vector<std::pair<std::string, std::string>> entries_;
};

std::string FlagText(bool flag) {
    return flag ? "1" : "0";
}

// Keys other than the two that carry "VBCRLF" must stay on their line.
std::string OneLine(std::string_view text) {
    std::string out(text);
    std::replace_if(
        out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return out;
}

std::string Numbered(std::string_view key, std::size_t index) {
    return std::string(key) + std::to_string(index + 1);
}

// A value the profile reader would change (blanks around it, or enclosing
// quotes of its own) is written inside double quotes, which the reader
// takes off again: a password must come back as it was typed.
std::string Verbatim(std::string_view text) {
    std::string value = OneLine(text);
    if (value.empty())
        return value;
    const bool blankAround = value.front() == ' ' || value.front() == '\t' || value.back() == ' ' ||
                             value.back() == '\t';
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
    return blankAround || quoted ? '"' + value + '"' : value;
}

// Names of the keys a file's SETUP section holds, folded.
std::unordered_set<std::string> KeysIn(std::string_view existing) {
    std::unordered_set<std::string> keys;
    if (existing.empty())
        return keys;
    for (const std::string& key : ProfileDocument(existing).Keys(kSettingsSection))
        keys.insert(FoldProfileName(key));
    return keys;
}

}  // namespace

std::string ShowMessageItselfText() {
    return cp932::Jp("<Syslogメッセージを表示する>");
}

SyslogdSettings::SyslogdSettings() : searchTable(SearchTableSize(searchMaxKensu)) {}

syslogstore::StoreSettings StoreSettingsOf(const SyslogdSettings& settings) {
    syslogstore::StoreSettings store = settings.store;
    if (store.path.empty())
        store.path = syslogstore::DefaultStorePath(settings.logPath);
    return store;
}

std::size_t SearchTableSize(std::int32_t searchMaxKensu) {
    return static_cast<std::size_t>(std::clamp(searchMaxKensu, 0, kSearchTableLimit));
}

std::size_t ActiveEntryCount(const std::vector<SearchEntry>& table) {
    std::size_t n = 0;
    while (n < table.size() && !table[n].keyStr.empty())
        ++n;
    return n;
}

std::filesystem::path SettingsFilePath(const std::string& programFolder) {
    std::string path = programFolder;
    if (path.empty() || path.back() != '/')
        path += '/';
    return cp932::ToPath(path + kSettingsFileName);
}

std::string EncodeLineBreaks(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += "VBCRLF";
            ++i;
        } else if (text[i] == '\r' || text[i] == '\n') {
            out += "VBCRLF";
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string DecodeLineBreaks(std::string_view text) {
    static constexpr std::string_view kMarker = "VBCRLF";
    std::string out;
    for (;;) {
        auto pos = text.find(kMarker);
        out += text.substr(0, pos);
        if (pos == std::string_view::npos)
            break;
        out += "\r\n";
        text.remove_prefix(pos + kMarker.size());
    }
    return out;
}

SettingsLoad ParseSettings(std::optional<std::string_view> fileBytes,
                           const std::filesystem::path& folder) {
    Reader in(fileBytes);
    SettingsLoad load;
    SyslogdSettings& s = load.settings;
    std::string& failed = load.failedKey;

    s.mainBackColor = in.Number<std::int32_t>("MainBackColor", kSystemWindowColor, failed);
    s.mainForeColor = in.Number<std::int32_t>("MainForeColor", 0, failed);
    s.popBackColor = in.Number<std::int32_t>("POPBackColor", kSystemButtonFace, failed);
    s.popForeColor = in.Number<std::int32_t>("POPForeColor", 0, failed);
    s.maxLineCount = in.Number<std::int32_t>("MaxLineCount", 500, failed);
    s.logWriteFlag = in.Flag("LogWriteFlag", false, failed);
    s.logPath = in.Text("LogPath", kDefaultLogPath);
    s.searchMaxKensu = in.Number<std::int32_t>("SearchMaxKensu", 20, failed);
    s.mailSendFlag = in.Flag("MailSendFlag", false, failed);
    s.smtpServer = in.Text("SMTPServer", "");
    s.smtpPort = in.Number<std::int32_t>("SMTPPort", 25, failed);
    s.clientMailAddress = in.Text("ClientMailAddress", "");
    s.soundType = in.Number<std::int16_t>("SoundType", 2, failed);
    s.wavPath = in.Text("WavPath", "");
    s.dispFilter = in.Number<std::uint8_t>("DispFilter", 1, failed);
    s.filterLevel = in.Number<std::uint8_t>("FilterLevel", 0, failed);
    s.filterFacility = in.Number<std::int32_t>("FilterFacility", 0, failed);

    const SyslogdSettings defaults;
    // What the settings window would refuse keeps its default: a negative
    // LogKeepCount, say, would remove the log itself at every rotation.
    auto within = [](std::int32_t value, std::int32_t low, std::int32_t high,
                     std::int32_t fallback) {
        return value >= low && value <= high ? value : fallback;
    };
    s.smtpSecurity = in.Number<std::int32_t>("SMTPSecurity", defaults.smtpSecurity, failed);
    s.smtpAuthFlag = in.Flag("SMTPAuthFlag", defaults.smtpAuthFlag, failed);
    s.smtpUser = in.Text("SMTPUser", "");
    s.smtpPassword = in.Text("SMTPPassword", "");
    s.smtpCAFile = in.Text("SMTPCAFile", "");
    s.alertHoldSeconds =
        within(in.Number<std::int32_t>("AlertHoldSeconds", defaults.alertHoldSeconds, failed), 0,
               kMaxHoldSeconds, defaults.alertHoldSeconds);
    s.logRotateType = in.Number<std::int32_t>("LogRotateType", defaults.logRotateType, failed);
    s.logRotateSizeMB =
        within(in.Number<std::int32_t>("LogRotateSizeMB", defaults.logRotateSizeMB, failed), 1,
               kMaxRotateSizeMB, defaults.logRotateSizeMB);
    s.logKeepCount = within(in.Number<std::int32_t>("LogKeepCount", defaults.logKeepCount, failed),
                            0, kMaxKeepCount, defaults.logKeepCount);
    s.forwardFlag = in.Flag("ForwardFlag", defaults.forwardFlag, failed);
    s.forwardHost = in.Text("ForwardHost", "");
    s.forwardPort = in.Number<std::int32_t>("ForwardPort", defaults.forwardPort, failed);
    s.forwardProtocol =
        in.Number<std::int32_t>("ForwardProtocol", defaults.forwardProtocol, failed);
    s.forwardFormat =
        within(in.Number<std::int32_t>("ForwardFormat", defaults.forwardFormat, failed),
               kForwardRfc3164, kForwardRfc5424, defaults.forwardFormat);
    auto port = [&](const char* key, std::int32_t fallback) {
        return within(in.Number<std::int32_t>(key, fallback, failed), 1, 65535, fallback);
    };
    s.udpPort = port("UdpPort", defaults.udpPort);
    s.udpAddress = in.Text("UdpAddress", "");
    s.tcpFlag = in.Flag("TcpFlag", defaults.tcpFlag, failed);
    s.tcpPort = port("TcpPort", defaults.tcpPort);
    s.tlsFlag = in.Flag("TlsFlag", defaults.tlsFlag, failed);
    s.tlsPort = port("TlsPort", defaults.tlsPort);
    s.tlsCertFile = in.Text("TlsCertFile", "");
    s.tlsKeyFile = in.Text("TlsKeyFile", "");
    s.tlsCAFile = in.Text("TlsCAFile", "");
    s.store = syslogstore::ParseStoreSettings(fileBytes, folder);
    // Beside the log file: wherever the settings window moves it.
    if (s.store.path == syslogstore::DefaultStorePath(s.logPath))
        s.store.path.clear();

    s.searchTable.assign(SearchTableSize(s.searchMaxKensu), SearchEntry{});
    if (!in.exists())
        return load;
    for (std::size_t i = 0; i < s.searchTable.size(); ++i) {
        SearchEntry& e = s.searchTable[i];
        e.keyStr = in.Text(Numbered("KeyStr", i), "");
        e.dispStr = in.Text(Numbered("DispStr", i), "");
        e.mailFlag = in.Flag(Numbered("MailFlag", i), false, failed);
        e.subjectStr = in.Text(Numbered("SubjectStr", i), "");
        e.fromStr = in.Text(Numbered("FromStr", i), "");
        e.toStr = DecodeLineBreaks(in.Text(Numbered("ToStr", i), ""));
        e.dataStr = DecodeLineBreaks(in.Text(Numbered("DataStr", i), ""));
        e.noPopMail = in.Flag(Numbered("NoPop_Mail", i), false, failed);
    }
    return load;
}

SettingsLoad LoadSettings(const std::filesystem::path& path) {
    auto bytes = ReadWholeFile(path);
    if (!bytes)
        return ParseSettings(std::nullopt, path.parent_path());
    return ParseSettings(*bytes, path.parent_path());
}

bool HoldsSecret(const SyslogdSettings& settings) {
    return !settings.smtpPassword.empty();
}

std::vector<std::pair<std::string, std::string>> SettingsEntries(const SyslogdSettings& s,
                                                                 std::string_view existing) {
    std::vector<std::pair<std::string, std::string>> entries;
    auto set = [&entries](std::string key, std::string value) {
        entries.emplace_back(std::move(key), std::move(value));
    };
    set("MainBackColor", std::to_string(s.mainBackColor));
    set("MainForeColor", std::to_string(s.mainForeColor));
    set("POPBackColor", std::to_string(s.popBackColor));
    set("POPForeColor", std::to_string(s.popForeColor));
    set("MaxLineCount", std::to_string(s.maxLineCount));
    set("LogWriteFlag", FlagText(s.logWriteFlag));
    set("LogPath", OneLine(s.logPath));
    set("SearchMaxKensu", std::to_string(s.searchMaxKensu));
    set("MailSendFlag", FlagText(s.mailSendFlag));
    set("SMTPServer", OneLine(s.smtpServer));
    set("SMTPPort", std::to_string(s.smtpPort));
    set("ClientMailAddress", OneLine(s.clientMailAddress));
    set("SoundType", std::to_string(s.soundType));
    set("WavPath", OneLine(s.wavPath));
    set("DispFilter", std::to_string(s.dispFilter));
    set("FilterLevel", std::to_string(s.filterLevel));
    set("FilterFacility", std::to_string(s.filterFacility));

    // Keys beyond the original set: written once they are used.
    const SyslogdSettings d;
    const std::unordered_set<std::string> present = KeysIn(existing);
    auto extra = [&](const char* key, bool isDefault, std::string value) {
        if (!isDefault || present.contains(FoldProfileName(key)))
            set(key, std::move(value));
    };
    extra("SMTPSecurity", s.smtpSecurity == d.smtpSecurity, std::to_string(s.smtpSecurity));
    extra("SMTPAuthFlag", s.smtpAuthFlag == d.smtpAuthFlag, FlagText(s.smtpAuthFlag));
    extra("SMTPUser", s.smtpUser.empty(), Verbatim(s.smtpUser));
    extra("SMTPPassword", s.smtpPassword.empty(), Verbatim(s.smtpPassword));
    extra("SMTPCAFile", s.smtpCAFile.empty(), OneLine(s.smtpCAFile));
    extra("AlertHoldSeconds", s.alertHoldSeconds == d.alertHoldSeconds,
          std::to_string(s.alertHoldSeconds));
    extra("LogRotateType", s.logRotateType == d.logRotateType, std::to_string(s.logRotateType));
    extra("LogRotateSizeMB", s.logRotateSizeMB == d.logRotateSizeMB,
          std::to_string(s.logRotateSizeMB));
    extra("LogKeepCount", s.logKeepCount == d.logKeepCount, std::to_string(s.logKeepCount));
    extra("ForwardFlag", s.forwardFlag == d.forwardFlag, FlagText(s.forwardFlag));
    extra("ForwardHost", s.forwardHost.empty(), OneLine(s.forwardHost));
    extra("ForwardPort", s.forwardPort == d.forwardPort, std::to_string(s.forwardPort));
    extra("ForwardProtocol", s.forwardProtocol == d.forwardProtocol,
          std::to_string(s.forwardProtocol));
    extra("ForwardFormat", s.forwardFormat == d.forwardFormat, std::to_string(s.forwardFormat));
    extra("UdpPort", s.udpPort == d.udpPort, std::to_string(s.udpPort));
    extra("UdpAddress", s.udpAddress.empty(), OneLine(s.udpAddress));
    extra("TcpFlag", s.tcpFlag == d.tcpFlag, FlagText(s.tcpFlag));
    extra("TcpPort", s.tcpPort == d.tcpPort, std::to_string(s.tcpPort));
    extra("TlsFlag", s.tlsFlag == d.tlsFlag, FlagText(s.tlsFlag));
    extra("TlsPort", s.tlsPort == d.tlsPort, std::to_string(s.tlsPort));
    extra("TlsCertFile", s.tlsCertFile.empty(), OneLine(s.tlsCertFile));
    extra("TlsKeyFile", s.tlsKeyFile.empty(), OneLine(s.tlsKeyFile));
    extra("TlsCAFile", s.tlsCAFile.empty(), OneLine(s.tlsCAFile));

    const SearchEntry empty;
    for (std::size_t i = 0; i < SearchTableSize(s.searchMaxKensu); ++i) {
        const SearchEntry& e = i < s.searchTable.size() ? s.searchTable[i] : empty;
        set(Numbered("KeyStr", i), OneLine(e.keyStr));
        set(Numbered("DispStr", i), OneLine(e.dispStr));
        set(Numbered("MailFlag", i), FlagText(e.mailFlag));
        set(Numbered("SubjectStr", i), OneLine(e.subjectStr));
        set(Numbered("FromStr", i), OneLine(e.fromStr));
        set(Numbered("ToStr", i), EncodeLineBreaks(e.toStr));
        set(Numbered("DataStr", i), EncodeLineBreaks(e.dataStr));
        set(Numbered("NoPop_Mail", i), FlagText(e.noPopMail));
    }
    return entries;
}

std::string RenderSettings(std::string_view existing, const SyslogdSettings& settings) {
    Writer writer;
    for (auto& [key, value] : SettingsEntries(settings, existing))
        writer.Set(std::move(key), std::move(value));
    return writer.Apply(existing);
}

bool SaveSettings(const std::filesystem::path& path, const SyslogdSettings& settings) {
    std::string existing = ReadWholeFile(path).value_or(std::string());
    const std::string bytes = RenderSettings(existing, settings);
    if (!HoldsSecret(settings))
        return WriteFileAtomically(path, bytes);
    // The new file is made owner-only before the password is in it, and
    // it is unnamed or privately named until it takes the file's place.
    FileReplacement replacement(path);
    return replacement.valid() && ::fchmod(replacement.fd(), S_IRUSR | S_IWUSR) == 0 &&
           WriteAll(replacement.fd(), bytes) && replacement.Finish() && replacement.Replace();
}

}  // namespace quellin::syslogd
