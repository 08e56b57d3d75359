// A router's running configuration read over telnet: one dialogue that runs
// "show config" and takes the configuration out of its answer.
#pragma once

#include "result.h"
#include "telnet_session.h"

#include <string>

namespace quellin::history {

// The configuration in LF lines, or the dialogue's failure, or kFormat for
// an answer not shaped like one (no prompt line).  address is dotted IPv4
// text; user and password as the console sends them (empty: an empty line).
Result<std::string> ReadRunningConfiguration(const std::string& address, const std::string& user,
                                             const std::string& password,
                                             const TelnetOptions& options);

}  // namespace quellin::history
