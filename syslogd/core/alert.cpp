#include "alert.h"

#include "codec.h"

namespace quellin::syslogd {

bool ContainsText(std::string_view text, std::string_view needle) {
    if (needle.empty())
        return true;
    // A match must not start or end inside a two-byte character of the text.
    // Matches come in rising order, so one walk over the characters serves
    // them all, and only as far as the last match looked at.
    std::size_t walked = 0;  // a character boundary at or before every match start
    for (auto pos = text.find(needle); pos != std::string_view::npos;
         pos = text.find(needle, pos + 1)) {
        while (walked < pos)
            walked += cp932::CharacterLength(text, walked);
        if (walked != pos)
            continue;
        const std::size_t end = pos + needle.size();
        std::size_t at = pos;
        while (at < end)
            at += cp932::CharacterLength(text, at);
        if (at == end)
            return true;
    }
    return false;
}

std::optional<std::size_t> FindFirstMatch(const std::vector<SearchEntry>& table,
                                          std::string_view raw) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i].keyStr.empty())
            break;
        if (ContainsText(raw, table[i].keyStr))
            return i;
    }
    return std::nullopt;
}

std::string PopupText(const SearchEntry& entry, const ReceivedMessage& message) {
    if (entry.dispStr.empty() || entry.dispStr == ShowMessageItselfText())
        return NotificationText(message.timestamp, message.source, message.body);
    return NotificationText(message.timestamp, message.source, entry.dispStr);
}

AlertSound SoundOf(std::int16_t soundType) {
    switch (soundType) {
        case 2:
            return AlertSound::Beep;
        case 3:
            return AlertSound::WaveFile;
        default:
            return AlertSound::None;
    }
}

std::string PopupHead(std::string_view text, std::size_t maxBytes, std::size_t maxLines) {
    std::size_t end = 0;
    std::size_t lines = 1;
    while (end < text.size()) {
        const std::size_t next = end + cp932::CharacterLength(text, end);
        if (next > maxBytes || (text[end] == '\n' && ++lines > maxLines))
            return std::string(text.substr(0, end)) + cp932::Jp("…");
        end = next;
    }
    return std::string(text);
}

std::string HeldBackNotice(std::uint64_t count) {
    return cp932::Jp("前回の通知から ") + std::to_string(count) +
           cp932::Jp(" 件の通知を抑止しました。");
}

bool AlertHoldOff::Admit(std::size_t entry, std::string_view source, std::int64_t now,
                         std::int32_t holdSeconds, std::uint64_t& heldBack) {
    heldBack = 0;
    if (holdSeconds <= 0)
        return true;
    key_.assign(source);
    key_ += '\0';
    key_ += std::to_string(entry);
    auto found = holds_.find(key_);
    if (found == holds_.end()) {
        if (holds_.size() >= kMaxHolds) {
            std::erase_if(holds_, [now](const auto& hold) { return hold.second.until <= now; });
            if (holds_.size() >= kMaxHolds)
                return true;
        }
        holds_.emplace(key_, Hold{now + holdSeconds, 0});
        return true;
    }
    Hold& hold = found->second;
    // A clock set back leaves no hold longer than the hold-off itself.
    if (now < hold.until && hold.until - now <= holdSeconds) {
        ++hold.heldBack;
        return false;
    }
    heldBack = hold.heldBack;
    hold = Hold{now + holdSeconds, 0};
    return true;
}

void AlertStage::Use(const SettingsSnapshot& settings) {
    if (settings == settings_)
        return;
    if (!settings_ || settings_->searchTable != settings->searchTable ||
        settings_->alertHoldSeconds != settings->alertHoldSeconds)
        holdOff_.Clear();
    settings_ = settings;
}

std::optional<AlertOrder> AlertStage::Match(const ReceivedMessage& message) {
    const SyslogdSettings& settings = *settings_;
    auto index = FindFirstMatch(settings.searchTable, message.searchText);
    std::uint64_t heldBack = 0;
    if (!index || !holdOff_.Admit(*index, message.source, message.receivedAt,
                                  settings.alertHoldSeconds, heldBack))
        return std::nullopt;
    const SearchEntry& entry = settings.searchTable[*index];
    AlertOrder alert;
    alert.settings = settings_;
    alert.entryIndex = *index;
    alert.showPopup = !entry.noPopMail;
    alert.sound = SoundOf(settings.soundType);
    alert.sendMail = settings.mailSendFlag && entry.mailFlag;
    alert.heldBack = heldBack;
    if (!alert.showPopup && alert.sound == AlertSound::None && !alert.sendMail)
        return std::nullopt;
    std::string text = PopupText(entry, message);
    // The count of a hold-off ends the text, and a long message cut for
    // the popup does not hide it.
    const std::string notice = heldBack > 0 ? "\r\n" + HeldBackNotice(heldBack) : std::string();
    if (alert.showPopup)
        alert.popupText =
            PopupHead(text, options_.popupHeadBytes, options_.popupHeadLines) + notice;
    if (alert.sendMail)
        alert.mailText = std::move(text) + notice;
    return alert;
}

}  // namespace quellin::syslogd
