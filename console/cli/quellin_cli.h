// The `quellin` command line: the console's maintenance operations and
// device registration for scripts, without the windows.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace quellin::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a device, a router or a file failed
inline constexpr int kExitUsage = 2;   // the command line is wrong
inline constexpr int kExitBusy = 3;    // the console (or another run) holds the folder

// Runs one command line (without the program name).  defaultHome is the
// installation folder used without --home, ending in "/".  Terminal output
// is UTF-8.
int RunQuellin(const std::vector<std::string>& args, const std::string& defaultHome,
               std::ostream& out, std::ostream& err);

// A text (CP932) as one cell of the terminal's tab-separated output, UTF-8:
// tabs, line ends and other control characters shown as escapes ("\t",
// "\n", "\x1B"), so that no text from a router or base.db can forge a
// cell or a row.
std::string Cell(std::string_view text);

// A reason (CP932) on one line of the terminal, UTF-8: line ends and other
// control characters shown as escapes, cut after maxBytes with "...".
std::string OneLine(const std::string& reason, std::size_t maxBytes = 300);

}  // namespace quellin::cli
