#include "received_message.h"

#include "codec.h"

#include <algorithm>
#include <ctime>

namespace quellin::syslogd {
namespace {

constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

constexpr std::array<LevelInfo, 8> kLevels = {{{"Emergency", 1},
                                               {"Alert", 2},
                                               {"Critical", 4},
                                               {"Error", 8},
                                               {"Warning", 16},
                                               {"Notice", 32},
                                               {"Info", 64},
                                               {"Debug", 128}}};

// Facility 15 has no entry; from 16 on the bit is one lower than the facility
// number so that the named facilities fill bits 0-22 without a gap.
constexpr std::array<FacilityInfo, 24> kFacilities = {
    {{"Kern", 0x1},       {"User", 0x2},         {"Mail", 0x4},         {"Daemon", 0x8},
     {"Auth", 0x10},      {"Syslog", 0x20},      {"Lpr", 0x40},         {"News", 0x80},
     {"Uucp", 0x100},     {"Cron", 0x200},       {"Authpriv", 0x400},   {"Ftp", 0x800},
     {"Ntp", 0x1000},     {"Log Audit", 0x2000}, {"Log Alert", 0x4000}, {nullptr, 0},
     {"Local0", 0x8000},  {"Local1", 0x10000},   {"Local2", 0x20000},   {"Local3", 0x40000},
     {"Local4", 0x80000}, {"Local5", 0x100000},  {"Local6", 0x200000},  {"Local7", 0x400000}}};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
int DigitValue(char c) {
    return c - '0';
}

// The first characters of a datagram: the header never reaches beyond the
// 22nd, so the rest of a long datagram is never walked.
class HeaderCharacters {
public:
    static constexpr std::size_t kReach = 22;

    explicit HeaderCharacters(std::string_view text) : text_(text) {
        std::size_t pos = 0;
        while (count_ < kReach && pos < text.size()) {
            offsets_[count_++] = pos;
            pos += cp932::CharacterLength(text, pos);
        }
        offsets_[count_] = pos;
    }

