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

// One accepted datagram as every stage of reception sees it.  Its texts are
// views into the datagram, the sender's address and the receive time's
// text, so decoding copies nothing; a stage that keeps a text copies it.
struct ReceivedMessage {
    std::string_view raw;        // the whole datagram from "<" on, unchanged
    std::string_view timestamp;  // 15 characters: the sender's, or the receive time
    std::string_view source;     // sender's IPv4 address, dotted
    std::string_view body;       // the text after the header, to the end
    // What the search table is matched against: the datagram itself, or for
    // an RFC 5424 message its CP932 reading.
    std::string_view searchText;
    std::size_t rawBodyOffset = 0;  // where the body's text starts in raw
    int pri = 0;                    // facility * 8 + level
    FacilityInfo facility{"", 0};
    LevelInfo level{"", 0};
    std::int64_t receivedAt = 0;  // receive time, whole seconds

    // The five list columns; the log line and a list file hold the same.
    std::array<std::string_view, 5> Columns() const {
        return {timestamp, source, facility.name, level.name, body};
    }
    ListRow Row() const;
};

enum class DropReason {
    None,
    NoOpeningBracket,  // the first character is not "<"
    BadPriLength,      // ">" missing or not after one to three characters
    NonNumericPri,
    UnknownFacility,  // facility 15 or above 23
};

// The receive time as decoding needs it: the current year for the date
// check and the timestamp that replaces a missing or invalid one.  Worked
// out once per second by a receiver, not once per datagram.
struct ReceiveTime {
    std::int64_t second = 0;
    int year = 1970;
    std::string text;  // "Mmm dd hh:nn:ss"
};
ReceiveTime DescribeReceiveTime(std::int64_t time);

struct DecodeResult {
    std::optional<ReceivedMessage> message;
    DropReason dropReason = DropReason::None;
};

// Decodes one datagram from `source` received at `time`.  The message
// points into `datagram`, `source` and `time`, which must outlive it.
DecodeResult DecodeDatagram(std::string_view datagram, std::string_view source,
                            const ReceiveTime& time);

// Decodes a message in either form: RFC 5424 ("<PRI>1 TIMESTAMP HOSTNAME
// APP-NAME PROCID MSGID SD MSG") when its header is whole, otherwise as
// DecodeDatagram does.  An RFC 5424 message's time is its timestamp, zone
// applied, as local "Mmm dd hh:mm:ss"; its body is the header's named
// fields (those not "-"), the structured data and the MSG, as CP932: a
// UTF-8 MSG (with or without its byte-order mark) is converted and a
// character without a CP932 form becomes "?".  Those texts are kept in
// `storage`, which must outlive the message and is reused by the next call.
DecodeResult DecodeMessage(std::string_view datagram, std::string_view source,
                           const ReceiveTime& time, std::string& storage);

// timestamp "   From " source CR LF text: the popup and mail text.
std::string NotificationText(std::string_view timestamp, std::string_view source,
                             std::string_view text);

// "Mmm dd hh:mm:ss" in local time, with English month names whatever the
// locale, since the timestamp check accepts only those.
std::string FormatReceiveTime(std::int64_t time);

}  // namespace quellin::syslogd
