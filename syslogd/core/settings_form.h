// What the settings window and the search-entry dialog edit, without the
// widgets: the values of their controls, the checks of OK in their order,
// and how confirmed values reach the settings.
#pragma once

#include "syslogd_settings.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quellin::syslogd {

inline constexpr std::uint8_t kAllLevels = 255;
inline constexpr std::int32_t kAllFacilities = 0x7FFFFF;

enum class FilterMode { NoFilter, ShowMatching, HideMatching };

// The controls of the four tabs; texts are CP932 as typed.
struct SettingsForm {
    std::string dispCount;
    std::vector<SearchEntry> rows;  // the search list's working copy
    bool mailSend = false;
    std::string smtpServer;
    std::string smtpPort;
    std::string clientMailAddress;
    int soundOption = 2;  // opt1..opt3
    std::string wavPath;
    bool logWrite = false;
    std::string logPath;
    std::int32_t popBackColor = 0;
    std::int32_t popForeColor = 0;
    std::int32_t mainBackColor = 0;
    std::int32_t mainForeColor = 0;
    FilterMode filterMode = FilterMode::NoFilter;
    bool levelChecked = false;
    bool facilityChecked = false;
    bool allLevels = false;  // the "ALL" boxes
    bool allFacilities = false;
    std::uint8_t levelBits = 0;
    std::int32_t facilityBits = 0;

    // Beyond the four original tabs: the alert hold-off (tab 0), the mail
    // transport (tab メール送信), log rotation (tab 2) and forwarding (tab
    // 転送設定).
    std::string alertHold;
    int smtpSecurity = kSmtpPlain;  // cmb_SMTP_Security index
    bool smtpAuth = false;
    std::string smtpUser;
    std::string smtpPassword;  // shown masked, never in clear
    std::string smtpCAFile;
    int rotateType = kRotateNone;  // opt_RotateNone, opt_RotateDaily, opt_RotateSize
    std::string rotateSizeMB;
    std::string keepCount;
    bool forward = false;
    std::string forwardHost;
    std::string forwardPort;
    int forwardProtocol = kForwardUdp;    // opt_ForwardUdp, opt_ForwardTcp
    int forwardFormat = kForwardRfc3164;  // cmb_ForwardFormat index
    // Tab 受信設定: where reception listens, from the next start.
    std::string udpPort;
    std::string udpAddress;
    bool tcp = false;
    std::string tcpPort;
    bool tls = false;
    std::string tlsPort;
    std::string tlsCertFile;
    std::string tlsKeyFile;
    std::string tlsCAFile;
};

inline constexpr int kLevelCount = 8;
inline constexpr int kFacilityCount = 23;

// "ALL" checked selects every level and fixes the single boxes; unchecked
// it clears them all.
void SetAllLevels(SettingsForm& form, bool all);
void SetAllFacilities(SettingsForm& form, bool all);
// One single box: index 0 is the lowest bit.
void SetLevel(SettingsForm& form, int index, bool on);
void SetFacility(SettingsForm& form, int index, bool on);
bool HasLevel(const SettingsForm& form, int index);
bool HasFacility(const SettingsForm& form, int index);

// Which controls of the settings window accept input for the current values.
struct SettingsEnabling {
    bool addRow = false;
    bool deleteOrEditRow = false;
    bool mailFields = false;
    bool wavFile = false;
    bool logPath = false;
    bool filterConditions = false;  // the Level and Facility check boxes
    bool levelFrame = false;
    bool singleLevels = false;
    bool facilityFrame = false;
    bool singleFacilities = false;
    bool mailTransport = false;  // security, authentication, CA file
    bool login = false;          // user and password
    bool rotation = false;       // the three rotation options
    bool rotateSize = false;
    bool keepCount = false;
    bool forwardFields = false;
    bool tcpFields = false;
    bool tlsFields = false;

    bool operator==(const SettingsEnabling&) const = default;
};
SettingsEnabling EnablingOf(const SettingsForm& form, std::size_t maxRows);

// The two windows whose colours the screen tab edits.
enum class ColorWindow { Popup = 0, Main = 1 };
std::int32_t& BackColor(SettingsForm& form, ColorWindow window);
std::int32_t& ForeColor(SettingsForm& form, ColorWindow window);
// The colours a settings file without colour keys gives.
void RestoreDefaultColors(SettingsForm& form);

SettingsForm FormFromSettings(const SyslogdSettings& settings);

// The warning of the first failing check of OK (CP932), or nullopt.  The
// checks of the original fields come first, in their order; those of the
// hold-off, the mail transport, rotation and forwarding follow.
std::optional<std::string> CheckSettingsForm(const SettingsForm& form);

// Applies a form that passed the checks, in the window's order.  The mail
// transport changes only with mail on, like the server; the password is
// kept only while authentication is on.  Rotation changes only with the
// log on, the forwarding target only with forwarding on.
void ApplySettingsForm(const SettingsForm& form, SyslogdSettings& settings);

// The search-entry dialog.
struct SearchInputForm {
    std::string searchStr;
    std::string dispStr;
    bool useMessageItself = false;  // chk_Default
    bool mailSend = false;
    std::string subject;
    std::string to;
    std::string data;
    std::string from;
    bool noPopup = false;
};

SearchInputForm FormFromEntry(const SearchEntry& entry);
std::optional<std::string> CheckSearchInput(const SearchInputForm& form);
SearchEntry EntryFromForm(const SearchInputForm& form);

// The colour dialog's palette, row by row, as stored colour values.
extern const std::array<std::int32_t, 48> kColorPalette;
std::optional<std::size_t> PaletteIndexOf(std::int32_t color);

// Spaces around the text removed (not tabs), as the window trims values.
std::string TrimSpaces(const std::string& text);

}  // namespace quellin::syslogd