    // Byte offset of character `index` (the end of the walked part past it).
    std::size_t Offset(std::size_t index) const {
        return index < count_ ? offsets_[index] : offsets_[count_];
    }
    // The character as one byte, or '\0' for a two-byte character or past
    // the walked part.
    char Single(std::size_t index) const {
        if (index >= count_ || offsets_[index + 1] - offsets_[index] != 1)
            return '\0';
        return text_[offsets_[index]];
    }
    // Characters [first, first + count) when all of them were walked.
    std::string_view Slice(std::size_t first, std::size_t count) const {
        if (first + count > count_)
            return {};
        return text_.substr(offsets_[first], offsets_[first + count] - offsets_[first]);
    }

private:
    std::string_view text_;
    std::array<std::size_t, kReach + 1> offsets_{};
    std::size_t count_ = 0;
};

bool IsLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

std::optional<std::tm> LocalTime(std::int64_t time) {
    std::time_t t = static_cast<std::time_t>(time);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr)
        return std::nullopt;
    return local;
}

// Two decimal digits, or nullopt.
std::optional<int> TwoDigits(char tens, char ones) {
    if (!IsDigit(tens) || !IsDigit(ones))
        return std::nullopt;
    return DigitValue(tens) * 10 + DigitValue(ones);
}

// The sender's "Mmm dd hh:mm:ss": an English month abbreviation in exact
// case, a day of two digits or a space and one digit that exists in that
// month of the current year, and a valid 24-hour time.  `stamp` holds the 15
// characters after ">", already known to be single-byte.
bool IsValidTimestamp(std::string_view stamp, int currentYear) {
    if (stamp.size() != 15)
        return false;
    int month = 0;
    for (std::size_t i = 0; i < kMonths.size(); ++i)
        if (stamp.substr(0, 3) == kMonths[i])
            month = static_cast<int>(i) + 1;
    if (month == 0 || stamp[3] != ' ' || stamp[6] != ' ')
        return false;

    std::optional<int> day;
    if (stamp[4] == ' ' && IsDigit(stamp[5]))
        day = DigitValue(stamp[5]);
    else
        day = TwoDigits(stamp[4], stamp[5]);
    if (!day || *day < 1 || *day > DaysInMonth(currentYear, month))
        return false;

    auto hours = TwoDigits(stamp[7], stamp[8]);
    auto minutes = TwoDigits(stamp[10], stamp[11]);
    auto seconds = TwoDigits(stamp[13], stamp[14]);
    return stamp[9] == ':' && stamp[12] == ':' && hours && *hours <= 23 && minutes &&
           *minutes <= 59 && seconds && *seconds <= 59;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(int year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const int yoe = year - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<std::int64_t>(era) * 146097 + doe - 719468;
}

// Digits at [pos, pos + count) as a number, or -1.
int Digits(std::string_view text, std::size_t pos, std::size_t count) {
    if (pos + count > text.size())
        return -1;
    int value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (!IsDigit(text[i]))
            return -1;
        value = value * 10 + DigitValue(text[i]);
    }
    return value;
}

// An RFC 3339 timestamp as RFC 5424 allows it ("2026-12-09T07:21:34.123+09:00",
// at most six fraction digits, "Z" or an offset) as seconds since the epoch.
std::optional<std::int64_t> ParseRfc3339(std::string_view t) {
    const int year = Digits(t, 0, 4), month = Digits(t, 5, 2), day = Digits(t, 8, 2);
    const int hour = Digits(t, 11, 2), minute = Digits(t, 14, 2), second = Digits(t, 17, 2);
    if (t.size() < 20 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' ||
        t[16] != ':' || year < 1 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 60)
        return std::nullopt;
    std::size_t pos = 19;
    if (t[pos] == '.') {
        std::size_t digits = 0;
        while (++pos < t.size() && IsDigit(t[pos]))
            ++digits;
        if (digits < 1 || digits > 6 || pos >= t.size())
            return std::nullopt;
    }
    int offset = 0;
    if (t[pos] == 'Z' && pos + 1 == t.size()) {
        offset = 0;
    } else if ((t[pos] == '+' || t[pos] == '-') && pos + 6 == t.size() && t[pos + 3] == ':') {
        const int oh = Digits(t, pos + 1, 2), om = Digits(t, pos + 4, 2);
        if (oh < 0 || oh > 23 || om < 0 || om > 59)
            return std::nullopt;
        offset = (oh * 60 + om) * 60 * (t[pos] == '-' ? -1 : 1);
    } else {
        return std::nullopt;
    }
    return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 +
           std::min(second, 59) - offset;
}

// The next space-delimited header field of at most `limit` printable
// characters, or nullopt; `pos` moves past its space.
std::optional<std::string_view> HeaderField(std::string_view text, std::size_t& pos,
                                            std::size_t limit) {
    std::size_t end = pos;
    while (end < text.size() && end - pos <= limit && text[end] > ' ' && text[end] < 0x7F)
        ++end;
    if (end == pos || end - pos > limit || end >= text.size() || text[end] != ' ')
        return std::nullopt;
    std::string_view field = text.substr(pos, end - pos);
    pos = end + 1;
    return field;
}

// The end of the structured data starting at `pos` ("-" or one or more
// "[SD-ID PARAM=\"VALUE\" ...]" with \", \\ and \] escaped in values), or
// nullopt when it is not whole.
std::optional<std::size_t> StructuredDataEnd(std::string_view text, std::size_t pos) {
    if (pos < text.size() && text[pos] == '-')
        return pos + 1;
    if (pos >= text.size() || text[pos] != '[')
        return std::nullopt;
    while (pos < text.size() && text[pos] == '[') {
        bool quoted = false;
        for (++pos;; ++pos) {
            if (pos >= text.size())
                return std::nullopt;
            const char c = text[pos];
            if (quoted && c == '\\') {
                ++pos;
            } else if (c == '"') {
                quoted = !quoted;
            } else if (!quoted && c == ']') {
                ++pos;
                break;
            }
        }
    }
    return pos;
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = c < 0x80             ? 1
                              : (c & 0xE0) == 0xC0 ? 2
                              : (c & 0xF0) == 0xE0 ? 3
                              : (c & 0xF8) == 0xF0 ? 4
                                                   : 0;
        if (n == 0 || i + n > text.size() || (n == 2 && c < 0xC2))
            return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += n;
    }
    return true;
}

