// The fields of CSV text as RFC 4180 writes them, for tests that read back
// what the console and quellin export.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quellin::testing {

// RFC 4180 fields of CR LF lines, quotes undone.
inline std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> lines(1);
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            lines.back().push_back(std::move(field));
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            lines.back().push_back(std::move(field));
            field.clear();
            lines.emplace_back();
            ++i;
        } else {
            field += c;
        }
    }
    if (lines.back().empty())
        lines.pop_back();
    return lines;
}

}  // namespace quellin::testing
