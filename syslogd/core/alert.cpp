#include "alert.h"

#include "codec.h"

namespace quellin::syslogd {

bool ContainsText(std::string_view text, std::string_view needle) {
    if (needle.empty())
        return true;
    // A match must not start or end inside a two-byte character of the text.
    std::vector<bool> boundary(text.size() + 1, false);
    for (std::size_t pos = 0; pos < text.size(); pos += cp932::CharacterLength(text, pos))
        boundary[pos] = true;
    boundary[text.size()] = true;
    for (auto pos = text.find(needle); pos != std::string_view::npos;
         pos = text.find(needle, pos + 1)) {
        if (boundary[pos] && boundary[pos + needle.size()])
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
        return message.notificationText;
    return message.timestamp + "   From " + message.source + "\r\n" + entry.dispStr;
}

std::optional<AlertPlan> PlanAlert(const SyslogdSettings& settings,
                                   const ReceivedMessage& message) {
    auto index = FindFirstMatch(settings.searchTable, message.raw);
    if (!index)
        return std::nullopt;
    const SearchEntry& entry = settings.searchTable[*index];
    AlertPlan plan;
    plan.entryIndex = *index;
    plan.text = PopupText(entry, message);
    plan.showPopup = !entry.noPopMail;
    switch (settings.soundType) {
        case 2:
            plan.sound = AlertSound::Beep;
            break;
        case 3:
            plan.sound = AlertSound::WaveFile;
            break;
        default:
            plan.sound = AlertSound::None;
            break;
    }
    plan.sendMail = settings.mailSendFlag && entry.mailFlag;
    return plan;
}

}  // namespace quellin::syslogd