// Text of an RFC 5424 message as CP932: UTF-8 (marked by its byte-order mark
// or valid as such) converted, "?" for what has no CP932 form; anything
// else is taken as the CP932 the routers send.
void AppendAsCp932(std::string& out, std::string_view text) {
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    const bool marked = text.substr(0, kBom.size()) == kBom;
    if (marked)
        text.remove_prefix(kBom.size());
    if (marked || IsValidUtf8(text))
        out += cp932::FromUtf8Lossy(text);
    else
        out.append(text);
}

DecodeResult Refuse(DropReason reason) {
    return {std::nullopt, reason};
}

}  // namespace

std::optional<FacilityInfo> LookUpFacility(int facility) {
    if (facility < 0 || facility >= static_cast<int>(kFacilities.size()))
        return std::nullopt;
    const FacilityInfo& info = kFacilities[static_cast<std::size_t>(facility)];
    if (info.name == nullptr)
        return std::nullopt;
    return info;
}

std::optional<LevelInfo> LookUpLevel(int level) {
    if (level < 0 || level >= static_cast<int>(kLevels.size()))
        return std::nullopt;
    return kLevels[static_cast<std::size_t>(level)];
}

std::string FormatReceiveTime(std::int64_t time) {
    auto local = LocalTime(time);
    if (!local)
        return std::string(15, ' ');
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%s %02d %02d:%02d:%02d",
                  kMonths[static_cast<std::size_t>(local->tm_mon) % 12], local->tm_mday,
                  local->tm_hour, local->tm_min, local->tm_sec);
    return buffer;
}

ReceiveTime DescribeReceiveTime(std::int64_t time) {
    ReceiveTime described;
    described.second = time;
    auto local = LocalTime(time);
    described.year = local ? local->tm_year + 1900 : 1970;
    described.text = FormatReceiveTime(time);
    return described;
}

ListRow ReceivedMessage::Row() const {
    return {std::string(timestamp), std::string(source), facility.name, level.name,
            std::string(body)};
}

DecodeResult DecodeDatagram(std::string_view datagram, std::string_view source,
                            const ReceiveTime& time) {
    HeaderCharacters chars(datagram);
    if (chars.Single(0) != '<')
        return Refuse(DropReason::NoOpeningBracket);

    // Zero-based index of the first ">": the PRI takes one to three
    // characters, so a ">" further on (or none) refuses the datagram as well.
    std::size_t close = 0;
    for (std::size_t i = 1; i <= 4 && close == 0; ++i)
        if (chars.Single(i) == '>')
            close = i;
    if (close < 2)
        return Refuse(DropReason::BadPriLength);

    // Only plain digits make a PRI; a sign or a decimal point would give a
    // level outside the table.
    int pri = 0;
    for (std::size_t i = 1; i < close; ++i) {
        char c = chars.Single(i);
        if (!IsDigit(c))
            return Refuse(DropReason::NonNumericPri);
        pri = pri * 10 + DigitValue(c);
    }
    auto facility = LookUpFacility(pri / 8);
    if (!facility)
        return Refuse(DropReason::UnknownFacility);

    ReceivedMessage m;
    m.raw = datagram;
    m.source = source;
    m.pri = pri;
    m.facility = *facility;
    m.level = *LookUpLevel(pri % 8);
    m.receivedAt = time.second;
    std::string_view stamp = chars.Slice(close + 1, 15);
    if (stamp.size() == 15 && chars.Single(close + 16) == ' ' &&
        IsValidTimestamp(stamp, time.year)) {
        m.timestamp = stamp;
        m.body = datagram.substr(chars.Offset(close + 17));
    } else {
        // The body is the text after ">" without its leading spaces.
        std::size_t body = chars.Offset(close + 1);
        while (body < datagram.size() && datagram[body] == ' ')
            ++body;
        m.timestamp = time.text;
        m.body = datagram.substr(body);
    }
    m.searchText = datagram;
    m.rawBodyOffset = static_cast<std::size_t>(m.body.data() - datagram.data());
    return {m, DropReason::None};
}

