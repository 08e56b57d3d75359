#include "syslogd_settings.h"

#include "codec.h"
#include "profile_file.h"

#include <algorithm>
#include <limits>
#include <unordered_map>

namespace quellin::syslogd {
namespace {

// Values are read as into a 255-byte buffer.
constexpr std::size_t kValueLimit = 254;

std::string CutValue(std::string value) {
    if (value.size() <= kValueLimit)
        return value;
    std::size_t cut = 0;
    for (std::size_t i = 0; i < kValueLimit;) {
        std::size_t width = cp932::IsLeadByte(static_cast<unsigned char>(value[i])) ? 2 : 1;
        if (i + width > kValueLimit)
            break;
        i += width;
        cut = i;
    }
    value.resize(cut);
    return value;
}

// A whole decimal number with an optional sign; blanks around it were
// already removed by the profile reader.
std::optional<std::int64_t> ParseWhole(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > (std::int64_t{1} << 40))
            return std::nullopt;
    }
    return negative ? -value : value;
}

// The private-profile rules (see profile_file.h) applied to the one section
// this file uses, in one pass: with a table of up to kSearchTableLimit
// entries, looking each key up line by line would take seconds.
struct Line {
    std::string text;  // without its line end
    std::string end;   // "\r\n", "\n" or "" for a last line without one
};

std::vector<Line> SplitProfileLines(std::string_view bytes) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        auto nl = bytes.find('\n', pos);
        if (nl == std::string_view::npos) {
            lines.push_back({std::string(bytes.substr(pos)), ""});
            break;
        }
        std::size_t textEnd = nl;
        std::string end = "\n";
        if (textEnd > pos && bytes[textEnd - 1] == '\r') {
            --textEnd;
            end = "\r\n";
        }
        lines.push_back({std::string(bytes.substr(pos, textEnd - pos)), end});
        pos = nl + 1;
    }
    return lines;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// Names compare without case for ASCII letters; two-byte characters exactly.
std::string FoldName(std::string_view name) {
    std::string folded(name);
    for (std::size_t i = 0; i < folded.size(); ++i) {
        auto c = static_cast<unsigned char>(folded[i]);
        if (cp932::IsLeadByte(c)) {
            ++i;
        } else if (c >= 'a' && c <= 'z') {
            folded[i] = static_cast<char>(c - 'a' + 'A');
        }
    }
    return folded;
}

std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    auto close = line.find(']');
    return Trim(close == std::string_view::npos ? line.substr(1) : line.substr(1, close - 1));
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyLine> SplitKeyLine(std::string_view line) {
    auto eq = line.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    return KeyLine{Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))};
}

std::string Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

// Lines [first, last) of the first section of that name; nullopt without one.
struct SectionRange {
    std::size_t header;
    std::size_t end;
};

std::optional<SectionRange> FindSection(const std::vector<Line>& lines) {
    const std::string wanted = FoldName(kSettingsSection);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        auto name = SectionName(lines[i].text);
        if (!name || FoldName(*name) != wanted)
            continue;
        std::size_t end = i + 1;
        while (end < lines.size() && !SectionName(lines[end].text))
            ++end;
        return SectionRange{i, end};
    }
    return std::nullopt;
}

class Reader {
public:
    explicit Reader(std::optional<std::string_view> bytes) : exists_(bytes.has_value()) {
        if (!bytes)
            return;
        std::vector<Line> lines = SplitProfileLines(*bytes);
        auto section = FindSection(lines);
        if (!section)
            return;
        for (std::size_t i = section->header + 1; i < section->end; ++i) {
            auto kv = SplitKeyLine(lines[i].text);
            if (kv)
                values_.try_emplace(FoldName(kv->key), Unquote(kv->value));
        }
    }

    bool exists() const { return exists_; }

    std::string Text(std::string_view key, std::string_view defaultValue) const {
        const std::string* found = Find(key);
        return CutValue(found != nullptr ? *found : std::string(defaultValue));
    }

    // Reads a number that fits T; records the key as failed otherwise.
    template <typename T>
    T Number(std::string_view key, T defaultValue, std::string& failedKey) const {
        const std::string* found = Find(key);
        if (found == nullptr)
            return defaultValue;
        auto value = ParseWhole(CutValue(*found));
        if (!value || *value < std::numeric_limits<T>::min() ||
            *value > std::numeric_limits<T>::max()) {
            if (failedKey.empty())
                failedKey = std::string(key);
            return defaultValue;
        }
        return static_cast<T>(*value);
    }

    bool Flag(std::string_view key, bool defaultValue, std::string& failedKey) const {
        return Number<std::int32_t>(key, defaultValue ? 1 : 0, failedKey) == 1;
    }

private:
    const std::string* Find(std::string_view key) const {
        auto it = values_.find(FoldName(key));
        return it == values_.end() ? nullptr : &it->second;
    }

