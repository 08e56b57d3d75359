// The software folder as both the console and Netprov read it: every file
// directly inside it, in name order, so that the choice among images of
// equal version does not depend on how the file system lists the folder.
#pragma once

#include "device_identity.h"
#include "result.h"

#include <filesystem>
#include <vector>

namespace quellin {

struct FolderImage {
    std::filesystem::path path;
    Result<DeviceIdentity> identity;  // or why the file is no image
};

// Every entry of the folder that is not a folder itself, examined as an
// image, in name order.  Sub-folders are not entered.  A listing that breaks
// off half-way gives what it found; a folder that cannot be listed at all
// gives "<folder>: <why>" (the folder as CP932 text).
Result<std::vector<FolderImage>> ExamineImageFolder(const std::filesystem::path& folder);

}  // namespace quellin
