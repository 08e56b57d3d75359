// The `quellin` command line: the console's maintenance operations, device
// registration and the fleet's inventory and configuration history for
// scripts, without the windows.
#pragma once

#include "command.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace quellin::cli {

// Runs one command line (without the program name).  defaultHome is the
// installation folder used without --home, ending in "/".  Terminal output
// is UTF-8.
int RunQuellin(const std::vector<std::string>& args, const std::string& defaultHome,
               std::ostream& out, std::ostream& err);

}  // namespace quellin::cli
