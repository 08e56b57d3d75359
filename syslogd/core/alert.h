// The alert stage's decisions: which search-table entry a message triggers,
// the text it shows and mails, and what it asks of popup, sound and mail.
#pragma once

#include "received_message.h"
#include "syslogd_settings.h"

#include <optional>
#include <string>
#include <string_view>

namespace quellin::syslogd {

// Index of the first entry whose search string occurs in the raw datagram
// (case-sensitive, at character boundaries, "<PRI>" included); the walk ends
// at the first empty search string.
std::optional<std::size_t> FindFirstMatch(const std::vector<SearchEntry>& table,
                                          std::string_view raw);

// True when `needle` occurs in `text` starting and ending on CP932
// character boundaries of `text`.
bool ContainsText(std::string_view text, std::string_view needle);

// The entry's own text after the time and sender, or the message itself
// when the entry names none.
std::string PopupText(const SearchEntry& entry, const ReceivedMessage& message);

enum class AlertSound { None, Beep, WaveFile };

struct AlertPlan {
    std::size_t entryIndex = 0;
    std::string text;  // popup and mail text
    bool showPopup = false;
    AlertSound sound = AlertSound::None;
    bool sendMail = false;
};

// What the alert stage does for the message; nullopt when no entry matches.
std::optional<AlertPlan> PlanAlert(const SyslogdSettings& settings, const ReceivedMessage& message);

}  // namespace quellin::syslogd
