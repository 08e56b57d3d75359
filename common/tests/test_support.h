// Helpers shared by the tests of every module.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace quellin::testing {

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The folder as CP932 text ending in "/", as the programs build paths.
    std::string folder() const { return path_.string() + "/"; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// A fixture holding a TempDir as `dir`.
class TempDirTest : public ::testing::Test {
protected:
    TempDir dir;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, std::string_view bytes);

// A UTF-8 literal as CP932 bytes (short for cp932::Jp).
std::string Sjis(std::string_view utf8);

}  // namespace quellin::testing
