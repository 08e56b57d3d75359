// What people type to search the store, from a window or a command line,
// and the names the store's numbers are shown by.
#pragma once

#include "clock.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quellin::syslogstore {

// A point in time as UTC seconds, from what a user typed; `clock` gives now,
// the zone is the local one unless the text names its own:
//   "now", "today", "yesterday" (local midnight),
//   "-30s", "-15m", "-2h", "-7d", "-1w" (that long before now; the "-" may
//   be left out),
//   "YYYY-MM-DD", "YYYY-MM-DD hh:mm", "YYYY-MM-DD hh:mm:ss" ("T" may stand
//   for the space), followed by "Z" or "+hh:mm", "-hhmm", ... for a zone,
//   "@<seconds since 1970>".
// nullopt for anything else, and for dates that do not exist.
std::optional<std::int64_t> ParseTimePoint(std::string_view text, const Clock& clock);

// Level bits (1 << level) from "Error", "err", "3", "Emergency-Error",
// "0-3", "Warning,Error", ...: names as the list shows them (case does not
// matter) or numbers 0-7, single or as ranges, separated by ",".
// nullopt for an unknown name or an empty text.
std::optional<std::uint8_t> ParseLevelMask(std::string_view text);

// "Emergency" ... "Debug"; empty for a number outside 0-7.
std::string_view LevelName(int level);
// "Kern" ... "Local7", as the list shows facilities; empty for 15 and
// numbers outside 0-23.
std::string_view FacilityName(int facility);

// Dotted IPv4 ("192.168.1.1") to the address in host order, and back.
std::optional<std::uint32_t> ParseIPv4Address(std::string_view text);
std::string FormatIPv4Address(std::uint32_t address);

// Where the store lives when StorePath is not set: beside the log file
// (LogPath, CP932 text), under the name "syslogd-store.db".
std::filesystem::path DefaultStorePath(std::string_view logPath);

}  // namespace quellin::syslogstore
