// A device's registered configuration file read whole, as what is compared
// with or sent to the router: outside input that an administrator (or
// anyone of the installation's group) names in base.db.
#pragma once

#include "result.h"

#include <cstddef>
#include <string>

namespace quellin::history {

// Far beyond any router's configuration, and small enough that the files of
// many devices handled at once fit in memory.
inline constexpr std::size_t kConfigFileLimit = 8u << 20;

// The file at the CP932 path, which must be a regular file of at most
// kConfigFileLimit bytes: a folder would read as empty, and a FIFO or a
// device would block or never end.  Else the reason, "path: why" (CP932).
Result<std::string> ReadConfigFile(const std::string& path);

}  // namespace quellin::history