    bool exists_;
    std::unordered_map<std::string, std::string> values_;
};

// Writes keys into the section as the profile write does one by one: a key
// present replaces its first line in place, a new key goes after the last
// non-blank line of the section, a missing section is added at the end.
class Writer {
public:
    void Set(std::string key, std::string value) {
        entries_.push_back({std::move(key), std::move(value)});
    }

    std::string Apply(std::string_view existing) const {
        std::vector<Line> lines = SplitProfileLines(existing);
        std::unordered_map<std::string, std::size_t> wanted;
        for (std::size_t i = 0; i < entries_.size(); ++i)
            wanted.try_emplace(FoldName(entries_[i].first), i);
        std::vector<bool> written(entries_.size(), false);

        auto section = FindSection(lines);
        if (!section) {
            if (!lines.empty() && lines.back().end.empty())
                lines.back().end = "\r\n";
            lines.push_back({"[" + std::string(kSettingsSection) + "]", "\r\n"});
            section = SectionRange{lines.size() - 1, lines.size()};
        }
        std::size_t lastFilled = section->header;
        for (std::size_t i = section->header + 1; i < section->end; ++i) {
            if (!Trim(lines[i].text).empty())
                lastFilled = i;
            auto kv = SplitKeyLine(lines[i].text);
            if (!kv)
                continue;
            auto it = wanted.find(FoldName(kv->key));
            if (it == wanted.end() || written[it->second])
                continue;
            const auto& [key, value] = entries_[it->second];
            lines[i].text = key + "=" + value;
            if (lines[i].end.empty())
                lines[i].end = "\r\n";
            written[it->second] = true;
        }
        std::vector<Line> added;
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (!written[i])
                added.push_back({entries_[i].first + "=" + entries_[i].second, "\r\n"});
        }
        if (lines[lastFilled].end.empty())
            lines[lastFilled].end = "\r\n";
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lastFilled + 1),
                     std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));

        std::string out;
        for (const auto& line : lines) {
            out += line.text;
            out += line.end;
        }
        return out;
    }

private:
    std::vector<std::pair<std::string, std::string>> entries_;
};

std::string FlagText(bool flag) {
    return flag ? "1" : "0";
}

// Keys other than the two that carry "VBCRLF" must stay on their line.
std::string OneLine(std::string_view text) {
    std::string out(text);
    std::replace_if(
        out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return out;
}

std::string Numbered(std::string_view key, std::size_t index) {
    return std::string(key) + std::to_string(index + 1);
}

}  // namespace

std::string ShowMessageItselfText() {
    return cp932::Jp("<Syslogメッセージを表示する>");
}

SyslogdSettings::SyslogdSettings() : searchTable(SearchTableSize(searchMaxKensu)) {}

std::size_t SearchTableSize(std::int32_t searchMaxKensu) {
    return static_cast<std::size_t>(std::clamp(searchMaxKensu, 0, kSearchTableLimit));
}

std::size_t ActiveEntryCount(const std::vector<SearchEntry>& table) {
    std::size_t n = 0;
    while (n < table.size() && !table[n].keyStr.empty())
        ++n;
    return n;
}

std::filesystem::path SettingsFilePath(const std::string& programFolder) {
    std::string path = programFolder;
    if (path.empty() || path.back() != '/')
        path += '/';
    return cp932::ToPath(path + kSettingsFileName);
}

