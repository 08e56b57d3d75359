// The licence text shown by the licence window, read from "license.txt" in
// the medium folder.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quellin::setup {

inline constexpr const char* kLicenseFileName = "license.txt";

// The file's lines, each followed by CR LF.  A line ends at CR LF, LF or a
// lone CR; a last line without an end counts too.  CP932 bytes unchanged.
std::string JoinLicenseLines(std::string_view fileBytes);

struct LicenseText {
    std::string text;   // CP932
    std::string error;  // CP932; non-empty when the file exists but cannot be read
};

// A missing file gives an empty text and no error.
LicenseText ReadLicenseText(const std::filesystem::path& mediumFolder);

}  // namespace quellin::setup
