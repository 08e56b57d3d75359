// Composition of a notification mail: the header lines, the body, and the
// Japanese encodings the mail carries (ISO-2022-JP text, "B" encoded-words
// in the header, Base64), all on CP932 byte strings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quellin::mail {

struct CleanText {
    std::string text;
    bool nonAscii = false;  // held a double-byte or half-width katakana character
};

// Half-width katakana become their full-width forms; single bytes that are
// neither ASCII nor half-width katakana (and a lead byte without its trail
// byte) become "."; double-byte characters are kept.
CleanText CleanUpForMail(std::string_view cp932);

// The ISO-2022-JP form of cleaned-up CP932 text.  A double-byte character
// outside the JIS X 0208 rows (user-defined and vendor ranges) is sent as
// the geta mark rather than as two NUL bytes, which many readers cut at.
std::string ToIso2022Jp(std::string_view cp932);

// Standard Base64 with "=" padding and no line breaks.
std::string Base64Encode(std::string_view bytes);

// Puts every run of non-ASCII characters into "=?ISO-2022-JP?B?...?="
// encoded-words, each at most 74 characters long and followed by a space,
// with a space before each run.
std::string EncodeHeaderWords(std::string_view header);

// Folds every CR LF line of the header at spaces so that no line grows
// past 75 characters unless a single word is longer.
std::string FoldHeader(std::string_view header);

// The recipients of a ToStr: split at every ",", parts taken as they are.
// A line break (the recipient box takes several lines) separates recipients
// as a "," does, and empty lines are skipped: no command or header ever
// carries a line break of the operator's.
std::vector<std::string> SplitRecipients(std::string_view recipients);
// The ToStr on one line: its non-empty lines joined with ",".
std::string RecipientsOnOneLine(std::string_view recipients);

// The headers every mail of the system starts with (CP932 texts).
struct MailHeader {
    std::string subject;
    std::string fromName;  // the sender's display name
    std::string fromAddress;
    std::string to;  // the To header's text, on one line
};

// The whole message (header, blank line, body): "Subject", "From" and "To"
// with the content type the texts need, encoded and folded, then the body
// (CP932, CR LF lines, ending in CR LF) in ISO-2022-JP.
std::string ComposeMessage(const MailHeader& header, std::string_view body);

// The "Date:" and "Message-ID:" lines that go before the composed header of
// a mail composed at `time`: RFC 5322 asks for the date, and relays and
// spam filters mark mail without them.  The date is local time with the
// zone's offset; the id is one no other mail of this host has (time,
// process, a counter) at the sender's domain, or at this host's name when
// the address has none.
// `program` names the sending program inside the id.
std::string StampHeader(std::int64_t time, std::string_view clientMailAddress,
                        std::string_view program = "syslogd");

// The message as sent after DATA: lines starting with "." get another ".",
// then CR LF "." CR LF ends it.
std::string DataSection(std::string_view message);

}  // namespace quellin::mail
