#include "running_config.h"

#include <algorithm>

#include "config_text.h"

namespace quellin::history {

Result<std::string> ReadRunningConfiguration(const std::string& address, const std::string& user,
                                             const std::string& password,
                                             const TelnetOptions& options) {
    // A configuration is far smaller than a tech-support: a router that
    // floods is cut early, so that many backups at once stay small.
    TelnetOptions bounded = options;
    bounded.outputLimit = std::min(options.outputLimit, kConfigurationOutputLimit);
    CTelnetSession session(bounded);
    Result<std::string> answer = session.Run(address, user, password, kShowConfigCommand);
    if (!answer)
        return answer.error();
    std::optional<std::string> shown = ShownConfiguration(*answer);
    if (!shown)
        return Error{ErrorCode::kFormat,
                     "the answer to \"show config\" ends without a prompt line"};
    return std::move(*shown);
}

}  // namespace quellin::history
