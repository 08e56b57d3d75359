#include "image_folder.h"

#include "codec.h"
#include "firmware_image.h"

#include <algorithm>
#include <system_error>

namespace quellin {

Result<std::vector<FolderImage>> ExamineImageFolder(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error)
        return SystemError(error.value(), cp932::FromPath(folder));
    std::vector<fs::path> files;
    for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
        std::error_code kind;
        if (!entries->is_directory(kind))
            files.push_back(entries->path());
    }
    std::sort(files.begin(), files.end());
    std::vector<FolderImage> images;
    images.reserve(files.size());
    for (fs::path& file : files) {
        Result<DeviceIdentity> identity = ExamineFirmwareImage(file);
        images.push_back({std::move(file), std::move(identity)});
    }
    return images;
}

}  // namespace quellin