DecodeResult DecodeMessage(std::string_view datagram, std::string_view source,
                           const ReceiveTime& time, std::string& storage) {
    DecodeResult result = DecodeDatagram(datagram, source, time);
    if (!result.message)
        return result;
    // After "<PRI>": VERSION SP TIMESTAMP SP HOSTNAME SP APP-NAME SP PROCID SP
    // MSGID SP STRUCTURED-DATA [SP MSG]; anything less whole stays the older
    // form, decoded as it always was.
    std::size_t pos = datagram.find('>') + 1;
    auto version = HeaderField(datagram, pos, 3);
    if (!version || (*version)[0] < '1' || (*version)[0] > '9' ||
        Digits(*version, 0, version->size()) < 0)
        return result;
    auto stamp = HeaderField(datagram, pos, 32);
    auto host = stamp ? HeaderField(datagram, pos, 255) : std::nullopt;
    auto app = host ? HeaderField(datagram, pos, 48) : std::nullopt;
    auto procId = app ? HeaderField(datagram, pos, 128) : std::nullopt;
    auto msgId = procId ? HeaderField(datagram, pos, 32) : std::nullopt;
    if (!msgId)
        return result;
    std::optional<std::int64_t> sent;
    if (*stamp != "-" && !(sent = ParseRfc3339(*stamp)))
        return result;
    const std::size_t sdStart = pos;
    auto sdEnd = StructuredDataEnd(datagram, sdStart);
    if (!sdEnd || (*sdEnd < datagram.size() && datagram[*sdEnd] != ' '))
        return result;
    const std::size_t msgStart = std::min(*sdEnd + 1, datagram.size());

    ReceivedMessage& m = *result.message;
    storage.clear();
    storage += sent ? FormatReceiveTime(*sent) : time.text;
    const std::size_t searchStart = storage.size();
    storage.append(datagram.substr(0, datagram.find('>') + 1)).append(*version) += ' ';
    storage.append(*stamp) += ' ';
    const std::size_t bodyStart = storage.size();
    auto named = [&](std::string_view field) {
        if (field != "-")
            storage.append(field) += ' ';
    };
    named(*host);
    if (*app != "-") {
        storage.append(*app);
        if (*procId != "-")
            storage.append("[").append(*procId) += ']';
        storage += ' ';
    } else {
        named(*procId);
    }
    named(*msgId);
    const std::string_view sd = datagram.substr(sdStart, *sdEnd - sdStart);
    if (sd != "-") {
        AppendAsCp932(storage, sd);
        storage += ' ';
    }
    AppendAsCp932(storage, datagram.substr(msgStart));
    if (msgStart == datagram.size() && storage.size() > bodyStart)
        storage.pop_back();  // no MSG: no space after the last field
    const std::string_view kept = storage;
    m.timestamp = kept.substr(0, searchStart);
    m.searchText = kept.substr(searchStart);
    m.body = kept.substr(bodyStart);
    m.rawBodyOffset = msgStart;
    return result;
}

std::string NotificationText(std::string_view timestamp, std::string_view source,
                             std::string_view text) {
    std::string out;
    out.reserve(timestamp.size() + source.size() + text.size() + 9);
    out.append(timestamp).append("   From ").append(source).append("\r\n").append(text);
    return out;
}

}  // namespace quellin::syslogd
