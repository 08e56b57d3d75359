// Syslogd.ini: every setting of the syslog server and its search-string
// table, in section "SETUP" of the file in the program folder.  Read once at
// start, rewritten whole when the settings window is confirmed.
#pragma once

#include "store_settings.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quellin::syslogd {

inline constexpr char kSettingsFileName[] = "Syslogd.ini";
inline constexpr char kSettingsSection[] = "SETUP";
// What the search table and the popup show when an entry names no text of
// its own (CP932 of "<Syslogメッセージを表示する>").
std::string ShowMessageItselfText();

// Colour values as stored: 0x00BBGGRR, or 0x80000000 plus a system colour index.
inline constexpr std::int32_t kSystemWindowColor = -2147483643;  // index 5
inline constexpr std::int32_t kSystemButtonFace = -2147483633;   // index 15

// SMTPSecurity values.
inline constexpr std::int32_t kSmtpPlain = 0;
inline constexpr std::int32_t kSmtpStartTls = 1;
inline constexpr std::int32_t kSmtpImplicitTls = 2;
// LogRotateType values.
inline constexpr std::int32_t kRotateNone = 0;
inline constexpr std::int32_t kRotateDaily = 1;
inline constexpr std::int32_t kRotateBySize = 2;
// ForwardProtocol values.
inline constexpr std::int32_t kForwardUdp = 0;
inline constexpr std::int32_t kForwardTcp = 1;
// ForwardFormat values: the router's address as the host, in an RFC 3164
// relay's header or in RFC 5424.
inline constexpr std::int32_t kForwardRfc3164 = 0;
inline constexpr std::int32_t kForwardRfc5424 = 1;
// The largest values the settings window takes; a file holding more (or
// less than the smallest) keeps the default.
inline constexpr std::int32_t kMaxHoldSeconds = 86400;
inline constexpr std::int32_t kMaxRotateSizeMB = 1 << 20;
inline constexpr std::int32_t kMaxKeepCount = 999;

// The system drive's root stands in for C:\ here.
inline constexpr char kDefaultLogPath[] = "/syslogd.txt";
// Bound on the table size a hand-edited file can ask for, so that a typing
// slip cannot make start-up read and keep millions of entries.
inline constexpr int kSearchTableLimit = 1000;

struct SearchEntry {
    std::string keyStr;
    std::string dispStr;
    bool mailFlag = false;
    std::string subjectStr;
    std::string fromStr;
    std::string toStr;    // recipients separated by ","
    std::string dataStr;  // appended to the mail body; may hold CR LF
    bool noPopMail = false;

    bool operator==(const SearchEntry&) const = default;
};

struct SyslogdSettings {
    std::int32_t mainBackColor = kSystemWindowColor;
    std::int32_t mainForeColor = 0;
    std::int32_t popBackColor = kSystemButtonFace;
    std::int32_t popForeColor = 0;
    std::int32_t maxLineCount = 500;
    bool logWriteFlag = false;
    std::string logPath = kDefaultLogPath;
    std::int32_t searchMaxKensu = 20;
    bool mailSendFlag = false;
    std::string smtpServer;
    std::int32_t smtpPort = 25;
    std::string clientMailAddress;
    std::int16_t soundType = 2;  // 1 none, 2 beep, 3 wave file
    std::string wavPath;
    std::uint8_t dispFilter = 1;
    std::uint8_t filterLevel = 0;
    std::int32_t filterFacility = 0;

