// The `quellin` command line: the console's maintenance operations and
// device registration for scripts, without the windows.
#pragma once

#include <iosfwd>
#include <string>
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

// Where a device's last operation-log line says what happened: the message
// part of the last line of its log file, CP932; empty when there is none.
std::string LastLogMessage(const std::string& home, const std::string& deviceName);

}  // namespace quellin::cli
