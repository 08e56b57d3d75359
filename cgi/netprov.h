// The Netprov process: one request, one page, exit status 0 when the run
// succeeded and 1 when it failed.
#pragma once

#include "auto_config.h"
#include "cgi_request.h"

#include <iosfwd>
#include <string>

namespace quellin::netprov {

// Answers one request read from input and the environment with the page on
// output.  baseFolder is the server installation folder.
int run(std::istream& input, std::ostream& output, const Environment& environment,
        const std::string& baseFolder = kBaseFolder, const ProvisioningOptions& options = {});

// The process environment as an Environment.
Environment ProcessEnvironment();

}  // namespace quellin::netprov
