#include "profile_file.h"

#include "codec.h"
#include "file_replacement.h"
#include "leading_number.h"

#include <climits>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

namespace quellin {
namespace {

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

unsigned char FoldAscii(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
}

// Case-insensitive for ASCII letters; the trail byte of a two-byte CP932
// character may look like a letter and is compared exactly.
bool NamesEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto ca = static_cast<unsigned char>(a[i]);
        auto cb = static_cast<unsigned char>(b[i]);
        if (cp932::IsLeadByte(ca)) {
            if (ca != cb || i + 1 >= a.size() || a[i + 1] != b[i + 1])
                return false;
            ++i;
            continue;
        }
        if (FoldAscii(ca) != FoldAscii(cb))
            return false;
    }
    return true;
}

// The name of a section header line, or nullopt when the line is none.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    auto close = line.find(']');
    std::string_view name =
        close == std::string_view::npos ? line.substr(1) : line.substr(1, close - 1);
    return Trim(name);
}

struct KeyValue {
    std::string_view key;
    std::string_view value;
};

std::optional<KeyValue> SplitKeyLine(std::string_view line) {
    auto eq = line.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    return KeyValue{Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))};
}

std::string Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value);
}

}  // namespace

std::string FoldProfileName(std::string_view name) {
    std::string folded(name);
    for (std::size_t i = 0; i < folded.size(); ++i) {
        auto c = static_cast<unsigned char>(folded[i]);
        if (cp932::IsLeadByte(c)) {
            ++i;
        } else {
            folded[i] = static_cast<char>(FoldAscii(c));
        }
    }
    return folded;
}

ProfileDocument::ProfileDocument(std::string_view bytes) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        auto nl = bytes.find('\n', pos);
        if (nl == std::string_view::npos) {
            lines_.push_back({std::string(bytes.substr(pos)), ""});
            break;
        }
        std::size_t textEnd = nl;
        std::string end = "\n";
        if (textEnd > pos && bytes[textEnd - 1] == '\r') {
            --textEnd;
            end = "\r\n";
        }
        lines_.push_back({std::string(bytes.substr(pos, textEnd - pos)), end});
        pos = nl + 1;
    }
}

std::optional<std::size_t> ProfileDocument::FindSection(std::string_view section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        auto name = SectionName(lines_[i].text);
        if (name && NamesEqual(*name, Trim(section)))
            return i;
    }
    return std::nullopt;
}

std::size_t ProfileDocument::SectionEnd(std::size_t header) const {
    std::size_t i = header + 1;
    while (i < lines_.size() && !SectionName(lines_[i].text))
        ++i;
    return i;
}

std::optional<std::string> ProfileDocument::Find(std::string_view section,
                                                 std::string_view key) const {
    auto header = FindSection(section);
    if (!header)
        return std::nullopt;
    for (std::size_t i = *header + 1, end = SectionEnd(*header); i < end; ++i) {
        auto kv = SplitKeyLine(lines_[i].text);
        if (kv && NamesEqual(kv->key, Trim(key)))
            return Unquote(kv->value);
    }
    return std::nullopt;
}

std::vector<std::string> ProfileDocument::Keys(std::string_view section) const {
    std::vector<std::string> keys;
    auto header = FindSection(section);
    if (!header)
        return keys;
    for (std::size_t i = *header + 1, end = SectionEnd(*header); i < end; ++i) {
        auto kv = SplitKeyLine(lines_[i].text);
        if (!kv || kv->key.empty())
            continue;
        bool seen = false;
        for (const auto& k : keys)
            seen = seen || NamesEqual(k, kv->key);
        if (!seen)
            keys.emplace_back(kv->key);
    }
    return keys;
}

std::vector<std::pair<std::string, std::string>> ProfileDocument::Values(
    std::string_view section) const {
    std::vector<std::pair<std::string, std::string>> values;
    auto header = FindSection(section);
    if (!header)
        return values;
    std::unordered_set<std::string> seen;
    for (std::size_t i = *header + 1, end = SectionEnd(*header); i < end; ++i) {
        auto kv = SplitKeyLine(lines_[i].text);
        if (!kv || !seen.insert(FoldProfileName(kv->key)).second)
            continue;
        values.emplace_back(std::string(kv->key), Unquote(kv->value));
    }
    return values;
}

