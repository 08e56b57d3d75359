#include "settings_form.h"

#include "codec.h"
#include "display_filter.h"

#include <arpa/inet.h>

#include <algorithm>
#include <filesystem>
#include <limits>

namespace quellin::syslogd {
namespace {

// A whole positive number within [1, limit], spaces around it allowed.
std::optional<std::int64_t> PositiveNumber(const std::string& text, std::int64_t limit) {
    std::string trimmed = TrimSpaces(text);
    if (trimmed.empty() || trimmed.size() > 10)
        return std::nullopt;
    std::int64_t value = 0;
    for (char c : trimmed) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > limit)
        return std::nullopt;
    return value;
}

// The form and the settings name the four colours alike.
template <class From, class To>
void CopyColors(const From& from, To& to) {
    to.popBackColor = from.popBackColor;
    to.popForeColor = from.popForeColor;
    to.mainBackColor = from.mainBackColor;
    to.mainForeColor = from.mainForeColor;
}

// The mail fields of a search entry with the input dialog's fields that
// show them: copy(entry's field, form's field).
template <class Entry, class Form, class Copy>
void EachMailField(Entry& entry, Form& form, Copy copy) {
    copy(entry.subjectStr, form.subject);
    copy(entry.toStr, form.to);
    copy(entry.dataStr, form.data);
    copy(entry.fromStr, form.from);
    copy(entry.noPopMail, form.noPopup);
}

// A whole number within [0, limit].
std::optional<std::int64_t> Count(const std::string& text, std::int64_t limit) {
    if (TrimSpaces(text) == "0")
        return 0;
    return PositiveNumber(text, limit);
}

}  // namespace

