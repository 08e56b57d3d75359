// The received-message log and the saved list files share one line format:
// the five list columns joined by ",", CR LF at the end, CP932, no header,
// no quoting.  A "," inside the text stays as it is, so a reader takes the
// first four "," as separators and leaves the rest to the text.
#pragma once

#include "received_message.h"

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quellin::syslogd {

// The row as one line without its line end.  A TAB inside a column becomes
// "," (the line is the row text with every TAB replaced), and CR or LF
// becomes a space: a sender must not be able to forge further lines.
std::string FormatLogLine(const ListRow& row);
// The same line appended to `out`, from the columns where they lie.
void AppendLogLineTo(std::string& out, const std::array<std::string_view, 5>& columns);

// Splits a line at its first four ","; a line with fewer fills only the
// columns it reaches.  A CR at the end of the line is not part of the text.
ListRow SplitLogLine(std::string_view line);

// Creates or replaces the file with one line per row, top to bottom.
bool WriteListFile(const std::filesystem::path& path, const std::vector<ListRow>& rows);

// The lines of a file, without their line ends (CR LF or LF); a last line
// without a line end counts, an empty end after the last line end does not.
// nullopt when the file cannot be read.
std::optional<std::vector<std::string>> ReadLines(const std::filesystem::path& path);
std::vector<std::string> SplitLines(std::string_view bytes);

}  // namespace quellin::syslogd
