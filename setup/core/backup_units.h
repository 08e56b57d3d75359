// The scheduled configuration backup of an installation: a systemd service
// that runs the installed quellin's "backup --all", and a timer that starts
// it daily, both in the installation's "systemd" folder.  The medium carries
// them with a marker where the installation folder goes; Setup writes the
// folder in and enables nothing, so the backup runs only once the operator
// enables the timer.
#pragma once

#include "installation_layout.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace quellin::setup {

inline constexpr const char* kUnitFolder = InstallationLayout::kUnitFolder;
inline constexpr const char* kBackupService = "quellin-backup.service";
inline constexpr const char* kBackupTimer = "quellin-backup.timer";
inline constexpr std::string_view kFolderMarker = "@QUELLIN_FOLDER@";

// The unit text with every marker replaced by the folder (a file-system
// path), escaped for a double-quoted word of a systemd command line:
// backslash and double quote take a backslash, "%" and "$" are doubled.
std::string FillInFolder(std::string_view unit, const std::filesystem::path& folder);

// Fills the installation folder into the installed units (through a
// replacement of each file).  Units that are not there are left out.
std::error_code FillInBackupUnits(const std::filesystem::path& installFolder);

}  // namespace quellin::setup
