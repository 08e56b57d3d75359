#include "log_file.h"

#include "profile_file.h"

#include <cstdio>
#include <memory>

namespace quellin::syslogd {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

void AppendColumn(std::string& line, std::string_view column) {
    // Runs of plain bytes are copied whole; only TAB, CR and LF change.
    std::size_t start = 0;
    for (std::size_t i = 0; i < column.size(); ++i) {
        const char c = column[i];
        if (c != '\t' && c != '\r' && c != '\n')
            continue;
        line.append(column.data() + start, i - start);
        line += c == '\t' ? ',' : ' ';
        start = i + 1;
    }
    line.append(column.data() + start, column.size() - start);
}

bool WriteAll(std::FILE* file, std::string_view bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

}  // namespace

void AppendLogLineTo(std::string& out, const std::array<std::string_view, 5>& columns) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (i > 0)
            out += ',';
        AppendColumn(out, columns[i]);
    }
}

std::string FormatLogLine(const ListRow& row) {
    std::string line;
    AppendLogLineTo(line, {row[0], row[1], row[2], row[3], row[4]});
    return line;
}

ListRow SplitLogLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    ListRow row;
    for (std::size_t column = 0; column < row.size(); ++column) {
        if (column == row.size() - 1) {
            row[column] = std::string(line);
            break;
        }
        auto comma = line.find(',');
        if (comma == std::string_view::npos) {
            row[column] = std::string(line);
            break;
        }
        row[column] = std::string(line.substr(0, comma));
        line.remove_prefix(comma + 1);
    }
    return row;
}

bool WriteListFile(const std::filesystem::path& path, const std::vector<ListRow>& rows) {
    FilePtr file(std::fopen(path.c_str(), "wb"));
    if (!file)
        return false;
    bool ok = true;
    for (const auto& row : rows) {
        ok = WriteAll(file.get(), FormatLogLine(row)) && WriteAll(file.get(), "\r\n");
        if (!ok)
            break;
    }
    return std::fclose(file.release()) == 0 && ok;
}

std::vector<std::string> SplitLines(std::string_view bytes) {
    std::vector<std::string> lines;
    while (!bytes.empty()) {
        auto nl = bytes.find('\n');
        std::string_view line = bytes.substr(0, nl);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.emplace_back(line);
        if (nl == std::string_view::npos)
            break;
        bytes.remove_prefix(nl + 1);
    }
    return lines;
}

std::optional<std::vector<std::string>> ReadLines(const std::filesystem::path& path) {
    auto bytes = ReadWholeFile(path);
    if (!bytes)
        return std::nullopt;
    return SplitLines(*bytes);
}

}  // namespace quellin::syslogd
