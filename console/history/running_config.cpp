#include "running_config.h"

#include "config_text.h"

namespace quellin::history {

RunningConfiguration ReadRunningConfiguration(const std::string& address, const std::string& user,
                                              const std::string& password,
                                              const TelnetOptions& options) {
    RunningConfiguration result;
    CTelnetSession session(options);
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
