// One syslog datagram as the server understands it, and the decoder that
// turns the bytes a router sent into it.
//
// Datagrams are CP932 text.  The decoder counts positions in characters, not
// bytes, so a two-byte character whose second byte happens to look like "<",
// a digit or a month letter can never be taken for part of the header.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quellin::syslogd {

// The five columns of one list row: time, sender, facility, level, text.
using ListRow = std::array<std::string, 5>;

struct ReceivedMessage {
    std::string raw;        // the whole datagram from "<" on, unchanged
    std::string timestamp;  // 15 characters: the sender's, or the receive time
    std::string source;     // sender's IPv4 address, dotted
    std::string facilityName;
    std::string levelName;
    std::uint8_t levelBit = 0;
    std::uint32_t facilityBit = 0;
    std::string body;
    std::string rowText;           // the five columns joined by TAB
    std::string notificationText;  // timestamp "   From " source CR LF body
    std::string logLine;           // only filled while the log file is written
    std::int64_t receivedAt = 0;   // receive time, whole seconds

    ListRow Row() const { return {timestamp, source, facilityName, levelName, body}; }
};

enum class DropReason {
    None,
    NoOpeningBracket,  // the first character is not "<"
    BadPriLength,      // ">" missing or not after one to three characters
    NonNumericPri,
    UnknownFacility,  // facility 15 or above 23
};

struct DecodeResult {
    std::optional<ReceivedMessage> message;
    DropReason dropReason = DropReason::None;
};

// Decodes one datagram received at `now` (seconds since 1970; the current
// year for the date check and the substitute timestamp come from it, in local
// time).  `withLogLine` builds the log line as well.
DecodeResult DecodeDatagram(std::string_view datagram, std::string_view source, std::int64_t now,
                            bool withLogLine);

// The receive time as decoding needs it: the current year for the date
// check and the timestamp that replaces a missing or invalid one.  Worked
// out once per second by a receiver, not once per datagram.
struct ReceiveTime {
    std::int64_t second = 0;
    int year = 1970;
    std::string text;  // "Mmm dd hh:nn:ss"
};
ReceiveTime DescribeReceiveTime(std::int64_t time);

// Where the parts of an accepted datagram lie, as byte offsets into it; the
// decoder's verdict without copying anything.
struct DatagramLayout {
    int facility = 0;
    int level = 0;
    bool senderTimestamp = false;     // the 15 characters after ">" are the timestamp
    std::size_t timestampOffset = 0;  // where they start, when senderTimestamp
    std::size_t bodyOffset = 0;       // where the body starts (up to the end)
};
struct LayoutResult {
    std::optional<DatagramLayout> layout;
    DropReason dropReason = DropReason::None;
};
LayoutResult ParseDatagram(std::string_view datagram, int currentYear);

// timestamp "   From " source CR LF text: the popup and mail text.
std::string NotificationText(std::string_view timestamp, std::string_view source,
                             std::string_view text);

// The facility and level names and bits; nullopt for a facility without an
// entry (15, or above 23) and for a level outside 0-7.
struct FacilityInfo {
    const char* name;
    std::uint32_t bit;
};
std::optional<FacilityInfo> LookUpFacility(int facility);
struct LevelInfo {
    const char* name;
    std::uint8_t bit;
};
std::optional<LevelInfo> LookUpLevel(int level);

// "Mmm dd hh:mm:ss" in local time, with English month names whatever the
// locale, since the timestamp check accepts only those.
std::string FormatReceiveTime(std::int64_t time);

}  // namespace quellin::syslogd
