#include "folder_lock.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace quellin {
namespace {

namespace fs = std::filesystem;

class FolderLockTest : public testing::TempDirTest {};

// A link planted under the lock's name is neither followed nor created
// through; a lock file its holder may only read still holds the folder.
TEST_F(FolderLockTest, TakesOnlyAFileOfItsOwnName) {
    fs::create_symlink(dir / "elsewhere", dir / kFolderLockName);
    EXPECT_EQ(FolderLock(dir.folder()).state(), FolderLock::State::kFailed);
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));

    fs::remove(dir / kFolderLockName);
    testing::WriteFile(dir / kFolderLockName, "");
    ::chmod((dir / kFolderLockName).c_str(), 0444);
    FolderLock first(dir.folder());
    EXPECT_TRUE(first.acquired()) << first.reason();
    EXPECT_EQ(FolderLock(dir.folder()).state(), FolderLock::State::kHeldElsewhere);
}

}  // namespace
}  // namespace quellin
