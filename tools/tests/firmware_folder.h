// Software folders for tests of the image choice.
#pragma once

#include "tarn_image.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace quellin::tarn::testing {

// Writes two images of the same model and version, told apart by their ptf
// ("PTF01" in the first by name, "PTF02" in the second), under names that
// the folder lists in the other order than their names sort (pairs are
// tried until the file system does so).  The paths, first by name first.
inline std::pair<std::filesystem::path, std::filesystem::path> EqualImagesListedOutOfNameOrder(
    const std::filesystem::path& folder, const std::string& model, const std::string& version) {
    namespace fs = std::filesystem;
    for (int attempt = 0; attempt < 64; ++attempt) {
        const fs::path first = folder / ("fw-" + std::to_string(attempt) + "a.bin");
        const fs::path second = folder / ("fw-" + std::to_string(attempt) + "b.bin");
        ImageOptions image;
        image.model = model;
        image.version = version;
        // Folders list by name hash, by creation or newest first: the order
        // of creation alternates.
        auto write = [&](const fs::path& path, const char* ptf) {
            image.ptf = ptf;
            std::string error;
            EXPECT_TRUE(WriteImage(path, image, error)) << error;
        };
        if (attempt % 2 == 0) {
            write(first, "PTF01");
            write(second, "PTF02");
        } else {
            write(second, "PTF02");
            write(first, "PTF01");
        }
        std::vector<fs::path> listed;
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path() == first || entry.path() == second)
                listed.push_back(entry.path());
        if (listed.size() == 2 && listed[0] == second)
            return {first, second};
        fs::remove(first);
        fs::remove(second);
    }
    ADD_FAILURE() << "the folder always lists in name order";
    return {};
}

}  // namespace quellin::tarn::testing