std::string TrimSpaces(const std::string& text) {
    std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    std::size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

SettingsForm FormFromSettings(const SyslogdSettings& settings) {
    SettingsForm form;
    form.dispCount = std::to_string(settings.maxLineCount);
    form.rows.assign(settings.searchTable.begin(),
                     settings.searchTable.begin() +
                         static_cast<std::ptrdiff_t>(ActiveEntryCount(settings.searchTable)));
    form.mailSend = settings.mailSendFlag;
    if (settings.mailSendFlag) {
        form.smtpServer = settings.smtpServer;
        form.clientMailAddress = settings.clientMailAddress;
    }
    form.smtpPort = std::to_string(settings.smtpPort);
    form.soundOption = settings.soundType >= 1 && settings.soundType <= 3 ? settings.soundType : 2;
    form.wavPath = settings.wavPath;
    form.logWrite = settings.logWriteFlag;
    form.logPath = settings.logPath;
    CopyColors(settings, form);
    if (settings.dispFilter & kFilterShowMode)
        form.filterMode = FilterMode::ShowMatching;
    else if (settings.dispFilter & kFilterHideMode)
        form.filterMode = FilterMode::HideMatching;
    form.levelChecked = (settings.dispFilter & kFilterByLevel) != 0;
    form.facilityChecked = (settings.dispFilter & kFilterByFacility) != 0;
    form.levelBits = settings.filterLevel;
    form.facilityBits = settings.filterFacility;
    form.allLevels = settings.filterLevel == kAllLevels;
    form.allFacilities = settings.filterFacility == kAllFacilities;

    form.alertHold = std::to_string(settings.alertHoldSeconds);
    form.smtpSecurity = std::clamp(settings.smtpSecurity, kSmtpPlain, kSmtpImplicitTls);
    form.smtpAuth = settings.smtpAuthFlag;
    form.smtpUser = settings.smtpUser;
    form.smtpPassword = settings.smtpPassword;
    form.smtpCAFile = settings.smtpCAFile;
    form.rotateType = std::clamp(settings.logRotateType, kRotateNone, kRotateBySize);
    form.rotateSizeMB = std::to_string(settings.logRotateSizeMB);
    form.keepCount = std::to_string(settings.logKeepCount);
    form.forward = settings.forwardFlag;
    form.forwardHost = settings.forwardHost;
    form.forwardPort = std::to_string(settings.forwardPort);
    form.forwardProtocol = settings.forwardProtocol == kForwardTcp ? kForwardTcp : kForwardUdp;
    form.forwardFormat = std::clamp(settings.forwardFormat, kForwardRfc3164, kForwardRfc5424);
    form.udpPort = std::to_string(settings.udpPort);
    form.udpAddress = settings.udpAddress;
    form.tcp = settings.tcpFlag;
    form.tcpPort = std::to_string(settings.tcpPort);
    form.tls = settings.tlsFlag;
    form.tlsPort = std::to_string(settings.tlsPort);
    form.tlsCertFile = settings.tlsCertFile;
    form.tlsKeyFile = settings.tlsKeyFile;
    form.tlsCAFile = settings.tlsCAFile;
    return form;
}

void SetAllLevels(SettingsForm& form, bool all) {
    form.allLevels = all;
    form.levelBits = all ? kAllLevels : 0;
}

void SetAllFacilities(SettingsForm& form, bool all) {
    form.allFacilities = all;
    form.facilityBits = all ? kAllFacilities : 0;
}

void SetLevel(SettingsForm& form, int index, bool on) {
    const auto bit = static_cast<std::uint8_t>(1u << index);
    form.levelBits = static_cast<std::uint8_t>(on ? form.levelBits | bit : form.levelBits & ~bit);
}

void SetFacility(SettingsForm& form, int index, bool on) {
    const std::int32_t bit = std::int32_t{1} << index;
    form.facilityBits = on ? form.facilityBits | bit : form.facilityBits & ~bit;
}

bool HasLevel(const SettingsForm& form, int index) {
    return (form.levelBits >> index) & 1u;
}

bool HasFacility(const SettingsForm& form, int index) {
    return (form.facilityBits >> index) & 1;
}

SettingsEnabling EnablingOf(const SettingsForm& form, std::size_t maxRows) {
    SettingsEnabling e;
    e.addRow = form.rows.size() < maxRows;
    e.deleteOrEditRow = !form.rows.empty();
    e.mailFields = form.mailSend;
    e.wavFile = form.soundOption == 3;
    e.logPath = form.logWrite;
    e.filterConditions = form.filterMode != FilterMode::NoFilter;
    e.levelFrame = e.filterConditions && form.levelChecked;
    e.singleLevels = e.levelFrame && !form.allLevels;
    e.facilityFrame = e.filterConditions && form.facilityChecked;
    e.singleFacilities = e.facilityFrame && !form.allFacilities;
    e.mailTransport = form.mailSend;
    e.login = form.mailSend && form.smtpAuth;
    e.rotation = form.logWrite;
    e.rotateSize = form.logWrite && form.rotateType == kRotateBySize;
    e.keepCount = form.logWrite && form.rotateType != kRotateNone;
    e.forwardFields = form.forward;
    e.tcpFields = form.tcp;
    e.tlsFields = form.tls;
    return e;
}

std::int32_t& BackColor(SettingsForm& form, ColorWindow window) {
    return window == ColorWindow::Popup ? form.popBackColor : form.mainBackColor;
}

std::int32_t& ForeColor(SettingsForm& form, ColorWindow window) {
    return window == ColorWindow::Popup ? form.popForeColor : form.mainForeColor;
}

void RestoreDefaultColors(SettingsForm& form) {
    const SyslogdSettings defaults;
    form.popBackColor = defaults.popBackColor;
    form.popForeColor = defaults.popForeColor;
    form.mainBackColor = defaults.mainBackColor;
    form.mainForeColor = defaults.mainForeColor;
}

std::optional<std::string> CheckSettingsForm(const SettingsForm& form) {
    if (!PositiveNumber(form.dispCount, std::numeric_limits<std::int32_t>::max()))
        return cp932::Jp("リスト表示件数の設定が不正です。");
    if (form.mailSend) {
        if (form.smtpServer.empty())
            return cp932::Jp("SMTPサーバの設定が不正です。");
        if (!PositiveNumber(form.smtpPort, 65535))
            return cp932::Jp("SMTPポート番号の設定が不正です。");
        if (form.clientMailAddress.empty())
            return cp932::Jp("送信元メールアドレスの設定が不正です。");
    }
    if (form.soundOption == 3 && form.wavPath.empty())
        return cp932::Jp("wavファイルの設定が不正です。");
    if (form.logWrite && form.logPath.empty())
        return cp932::Jp("受信ログの保存先の設定が不正です。");
    if (form.filterMode != FilterMode::NoFilter) {
        if (!form.levelChecked && !form.facilityChecked)
            return cp932::Jp("Display Filter 条件指定を選択して下さい。");
        if (form.levelChecked && form.levelBits == 0)
            return cp932::Jp("Levelの指定がありません。");
        if (form.facilityChecked && form.facilityBits == 0)
            return cp932::Jp("Facilityの指定がありません。");
    }
    if (!Count(form.alertHold, kMaxHoldSeconds))
        return cp932::Jp("通知の抑止時間の設定が不正です。");
    if (form.mailSend) {
        if (form.smtpAuth && form.smtpSecurity == kSmtpPlain)
            return cp932::Jp("SMTP認証を使うときは暗号化を選んで下さい。");
        if (form.smtpAuth && TrimSpaces(form.smtpUser).empty())
            return cp932::Jp("SMTPユーザー名の設定が不正です。");
        const std::string caFile = TrimSpaces(form.smtpCAFile);
        std::error_code error;
        if (form.smtpSecurity != kSmtpPlain && !caFile.empty() &&
            !std::filesystem::is_regular_file(cp932::ToPath(caFile), error))
            return cp932::Jp("CA証明書ファイルが見つかりません。");
    }
    if (form.logWrite) {
        if (form.rotateType == kRotateBySize &&
            !PositiveNumber(form.rotateSizeMB, kMaxRotateSizeMB))
            return cp932::Jp("ログを切り替えるサイズの設定が不正です。");
        if (form.rotateType != kRotateNone && !Count(form.keepCount, kMaxKeepCount))
            return cp932::Jp("保存する世代数の設定が不正です。");
    }
    if (form.forward) {
        if (TrimSpaces(form.forwardHost).empty())
            return cp932::Jp("転送先ホストの設定が不正です。");
        if (!PositiveNumber(form.forwardPort, 65535))
            return cp932::Jp("転送先ポート番号の設定が不正です。");
    }
    const std::string address = TrimSpaces(form.udpAddress);
    in6_addr parsed;
    if (!address.empty() && ::inet_pton(AF_INET, address.c_str(), &parsed) != 1 &&
        ::inet_pton(AF_INET6, address.c_str(), &parsed) != 1)
        return cp932::Jp("受信アドレスの設定が不正です。");
    if (!PositiveNumber(form.udpPort, 65535) ||
        (form.tcp && !PositiveNumber(form.tcpPort, 65535)) ||
        (form.tls && !PositiveNumber(form.tlsPort, 65535)))
        return cp932::Jp("受信ポート番号の設定が不正です。");
    if (form.tls && (TrimSpaces(form.tlsCertFile).empty() || TrimSpaces(form.tlsKeyFile).empty()))
        return cp932::Jp("TLS で受信するには証明書ファイルと秘密鍵ファイルが必要です。");
    return std::nullopt;
}

void ApplySettingsForm(const SettingsForm& form, SyslogdSettings& settings) {
    settings.maxLineCount = static_cast<std::int32_t>(
        PositiveNumber(form.dispCount, std::numeric_limits<std::int32_t>::max()).value_or(1));

    std::vector<SearchEntry> table(SearchTableSize(settings.searchMaxKensu));
    std::copy_n(form.rows.begin(), std::min(form.rows.size(), table.size()), table.begin());
    settings.searchTable = std::move(table);

    settings.mailSendFlag = form.mailSend;
    if (form.mailSend) {
        settings.smtpServer = TrimSpaces(form.smtpServer);
        settings.smtpPort =
            static_cast<std::int32_t>(PositiveNumber(form.smtpPort, 65535).value_or(25));
        settings.clientMailAddress = TrimSpaces(form.clientMailAddress);
        settings.smtpSecurity = form.smtpSecurity;
        settings.smtpAuthFlag = form.smtpAuth;
        settings.smtpUser = TrimSpaces(form.smtpUser);
        // Taken as typed: blanks may be part of a password.  A password
        // that is not used is not kept.
        settings.smtpPassword = form.smtpAuth ? form.smtpPassword : std::string();
        settings.smtpCAFile = TrimSpaces(form.smtpCAFile);
    }
    settings.soundType = static_cast<std::int16_t>(form.soundOption);
    if (form.soundOption == 3)
        settings.wavPath = TrimSpaces(form.wavPath);
    settings.logWriteFlag = form.logWrite;
    if (form.logWrite) {
        settings.logPath = TrimSpaces(form.logPath);
        settings.logRotateType = form.rotateType;
        if (auto size = PositiveNumber(form.rotateSizeMB, kMaxRotateSizeMB))
            settings.logRotateSizeMB = static_cast<std::int32_t>(*size);
        if (auto keep = Count(form.keepCount, kMaxKeepCount))
            settings.logKeepCount = static_cast<std::int32_t>(*keep);
    }
    CopyColors(form, settings);
    settings.filterLevel = form.levelChecked ? form.levelBits : 0;
    settings.filterFacility = form.facilityChecked ? form.facilityBits : 0;
    settings.alertHoldSeconds =
        static_cast<std::int32_t>(Count(form.alertHold, kMaxHoldSeconds).value_or(0));
    settings.forwardFlag = form.forward;
    if (form.forward) {
        settings.forwardHost = TrimSpaces(form.forwardHost);
        settings.forwardPort =
            static_cast<std::int32_t>(PositiveNumber(form.forwardPort, 65535).value_or(514));
        settings.forwardProtocol = form.forwardProtocol;
        settings.forwardFormat = form.forwardFormat;
    }
    auto port = [](const std::string& text, std::int32_t fallback) {
        return static_cast<std::int32_t>(PositiveNumber(text, 65535).value_or(fallback));
    };
    settings.udpPort = port(form.udpPort, settings.udpPort);
    settings.udpAddress = TrimSpaces(form.udpAddress);
    settings.tcpFlag = form.tcp;
    settings.tlsFlag = form.tls;
    if (form.tcp)
        settings.tcpPort = port(form.tcpPort, settings.tcpPort);
    if (form.tls) {
        settings.tlsPort = port(form.tlsPort, settings.tlsPort);
        settings.tlsCertFile = TrimSpaces(form.tlsCertFile);
        settings.tlsKeyFile = TrimSpaces(form.tlsKeyFile);
        settings.tlsCAFile = TrimSpaces(form.tlsCAFile);
    }
    if (form.filterMode == FilterMode::NoFilter) {
        settings.dispFilter = kFilterOff;
    } else {
        std::uint8_t value =
            form.filterMode == FilterMode::ShowMatching ? kFilterShowMode : kFilterHideMode;
        if (form.levelChecked)
            value |= kFilterByLevel;
        if (form.facilityChecked)
            value |= kFilterByFacility;
        settings.dispFilter = value;
    }
}

SearchInputForm FormFromEntry(const SearchEntry& entry) {
    SearchInputForm form;
    form.searchStr = entry.keyStr;
    if (entry.dispStr == ShowMessageItselfText())
        form.useMessageItself = true;
    else
        form.dispStr = entry.dispStr;
    form.mailSend = entry.mailFlag;
    EachMailField(entry, form, [](const auto& field, auto& shown) { shown = field; });
    return form;
}

std::optional<std::string> CheckSearchInput(const SearchInputForm& form) {
    if (form.searchStr.empty())
        return cp932::Jp("検索文字列の設定は省略できません。");
    if (form.mailSend && form.to.empty())
        return cp932::Jp("宛先の設定は省略できません。");
    return std::nullopt;
}

SearchEntry EntryFromForm(const SearchInputForm& form) {
    SearchEntry entry;
    entry.keyStr = form.searchStr;
    entry.dispStr =
        form.useMessageItself || form.dispStr.empty() ? ShowMessageItselfText() : form.dispStr;
    entry.mailFlag = form.mailSend;
    if (form.mailSend) {
        EachMailField(entry, form, [](auto& field, const auto& typed) { field = typed; });
    }
    return entry;
}

const std::array<std::int32_t, 48> kColorPalette = {
    0xFFFFFF, 0xC0C0FF, 0xC0E0FF, 0xC0FFFF, 0xC0FFC0, 0xFFFFC0, 0xFFC0C0, 0xFFC0FF,
    0xE0E0E0, 0x8080FF, 0x80C0FF, 0x80FFFF, 0x80FF80, 0xFFFF80, 0xFF8080, 0xFF80FF,
    0xC0C0C0, 0x0000FF, 0x0080FF, 0x00FFFF, 0x00FF00, 0xFFFF00, 0xFF0000, 0xFF00FF,
    0x808080, 0x0000C0, 0x0040C0, 0x00C0C0, 0x00C000, 0xC0C000, 0xC00000, 0xC000C0,
    0x404040, 0x000080, 0x004080, 0x008080, 0x008000, 0x808000, 0x800000, 0x800080,
    0x000000, 0x000040, 0x404080, 0x004040, 0x004000, 0x404000, 0x400000, 0x400040,
};

std::optional<std::size_t> PaletteIndexOf(std::int32_t color) {
    auto it = std::find(kColorPalette.begin(), kColorPalette.end(), color);
    if (it == kColorPalette.end())
        return std::nullopt;
    return static_cast<std::size_t>(it - kColorPalette.begin());
}

}  // namespace quellin::syslogd
