#include "running_config.h"

#include <algorithm>

#include "config_text.h"

namespace quellin::history {

RunningConfiguration ReadRunningConfiguration(const std::string& address, const std::string& user,
                                              const std::string& password,
                                              const TelnetOptions& options) {
    RunningConfiguration result;
    // A configuration is far smaller than a tech-support: a router that
    // floods is cut early, so that many backups at once stay small.
    TelnetOptions bounded = options;
    bounded.outputLimit = std::min(options.outputLimit, kConfigurationOutputLimit);
    CTelnetSession session(bounded);
    CommandOutput output;
    if (session.RunCommand(address, user, password, kShowConfigCommand, &output, 0) != 0) {
        result.failure = session.LastFailure();
        if (!result.failure)
            result.failure = TelnetFailure{};
        return result;
    }
    result.text = ShownConfiguration(output.text);
    return result;
}

}  // namespace quellin::history
