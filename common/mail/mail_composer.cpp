#include "mail_composer.h"

#include "codec.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <vector>

namespace quellin::mail {
namespace {

constexpr char kCrLf[] = "\r\n";
constexpr std::string_view kWordStart = "=?ISO-2022-JP?B?";
constexpr std::string_view kWordEnd = "?=";
constexpr std::size_t kMaxWordLength = 74;
constexpr std::size_t kFoldWidth = 75;

// Full-width CP932 codes of the half-width katakana 0xA1..0xDF.
constexpr std::array<std::uint16_t, 63> kFullWidthKana = {
    0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340, 0x8342, 0x8344, 0x8346, 0x8348,
    0x8383, 0x8385, 0x8387, 0x8362, 0x815B, 0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A,
    0x834C, 0x834E, 0x8350, 0x8352, 0x8354, 0x8356, 0x8358, 0x835A, 0x835C, 0x835E, 0x8360,
    0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B, 0x836C, 0x836D, 0x836E, 0x8371, 0x8374,
    0x8377, 0x837A, 0x837D, 0x837E, 0x8380, 0x8381, 0x8382, 0x8384, 0x8386, 0x8388, 0x8389,
    0x838A, 0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B,
};

// JIS X 0208 "〓", the customary stand-in for a character JIS cannot carry.
constexpr char kGeta[] = {0x22, 0x2E};

bool IsAsciiChar(std::string_view text, std::size_t i) {
    return cp932::CharacterLength(text, i) == 1 && static_cast<unsigned char>(text[i]) < 0x80;
}

// The two JIS X 0208 bytes of one CP932 character (one or two bytes).
void AppendJis(std::string& out, std::string_view ch) {
    if (ch.size() != 2) {
        out.append(kGeta, 2);
        return;
    }
    auto s1 = static_cast<unsigned char>(ch[0]);
    auto s2 = static_cast<unsigned char>(ch[1]);
    int r;
    if (s1 >= 0x81 && s1 <= 0x9F)
        r = s1 - 0x81;
    else if (s1 >= 0xE0 && s1 <= 0xEF)
        r = s1 - 0xC1;
    else {
        out.append(kGeta, 2);
        return;
    }
    int c;
    if (s2 >= 0x40 && s2 <= 0x7E)
        c = s2 - 0x3F;
    else if (s2 >= 0x80 && s2 <= 0xFC)
        c = s2 - 0x40;
    else {
        out.append(kGeta, 2);
        return;
    }
    int row = 2 * r + 1;
    if (c > 94) {
        c -= 94;
        ++row;
    }
    out.push_back(static_cast<char>(row + 0x20));
    out.push_back(static_cast<char>(c + 0x20));
}

std::string EncodedWord(std::string_view run) {
    std::string word(kWordStart);
    word += Base64Encode(ToIso2022Jp(run));
    word += kWordEnd;
    return word;
}

std::vector<std::string_view> Split(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t at = text.find(separator, start);
        if (at == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
}

}  // namespace

CleanText CleanUpForMail(std::string_view cp932) {
    CleanText result;
    result.text.reserve(cp932.size() + 16);
    for (std::size_t i = 0; i < cp932.size();) {
        std::size_t length = quellin::cp932::CharacterLength(cp932, i);
        auto c = static_cast<unsigned char>(cp932[i]);
        if (length == 2) {
            result.text.append(cp932.substr(i, 2));
            result.nonAscii = true;
        } else if (c >= 0xA1 && c <= 0xDF) {
            std::uint16_t full = kFullWidthKana[c - 0xA1];
            result.text.push_back(static_cast<char>(full >> 8));
            result.text.push_back(static_cast<char>(full & 0xFF));
            result.nonAscii = true;
        } else if (c >= 0x80) {
            result.text.push_back('.');
        } else {
            result.text.push_back(static_cast<char>(c));
        }
        i += length;
    }
    return result;
}

std::string ToIso2022Jp(std::string_view cp932) {
    std::string out;
    out.reserve(cp932.size() + 8);
    bool inJis = false;
    for (std::size_t i = 0; i < cp932.size();) {
        std::size_t length = quellin::cp932::CharacterLength(cp932, i);
        if (IsAsciiChar(cp932, i)) {
            if (inJis) {
                out += "\x1B(B";
                inJis = false;
            }
            out.push_back(cp932[i]);
        } else {
            if (!inJis) {
                out += "\x1B$B";
                inJis = true;
            }
            AppendJis(out, cp932.substr(i, length));
        }
        i += length;
    }
    if (inJis)
        out += "\x1B(B";
    return out;
}

std::string Base64Encode(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                          static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1]))
                              << 8 |
                          static_cast<unsigned char>(bytes[i + 2]);
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(kAlphabet[(v >> 6) & 63]);
        out.push_back(kAlphabet[v & 63]);
    }
    std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (rest == 2)
            v |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out.push_back(kAlphabet[(v >> 18) & 63]);
        out.push_back(kAlphabet[(v >> 12) & 63]);
        out.push_back(rest == 2 ? kAlphabet[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

std::string EncodeHeaderWords(std::string_view header) {
    std::string out;
    std::string run;
    std::size_t runChars = 0;
    bool pending = false;
    for (std::size_t i = 0; i < header.size();) {
        std::size_t length = cp932::CharacterLength(header, i);
        if (IsAsciiChar(header, i)) {
            if (pending) {
                out += EncodedWord(run) + " ";
                run.clear();
                runChars = 0;
                pending = false;
            }
            out.push_back(header[i]);
        } else {
            if (!pending) {
                out.push_back(' ');
                pending = true;
            }
            // Length of the word if it were closed now: the escapes add
            // eight bytes before Base64.
            std::size_t encoded =
                kWordStart.size() + kWordEnd.size() + 4 * ((2 * runChars + 8 + 2) / 3);
            if (encoded > kMaxWordLength) {
                out += EncodedWord(run) + " ";
                run.clear();
                runChars = 0;
            }
            run.append(header.substr(i, length));
            ++runChars;
        }
        i += length;
    }
    if (pending)
        out += EncodedWord(run) + " ";
    return out;
}

std::string FoldHeader(std::string_view header) {
    std::vector<std::string_view> lines = Split(header, kCrLf);
    // Text after the last CR LF is a line too, unless it is empty.
    if (!lines.empty() && lines.back().empty())
        lines.pop_back();
    std::string out;
    for (std::string_view line : lines) {
        std::vector<std::string_view> words = Split(line, " ");
        std::string current(words.front());
        std::size_t currentLength = current.size();
        for (std::size_t w = 1; w < words.size(); ++w) {
            if (currentLength + words[w].size() + 1 > kFoldWidth) {
                out += current + kCrLf;
                current = " ";
                current += words[w];
                currentLength = words[w].size();
            } else {
                current += ' ';
                current += words[w];
                currentLength += words[w].size() + 1;
            }
        }
        out += current + kCrLf;
    }
    return out;
}

std::string StampHeader(std::int64_t time, std::string_view clientMailAddress,
                        std::string_view program) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static std::atomic<std::uint64_t> counter{0};
    std::string stamp = "Date: ";
    const std::time_t t = static_cast<std::time_t>(time);
    std::tm local{};
    if (::localtime_r(&t, &local) != nullptr) {
        const long offset = local.tm_gmtoff / 60;
        const long minutes = offset < 0 ? -offset : offset;
        char date[64];
        std::snprintf(date, sizeof date, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                      kDays[local.tm_wday % 7], local.tm_mday, kMonths[local.tm_mon % 12],
                      local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                      offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
        stamp += date;
    }
    // The domain goes into the id as it is only when it is a plain one.
    std::string domain(clientMailAddress.substr(clientMailAddress.rfind('@') + 1));
    if (clientMailAddress.find('@') == std::string_view::npos || domain.empty() ||
        domain.find_first_not_of(
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-") !=
            std::string::npos) {
        char host[256] = {};
        domain = ::gethostname(host, sizeof host - 1) == 0 && host[0] != '\0' ? host : "localhost";
    }
    return stamp + kCrLf + "Message-ID: <" + std::to_string(time) + "." +
           std::to_string(::getpid()) + "." + std::to_string(++counter) + "." +
           std::string(program) + "@" + domain + ">" + kCrLf;
}

std::string RecipientsOnOneLine(std::string_view recipients) {
    std::string joined;
    std::size_t start = 0;
    while (start <= recipients.size()) {
        std::size_t end = recipients.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = recipients.size();
        if (end > start) {
            if (!joined.empty())
                joined += ',';
            joined.append(recipients.substr(start, end - start));
        }
        start = end + 1;
    }
    return joined;
}

std::vector<std::string> SplitRecipients(std::string_view toStr) {
    const std::string oneLine = RecipientsOnOneLine(toStr);
    const std::string_view recipients = oneLine;
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t comma = recipients.find(',', start);
        if (comma == std::string_view::npos) {
            parts.emplace_back(recipients.substr(start));
            return parts;
        }
        parts.emplace_back(recipients.substr(start, comma - start));
        start = comma + 1;
    }
}

std::string ComposeMessage(const MailHeader& mail, std::string_view bodyText) {
    std::string header = "Subject: " + mail.subject + kCrLf + "From: " + mail.fromName + " <" +
                         mail.fromAddress + ">" + kCrLf + "To: " + mail.to + kCrLf;
    const std::string body(bodyText);
    CleanText cleanHeader = CleanUpForMail(header);
    CleanText cleanBody = CleanUpForMail(body);
    header = cleanHeader.text;
    if (cleanHeader.nonAscii || cleanBody.nonAscii)
        header += "Content-Type: text/plain; charset=iso-2022-jp\r\n";
    else
        header += "Content-Type: text/plain; charset=us-ascii\r\n";
    header = FoldHeader(EncodeHeaderWords(header));
    return header + kCrLf + ToIso2022Jp(cleanBody.text);
}

std::string DataSection(std::string_view message) {
    std::string out;
    out.reserve(message.size() + 16);
    bool lineStart = true;
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (lineStart && message[i] == '.')
            out.push_back('.');
        out.push_back(message[i]);
        lineStart = message[i] == '\n' && i > 0 && message[i - 1] == '\r';
    }
    out += "\r\n.\r\n";
    return out;
}

}  // namespace quellin::mail