std::string EncodeLineBreaks(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += "VBCRLF";
            ++i;
        } else if (text[i] == '\r' || text[i] == '\n') {
            out += "VBCRLF";
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string DecodeLineBreaks(std::string_view text) {
    static constexpr std::string_view kMarker = "VBCRLF";
    std::string out;
    for (;;) {
        auto pos = text.find(kMarker);
        out += text.substr(0, pos);
        if (pos == std::string_view::npos)
            break;
        out += "\r\n";
        text.remove_prefix(pos + kMarker.size());
    }
    return out;
}

SettingsLoad ParseSettings(std::optional<std::string_view> fileBytes) {
    Reader in(fileBytes);
    SettingsLoad load;
    SyslogdSettings& s = load.settings;
    std::string& failed = load.failedKey;

    s.mainBackColor = in.Number<std::int32_t>("MainBackColor", kSystemWindowColor, failed);
    s.mainForeColor = in.Number<std::int32_t>("MainForeColor", 0, failed);
    s.popBackColor = in.Number<std::int32_t>("POPBackColor", kSystemButtonFace, failed);
    s.popForeColor = in.Number<std::int32_t>("POPForeColor", 0, failed);
    s.maxLineCount = in.Number<std::int32_t>("MaxLineCount", 500, failed);
    s.logWriteFlag = in.Flag("LogWriteFlag", false, failed);
    s.logPath = in.Text("LogPath", kDefaultLogPath);
    s.searchMaxKensu = in.Number<std::int32_t>("SearchMaxKensu", 20, failed);
    s.mailSendFlag = in.Flag("MailSendFlag", false, failed);
    s.smtpServer = in.Text("SMTPServer", "");
    s.smtpPort = in.Number<std::int32_t>("SMTPPort", 25, failed);
    s.clientMailAddress = in.Text("ClientMailAddress", "");
    s.soundType = in.Number<std::int16_t>("SoundType", 2, failed);
    s.wavPath = in.Text("WavPath", "");
    s.dispFilter = in.Number<std::uint8_t>("DispFilter", 1, failed);
    s.filterLevel = in.Number<std::uint8_t>("FilterLevel", 0, failed);
    s.filterFacility = in.Number<std::int32_t>("FilterFacility", 0, failed);

    s.searchTable.assign(SearchTableSize(s.searchMaxKensu), SearchEntry{});
    if (!in.exists())
        return load;
    for (std::size_t i = 0; i < s.searchTable.size(); ++i) {
        SearchEntry& e = s.searchTable[i];
        e.keyStr = in.Text(Numbered("KeyStr", i), "");
        e.dispStr = in.Text(Numbered("DispStr", i), "");
        e.mailFlag = in.Flag(Numbered("MailFlag", i), false, failed);
        e.subjectStr = in.Text(Numbered("SubjectStr", i), "");
        e.fromStr = in.Text(Numbered("FromStr", i), "");
        e.toStr = DecodeLineBreaks(in.Text(Numbered("ToStr", i), ""));
        e.dataStr = DecodeLineBreaks(in.Text(Numbered("DataStr", i), ""));
        e.noPopMail = in.Flag(Numbered("NoPop_Mail", i), false, failed);
    }
    return load;
}

SettingsLoad LoadSettings(const std::filesystem::path& path) {
    auto bytes = ReadWholeFile(path);
    if (!bytes)
        return ParseSettings(std::nullopt);
    return ParseSettings(*bytes);
}

std::vector<std::pair<std::string, std::string>> SettingsEntries(const SyslogdSettings& s) {
    std::vector<std::pair<std::string, std::string>> entries;
    auto set = [&entries](std::string key, std::string value) {
        entries.emplace_back(std::move(key), std::move(value));
    };
    set("MainBackColor", std::to_string(s.mainBackColor));
    set("MainForeColor", std::to_string(s.mainForeColor));
    set("POPBackColor", std::to_string(s.popBackColor));
    set("POPForeColor", std::to_string(s.popForeColor));
    set("MaxLineCount", std::to_string(s.maxLineCount));
    set("LogWriteFlag", FlagText(s.logWriteFlag));
    set("LogPath", OneLine(s.logPath));
    set("SearchMaxKensu", std::to_string(s.searchMaxKensu));
    set("MailSendFlag", FlagText(s.mailSendFlag));
    set("SMTPServer", OneLine(s.smtpServer));
    set("SMTPPort", std::to_string(s.smtpPort));
    set("ClientMailAddress", OneLine(s.clientMailAddress));
    set("SoundType", std::to_string(s.soundType));
    set("WavPath", OneLine(s.wavPath));
    set("DispFilter", std::to_string(s.dispFilter));
    set("FilterLevel", std::to_string(s.filterLevel));
    set("FilterFacility", std::to_string(s.filterFacility));

    const SearchEntry empty;
    for (std::size_t i = 0; i < SearchTableSize(s.searchMaxKensu); ++i) {
        const SearchEntry& e = i < s.searchTable.size() ? s.searchTable[i] : empty;
        set(Numbered("KeyStr", i), OneLine(e.keyStr));
        set(Numbered("DispStr", i), OneLine(e.dispStr));
        set(Numbered("MailFlag", i), FlagText(e.mailFlag));
        set(Numbered("SubjectStr", i), OneLine(e.subjectStr));
        set(Numbered("FromStr", i), OneLine(e.fromStr));
        set(Numbered("ToStr", i), EncodeLineBreaks(e.toStr));
        set(Numbered("DataStr", i), EncodeLineBreaks(e.dataStr));
        set(Numbered("NoPop_Mail", i), FlagText(e.noPopMail));
    }
    return entries;
}

std::string RenderSettings(std::string_view existing, const SyslogdSettings& settings) {
    Writer writer;
    for (auto& [key, value] : SettingsEntries(settings))
        writer.Set(std::move(key), std::move(value));
    return writer.Apply(existing);
}

bool SaveSettings(const std::filesystem::path& path, const SyslogdSettings& settings) {
    std::string existing = ReadWholeFile(path).value_or(std::string());
    return WriteFileAtomically(path, RenderSettings(existing, settings));
}

}  // namespace quellin::syslogd
