// NEXORA.INI, the settings shared by the console, Netprov and Setup: all keys
// in section "Config".
#pragma once

#include <string>

namespace quellin {

inline constexpr char kSettingsSection[] = "Config";
inline constexpr int kDefaultMaxRows = 300;
// The largest MAXROWS taken: more rows make base.db and the device list too
// large to work with (a larger value is read as this one).
inline constexpr int kMaxRowsLimit = 100000;
// TELNETDEADLINE: seconds one router dialogue may take at most.
inline constexpr int kDefaultTelnetDeadline = 600;

// The console's settings record; texts are CP932.
struct ConsoleSettings {
    std::string firmDir;            // FIRMDIR
    std::string logDir;             // LOGDIR
    int port = 80;                  // PORT
    std::string loginId;            // LOGINID
    std::string httpdConf;          // HTTPDCONF
    std::string serverDir;          // SVRINSDIR
    int maxRows = kDefaultMaxRows;  // MAXROWS

    int telnetDeadline = kDefaultTelnetDeadline;  // TELNETDEADLINE

    bool operator==(const ConsoleSettings&) const = default;
};

// Reads the keys from programFolder + "NEXORA.INI" with the console's
// defaults (programFolder ends in "/").  A MAXROWS above kMaxRowsLimit is
// read as the limit; maxRowsOverLimit then tells so.  A TELNETDEADLINE that
// is not a positive number of seconds gives the default.
ConsoleSettings ReadConsoleSettings(const std::string& programFolder,
                                    bool* maxRowsOverLimit = nullptr);

// Writes FIRMDIR, LOGDIR, PORT, SVRINSDIR and HTTPDCONF; LOGINID and MAXROWS
// are only ever set by hand.  False when the file cannot be written.
bool WriteConsoleSettings(const std::string& programFolder, const ConsoleSettings& settings);

// What Netprov reads, per request, from its base folder + "NEXORA.INI".
struct NetprovSettings {
    std::string loginId;  // LOGINID, empty = no user name
    std::string firmDir;  // FIRMDIR, empty = no firmware folder

    int telnetDeadline = kDefaultTelnetDeadline;  // TELNETDEADLINE
};
NetprovSettings ReadNetprovSettings(const std::string& iniPath);

}  // namespace quellin
