// The unattended form for scripted installs:
//   Setup --folder DIR --accept-license
// runs the installation without windows and, unlike the windowed form,
// waits for Webcfgpatch so that a script can rely on the patched httpd.conf.
#pragma once

#include "installation_rights.h"
#include "process_launcher.h"

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quellin::setup {

struct UnattendedOptions {
    bool requested = false;  // any of the options was given
    bool acceptLicense = false;
    std::string folder;  // UTF-8 as given; the default folder when absent
    std::string error;   // UTF-8 usage error
};

UnattendedOptions ParseUnattendedOptions(const std::vector<std::string>& arguments);

// Exit status: 0 installed, 1 refused or failed, 2 wrong usage.  Messages
// go to `out` (success) and `err` (everything else, the rights' notice
// included) in UTF-8.  With rights, the installation's group is arranged.
int RunUnattended(const UnattendedOptions& options, const std::filesystem::path& mediumFolder,
                  ProcessLauncher& launcher,
                  const std::optional<std::filesystem::path>& desktopFolder, std::ostream& out,
                  std::ostream& err, InstallationRights* rights = nullptr);

}  // namespace quellin::setup
