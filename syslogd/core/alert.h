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
std::string PopupText(const SearchEntry& entry, std::string_view timestamp, std::string_view source,
                      std::string_view body);

enum class AlertSound { None, Beep, WaveFile };
// The sound of the SoundType setting: 1 none, 2 beep, 3 wave file.
AlertSound SoundOf(std::int16_t soundType);

// The start of a popup text, at most `maxBytes` bytes and `maxLines` lines,
// cut at a character boundary and marked with "…" when cut: what a popup
// lays out, however long the message (the list and the log keep it whole).
std::string PopupHead(std::string_view text, std::size_t maxBytes, std::size_t maxLines);

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
