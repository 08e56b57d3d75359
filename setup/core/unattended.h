// The unattended form for scripted installs:
//   Setup --folder DIR --accept-license
// runs the installation without windows and, unlike the windowed form,
// waits for Webcfgpatch so that a script can rely on the patched httpd.conf.
// `Setup --help` and a wrong option print the usage without any window.
#pragma once

#include "installation_rights.h"
#include "process_launcher.h"

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace quellin::setup {

// What `Setup --help` prints.
inline constexpr const char* kSetupUsage =
    "usage: Setup                                   the installation wizard\n"
    "       Setup [--folder DIR] --accept-license   the same installation without windows\n"
    "       Setup --help                            this text\n"
    "Without --folder the folder is /opt/Quellin_server.  Run by root (sudo), Setup\n"
    "gives the installation to the group quellin.  Qt's own options (-platform NAME)\n"
    "go to the wizard.\n"
    "Exit status of the unattended form: 0 installed, 1 refused or failed, 2 wrong usage.\n";

struct UnattendedOptions {
    bool requested = false;  // any of the options was given
    bool help = false;       // --help: the usage and nothing else
    bool acceptLicense = false;
    std::string folder;  // UTF-8 as given; the default folder when absent
    std::string error;   // UTF-8 usage error
};

// Arguments that begin with "--" are Setup's own; with the unattended
// options the others are wrong too, without them they are Qt's.
UnattendedOptions ParseUnattendedOptions(const std::vector<std::string>& arguments);

// Before any window: the usage for --help (0) or a wrong option (2, on
// `err`); nullopt when Setup goes on.
std::optional<int> AnswerUsage(const UnattendedOptions& options, std::ostream& out,
                               std::ostream& err);

// Exit status: 0 installed, 1 refused or failed, 2 wrong usage.  Messages
// go to `out` (success) and `err` (everything else, the rights' notice
// included) in UTF-8.  With rights, the installation's group is arranged.
int RunUnattended(const UnattendedOptions& options, const std::filesystem::path& mediumFolder,
                  ProcessLauncher& launcher,
                  const std::optional<std::filesystem::path>& desktopFolder, std::ostream& out,
                  std::ostream& err, InstallationRights* rights = nullptr);

}  // namespace quellin::setup
