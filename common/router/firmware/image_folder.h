// The software folder as both the console and Netprov read it: every file
// directly inside it, in name order, so that the choice among images of
// equal version does not depend on how the file system lists the folder.
#pragma once

#include "device_identity.h"
#include "firmware_image.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace quellin {

struct FolderImage {
    std::filesystem::path path;
    DeviceIdentity identity;  // filled when fault is kNone
    FirmwareImageFault fault = FirmwareImageFault::kNone;
};

// Every entry of the folder that is not a folder itself, examined as an
// image, in name order.  Sub-folders are not entered.  error is set when
// the folder cannot be listed.
std::vector<FolderImage> ExamineImageFolder(const std::filesystem::path& folder,
                                            std::error_code& error);

}  // namespace quellin