    // Mail transport: 0 plain SMTP, 1 STARTTLS after EHLO, 2 TLS from the
    // first byte.  A password is sent only over TLS.
    std::int32_t smtpSecurity = kSmtpPlain;
    bool smtpAuthFlag = false;
    std::string smtpUser;
    std::string smtpPassword;
    std::string smtpCAFile;  // PEM of the trusted authorities; empty: the system's
    // Seconds an entry that alerted for a source stays quiet for that
    // source; 0 alerts every match.
    std::int32_t alertHoldSeconds = 0;
    // Rotation of the log file: 0 none, 1 daily at midnight, 2 by size.
    std::int32_t logRotateType = kRotateNone;
    std::int32_t logRotateSizeMB = 100;
    std::int32_t logKeepCount = 7;
    // Forwarding of every accepted datagram: 0 UDP, 1 TCP (octet counting).
    bool forwardFlag = false;
    std::string forwardHost;
    std::int32_t forwardPort = 514;
    std::int32_t forwardProtocol = kForwardUdp;
    std::int32_t forwardFormat = kForwardRfc3164;
    // Where reception listens.  UDP on UdpPort of UdpAddress (empty: every
    // IPv4 address; "::" every address, IPv6 and IPv4); TCP (RFC 6587) and
    // TLS (RFC 5425) on their ports of the same address when their flag is on.
    std::int32_t udpPort = 514;
    std::string udpAddress;
    bool tcpFlag = false;
    std::int32_t tcpPort = 514;
    bool tlsFlag = false;
    std::int32_t tlsPort = 6514;
    std::string tlsCertFile;  // PEM certificate (chain) of this server
    std::string tlsKeyFile;   // PEM private key
    std::string tlsCAFile;    // PEM authorities; set: clients must show a certificate they signed

    // The syslog store's keys, read by the store library (absent: no store);
    // an empty path: beside the log file (StoreSettingsOf).  The settings
    // window neither shows nor writes them; the file keeps them.
    syslogstore::StoreSettings store;

    // SearchTableSize(searchMaxKensu) entries in file order.
    std::vector<SearchEntry> searchTable;

    SyslogdSettings();
    bool operator==(const SyslogdSettings&) const = default;
};

// The settings as reception works with them: a copy that never changes,
// replaced whole when the settings window's OK changes the settings.
using SettingsSnapshot = std::shared_ptr<const SyslogdSettings>;

// The store as reception writes it: its path filled in from LogPath when
// StorePath does not name one.
syslogstore::StoreSettings StoreSettingsOf(const SyslogdSettings& settings);

// Entries the table holds for a SearchMaxKensu value: negative counts as
// none, and the count is bounded by kSearchTableLimit.
std::size_t SearchTableSize(std::int32_t searchMaxKensu);

// Entries before the first empty search string: the part of the table that
// alerts and the settings window use.
std::size_t ActiveEntryCount(const std::vector<SearchEntry>& table);

// programFolder (CP932, with or without a trailing "/") + "Syslogd.ini".
std::filesystem::path SettingsFilePath(const std::string& programFolder);

struct SettingsLoad {
    SyslogdSettings settings;
    // Empty when every value converted; else the key whose value did not.
    std::string failedKey;
    bool ok() const { return failedKey.empty(); }
};

// Reads the settings from the file's bytes (nullopt: no file) in `folder`.
// Values are cut to 254 bytes; a value that does not convert to its type
// fails the load.
SettingsLoad ParseSettings(std::optional<std::string_view> fileBytes,
                           const std::filesystem::path& folder = {});
SettingsLoad LoadSettings(const std::filesystem::path& path);

// Every key with its value text, in the order the file is written.  The
// keys of the mail transport, the alert hold-off, rotation and forwarding
// are left out while they hold their defaults and `existing` (the file's
// bytes) does not name them: a file that never used them stays as it was.
std::vector<std::pair<std::string, std::string>> SettingsEntries(const SyslogdSettings& settings,
                                                                 std::string_view existing = {});

// True when the file written for these settings holds a password, and so
// is readable by its owner only.
bool HoldsSecret(const SyslogdSettings& settings);

// The file's bytes after writing every key and all table entries, empty ones
// included, into `existing` (other lines and sections are kept).
std::string RenderSettings(std::string_view existing, const SyslogdSettings& settings);
// Writes the file; false when it could not be written.  A file that holds
// a password is replaced by one that only its owner can read (0600).
bool SaveSettings(const std::filesystem::path& path, const SyslogdSettings& settings);

// A line break in the recipients and the mail text is kept in the file as
// the six letters "VBCRLF".
std::string EncodeLineBreaks(std::string_view text);
std::string DecodeLineBreaks(std::string_view text);

}  // namespace quellin::syslogd
