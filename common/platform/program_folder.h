// The folder of the running program, from which every program finds its
// files by plain concatenation ("NEXORA.INI", "firmifconvert.db", ...).
#pragma once

#include <string>

namespace quellin {

// The running executable's folder as CP932 text, ending in "/"; with trim
// the trailing "/" is removed.  Tests may point it elsewhere.
std::string GetProgramFolder(bool trim = false);

// Makes GetProgramFolder answer the given folder (ending in "/"); an empty
// text restores the real one.
void SetProgramFolderForTesting(const std::string& folder);

// The base name of the running executable ("Quellin_tool").
std::string GetProgramName();

}  // namespace quellin