void ProfileDocument::SetMany(std::string_view section,
                              const std::vector<std::pair<std::string, std::string>>& entries) {
    if (entries.empty())
        return;
    auto header = FindSection(section);
    if (!header) {
        if (!lines_.empty() && lines_.back().end.empty())
            lines_.back().end = "\r\n";
        lines_.push_back({"[" + std::string(Trim(section)) + "]", "\r\n"});
        header = lines_.size() - 1;
    }
    // As with repeated Set calls, a name given twice keeps the place of its
    // first entry and the spelling and value of its last.
    struct Wanted {
        std::size_t first;
        std::size_t last;
        bool written = false;
    };
    std::vector<std::string> names;
    std::unordered_map<std::string, Wanted> wanted;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        std::string name = FoldProfileName(Trim(entries[i].first));
        auto [it, fresh] = wanted.try_emplace(name, Wanted{i, i});
        if (fresh) {
            names.push_back(name);
        } else {
            it->second.last = i;
        }
    }
    auto lineFor = [&](const Wanted& w) {
        return std::string(Trim(entries[w.last].first)) + "=" + entries[w.last].second;
    };
    const std::size_t end = SectionEnd(*header);
    std::size_t lastFilled = *header;
    for (std::size_t i = *header + 1; i < end; ++i) {
        if (!Trim(lines_[i].text).empty())
            lastFilled = i;
        auto kv = SplitKeyLine(lines_[i].text);
        if (!kv)
            continue;
        auto it = wanted.find(FoldProfileName(kv->key));
        if (it == wanted.end() || it->second.written)
            continue;
        lines_[i].text = lineFor(it->second);
        if (lines_[i].end.empty())
            lines_[i].end = "\r\n";
        it->second.written = true;
    }
    std::vector<Line> added;
    for (const std::string& name : names) {
        const Wanted& w = wanted.at(name);
        if (!w.written)
            added.push_back({lineFor(w), "\r\n"});
    }
    if (added.empty())
        return;
    if (lines_[lastFilled].end.empty())
        lines_[lastFilled].end = "\r\n";
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastFilled + 1),
                  std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
}

void ProfileDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    std::string keyLine = std::string(Trim(key)) + "=" + std::string(value);
    auto header = FindSection(section);
    if (!header) {
        if (!lines_.empty() && lines_.back().end.empty())
            lines_.back().end = "\r\n";
        lines_.push_back({"[" + std::string(Trim(section)) + "]", "\r\n"});
        lines_.push_back({keyLine, "\r\n"});
        return;
    }
    std::size_t end = SectionEnd(*header);
    std::size_t lastFilled = *header;
    for (std::size_t i = *header + 1; i < end; ++i) {
        auto kv = SplitKeyLine(lines_[i].text);
        if (kv && NamesEqual(kv->key, Trim(key))) {
            lines_[i].text = keyLine;
            if (lines_[i].end.empty())
                lines_[i].end = "\r\n";
            return;
        }
        if (!Trim(lines_[i].text).empty())
            lastFilled = i;
    }
    if (lines_[lastFilled].end.empty())
        lines_[lastFilled].end = "\r\n";
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastFilled + 1), {keyLine, "\r\n"});
}

std::string ProfileDocument::Bytes() const {
    std::string out;
    for (const auto& line : lines_) {
        out += line.text;
        out += line.end;
    }
    return out;
}

int ParseProfileInt(std::string_view text) {
    const LeadingNumber number = SplitLeadingNumber(text);
    long long value = 0;
    for (char c : number.digits) {
        value = value * 10 + (c - '0');
        if (value > INT_MAX)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (number.negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    return std::move(content).str();
}

std::string ProfileFile::GetString(std::string_view section, std::string_view key,
                                   std::string_view defaultValue, std::size_t bufferSize) const {
    std::string value(defaultValue);
    if (auto bytes = ReadWholeFile(path_)) {
        if (auto found = ProfileDocument(*bytes).Find(section, key))
            value = std::move(*found);
    }
    if (bufferSize == 0)
        return {};
    return std::string(cp932::Head(value, bufferSize - 1));
}

int ProfileFile::GetInt(std::string_view section, std::string_view key, int defaultValue) const {
    auto bytes = ReadWholeFile(path_);
    if (!bytes)
        return defaultValue;
    auto found = ProfileDocument(*bytes).Find(section, key);
    if (!found)
        return defaultValue;
    return ParseProfileInt(*found);
}

bool ProfileFile::WriteString(std::string_view section, std::string_view key,
                              std::string_view value) const {
    ProfileDocument doc(ReadWholeFile(path_).value_or(std::string()));
    doc.Set(section, key, value);
    return ReplaceFile(path_, doc.Bytes()).ok();
}

}  // namespace quellin
