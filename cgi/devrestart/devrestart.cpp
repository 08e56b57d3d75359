#include "devrestart.h"

#include "codec.h"
#include "installation_layout.h"
#include "settings.h"

#include <ostream>

namespace quellin::devrestart {

int RunDevrestart(const std::vector<std::string>& arguments, const std::string& baseFolder,
                  const TelnetOptions& options, std::ostream& errors) {
    if (arguments.empty() || arguments.front().empty()) {
        errors << "usage: Devrestart ADDRESS [NAME...]\n";
        return 2;
    }
    const std::string& address = arguments.front();
    std::string name;
    for (std::size_t i = 1; i < arguments.size(); ++i)
        name += (i > 1 ? " " : "") + arguments[i];

    const NetprovSettings settings =
        ReadNetprovSettings(InstallationLayout(baseFolder).settingsFile());
    TelnetOptions telnet = options;
    telnet.deadline = std::chrono::seconds(settings.telnetDeadline);
    CTelnetSession session(telnet);
    // The router closes the connection when it restarts, which the session
    // counts as success for a reset.
    if (session.RunCommand(address, settings.loginId, "", kRestartCommand, nullptr) != 0) {
        errors << "Devrestart: " << address << " " << name << ": "
               << cp932::ToUtf8Lossy(session.LastError()) << "\n";
        return 1;
    }
    return 0;
}

}  // namespace quellin::devrestart
