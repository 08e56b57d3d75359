// A small installation medium laid out in a temporary folder, shaped like
// the one the medium target assembles.
#pragma once

#include "test_support.h"

#include <filesystem>
#include <string>

namespace quellin::setup::testing {

// The licence file of the test medium, as on disk (CP932, CR LF).
std::string TestLicenseBytes();

// Lays out medium/ in `root`: the real Webcfgpatch (and the real Setup when
// withSetup), license.txt, the settings file under settingsName (none when
// empty), the httpd tree with the real template and the nph-Netprov link,
// and stand-ins for the other programs.  Returns the medium folder.
std::filesystem::path MakeTestMedium(const std::filesystem::path& root, bool withSetup,
                                     const std::string& settingsName = "NEXORA.INI");

}  // namespace quellin::setup::testing
