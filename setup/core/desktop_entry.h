// The desktop shortcut to the console: a freedesktop desktop entry
// "Quellin Server.desktop" in the user's desktop folder.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace quellin::setup {

inline constexpr const char* kDesktopEntryName = "Quellin Server.desktop";

// Reads an environment variable; nullopt when unset.
using EnvironmentLookup = std::function<std::optional<std::string>(const char*)>;
EnvironmentLookup ProcessEnvironment();

// The XDG_DESKTOP_DIR line of a user-dirs.dirs file: "$HOME/..." or an
// absolute path in double quotes.  nullopt when the file names none.
std::optional<std::filesystem::path> ParseUserDirsDesktop(std::string_view fileBytes,
                                                          const std::filesystem::path& home);

// $XDG_DESKTOP_DIR, else the user-dirs.dirs entry under $XDG_CONFIG_HOME (or
// ~/.config), else ~/Desktop.  nullopt without a home folder.
std::optional<std::filesystem::path> DesktopFolder(const EnvironmentLookup& environment);

// The entry that starts installFolder/Quellin_tool in installFolder; the
// folder is a file-system path (UTF-8, as desktop entries are).
std::string DesktopEntryText(const std::filesystem::path& installFolder);

// Writes the entry into the desktop folder (created when missing) as an
// executable file, which desktops require of a trusted launcher.
std::error_code WriteDesktopEntry(const std::filesystem::path& desktopFolder,
                                  const std::filesystem::path& installFolder);

}  // namespace quellin::setup
