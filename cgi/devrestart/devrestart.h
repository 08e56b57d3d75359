// Devrestart: restarts the router that Netprov has just provisioned, so that
// it comes up from the configuration uploaded as "config1" (and with the
// firmware uploaded before it).
#pragma once

#include "telnet_session.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace quellin::devrestart {

// The slot Netprov always uploads the configuration to.
inline constexpr char kRestartCommand[] = "reset config1";

// arguments: the router's address, then the words of its name (the name is
// only named in messages).  The login ID is LOGINID of baseFolder's
// NEXORA.INI, the password empty, as for Netprov's own dialogue.  Failures
// are described on errors.  0 when the router took the command, 1 when it
// could not be reached or refused it, 2 for a wrong command line.
int RunDevrestart(const std::vector<std::string>& arguments, const std::string& baseFolder,
                  const TelnetOptions& options, std::ostream& errors);

}  // namespace quellin::devrestart
