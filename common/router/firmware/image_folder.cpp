#include "image_folder.h"

#include <algorithm>

namespace quellin {

std::vector<FolderImage> ExamineImageFolder(const std::filesystem::path& folder,
                                            std::error_code& error) {
    namespace fs = std::filesystem;
    std::vector<FolderImage> images;
    error.clear();
    fs::directory_iterator entries(folder, error);
    if (error)
        return images;
    for (; entries != fs::directory_iterator(); entries.increment(error)) {
        if (error)
            break;
        std::error_code kind;
        if (!entries->is_directory(kind))
            images.push_back({entries->path(), {}, FirmwareImageFault::kNone});
    }
    // A listing that broke off half-way still lists what it found.
    error.clear();
    std::sort(images.begin(), images.end(),
              [](const FolderImage& a, const FolderImage& b) { return a.path < b.path; });
    for (FolderImage& image : images)
        image.fault = ExamineFirmwareImage(image.path, image.identity);
    return images;
}

}  // namespace quellin
