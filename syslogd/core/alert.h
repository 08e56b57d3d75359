// The alert stage: which search-table entry a message triggers, the text it
// shows and mails, what it asks of popup, sound and mail, and the hold-off
// that keeps a storm of matches from one router to one alert.
#pragma once

#include "received_message.h"
#include "syslogd_settings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

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
// The sound of the SoundType setting: 1 none, 2 beep, 3 wave file.
AlertSound SoundOf(std::int16_t soundType);

// The start of a popup text, at most `maxBytes` bytes and `maxLines` lines,
// cut at a character boundary and marked with "…" when cut: what a popup
// lays out, however long the message (the list and the log keep it whole).
std::string PopupHead(std::string_view text, std::size_t maxBytes, std::size_t maxLines);

// The line an alert carries after a hold-off in which `count` matches of
// its entry and source were not alerted (CP932).
std::string HeldBackNotice(std::uint64_t count);

// The alert hold-off: an entry that alerted for a source stays quiet for
// that source for a number of seconds; the matches held back are counted
// and the next alert after the hold-off carries the count.
class AlertHoldOff {
public:
    // Sources times entries tracked at most; past that, expired holds are
    // dropped, and a match that still finds no room alerts.
    static constexpr std::size_t kMaxHolds = 65536;

    // Forget every hold (the search table or the time changed).
    void Clear() { holds_.clear(); }
    // Whether the match of `entry` from `source` at `now` alerts; when it
    // does, `heldBack` is the count of matches held back before it.
    bool Admit(std::size_t entry, std::string_view source, std::int64_t now,
               std::int32_t holdSeconds, std::uint64_t& heldBack);
    std::size_t size() const { return holds_.size(); }

private:
    struct Hold {
        std::int64_t until = 0;
        std::uint64_t heldBack = 0;
    };
    std::unordered_map<std::string, Hold> holds_;
    std::string key_;
};

// One matching message's alert, as the window carries it out.
struct AlertOrder {
    SettingsSnapshot settings;  // the settings it matched under (sound, mail)
    std::size_t entryIndex = 0;
    bool showPopup = false;
    std::string popupText;  // a bounded head of the popup text
    AlertSound sound = AlertSound::None;
    bool sendMail = false;
    std::string mailText;  // the whole popup text, only when mailing
    // Matches of this entry from this source held back since its last
    // alert (AlertHoldSeconds); the texts say so when above 0.
    std::uint64_t heldBack = 0;

    const SearchEntry& entry() const { return settings->searchTable[entryIndex]; }
};

// The alert stage on the reception thread: every accepted message is held
// against the search table of the settings in use.
class AlertStage {
public:
    struct Options {
        // What a popup lays out at most; the list and the log keep the whole text.
        std::size_t popupHeadBytes = 1024;
        std::size_t popupHeadLines = 30;
    };

    explicit AlertStage(Options options) : options_(options) {}

    // The settings the next messages are matched under.  Holds belong to an
    // entry of a table: a new table or hold-off time starts afresh.
    void Use(const SettingsSnapshot& settings);
    // What the window has to do for the message; nullopt when no entry
    // matches, the hold-off holds it back, or the entry asks for nothing.
    std::optional<AlertOrder> Match(const ReceivedMessage& message);

private:
    const Options options_;
    SettingsSnapshot settings_;
    AlertHoldOff holdOff_;
};

}  // namespace quellin::syslogd
