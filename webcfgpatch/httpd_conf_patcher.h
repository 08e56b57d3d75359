// Adapts the web server's httpd.conf template to the installation folder and
// port: marked lines and every Listen line are replaced, the rest is copied
// byte for byte, and the file is replaced through "<file>.tmp" (ReplaceFile).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quellin::webcfgpatch {

// Exit statuses of the program.
inline constexpr int kPatched = 0;
inline constexpr int kUsage = 1;
inline constexpr int kCannotOpen = -1;
// The patched text could not be written or could not take the configuration
// file's place; "<file>.tmp" is left beside it, the file itself unchanged.
inline constexpr int kCannotReplace = 2;

// The port argument as the server sees it: leading blanks and sign, then the
// leading decimal digits (no digits gives 0), kept to 16 bits so that 70000
// becomes 4464.
std::uint16_t ParsePort(std::string_view text);

// One line (without its line end) as it is to be written for the given
// installation folder ("/" separators, no trailing "/") and port.
std::string PatchLine(const std::string& line, const std::string& folder, std::uint16_t port);

// The whole text with every line patched and ended in CR LF.  Lines end at LF
// or CR LF; a last line without a line end counts as a line.
std::string PatchText(std::string_view text, const std::string& folder, std::uint16_t port);

// Patches the configuration file in place; returns one of the exit statuses.
int PatchFile(const std::string& configPath, const std::string& folder, std::uint16_t port);

// The program: arguments without the program name.
int Run(const std::vector<std::string>& arguments);

}  // namespace quellin::webcfgpatch
