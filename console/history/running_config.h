// A router's running configuration read over telnet: one dialogue that runs
// "show config" and takes the configuration out of its answer.
#pragma once

#include "telnet_session.h"

#include <optional>
#include <string>

namespace quellin::history {

struct RunningConfiguration {
    std::optional<std::string> text;       // LF lines, when read
    std::optional<TelnetFailure> failure;  // when the dialogue failed
    // Neither: the answer was not shaped like one (no prompt line).
};

// address is dotted IPv4 text; user and password as the console sends them
// (empty: an empty line).
RunningConfiguration ReadRunningConfiguration(const std::string& address, const std::string& user,
                                              const std::string& password,
                                              const TelnetOptions& options);

}  // namespace quellin::history
