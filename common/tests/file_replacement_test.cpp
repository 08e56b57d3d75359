#include "file_replacement.h"
#include "folder_lock.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace quellin {
namespace {

namespace fs = std::filesystem;
using testing::EndedProcess;
using testing::ReadFile;
using testing::WriteFile;

class FileReplacementTest : public testing::TempDirTest {
protected:
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(FileReplacementTest, ReplacesWithTheOldPermissionsAndLeavesNothingElse) {
    WriteFile(dir / "a.txt", "old");
    fs::permissions(dir / "a.txt", fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(ReplaceFile(dir / "a.txt", "new"));
    EXPECT_EQ(ReadFile(dir / "a.txt"), "new");
    EXPECT_EQ(fs::status(dir / "a.txt").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(ReplaceFile(dir / "b.txt", "fresh"));
    EXPECT_EQ(ReadFile(dir / "b.txt"), "fresh");
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.txt", "b.txt"}));
}

// A new file gets what creating it would (collected logs beside the
// operation logs); the caller's mode wins over the old file's, in place
// before the first byte; under root the old owner stays.
TEST_F(FileReplacementTest, ModeAndOwnerAreSetBeforeTheContent) {
    const mode_t previous = ::umask(002);
    EXPECT_TRUE(ReplaceFile(dir / "new.log", "collected"));
    WriteFile(dir / "base.db", "old");
    const uid_t owner = ::geteuid() == 0 ? 65534 : ::geteuid();
    ASSERT_EQ(::chown((dir / "base.db").c_str(), owner, static_cast<gid_t>(-1)), 0);
    FileReplacement replacement(dir / "base.db", {}, 0640);
    struct stat info {};
    EXPECT_EQ(::fstat(replacement.fd(), &info) == 0 ? info.st_mode & 07777 : 0, 0640u);
    EXPECT_TRUE(WriteAll(replacement.fd(), "new") && replacement.Finish() && replacement.Replace());
    ::umask(previous);
    EXPECT_EQ(fs::status(dir / "new.log").permissions(), fs::perms(0664));
    ASSERT_EQ(::stat((dir / "base.db").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(info.st_uid, owner);
}

// A fixed temporary name: never written through a link, kept with the new
// content when it cannot take the target's place, gone when it did.
TEST_F(FileReplacementTest, FixedTemporaryNameIsKeptOnlyWhenTheRenameFails) {
    WriteFile(dir / "a.txt", "old");
    ASSERT_TRUE(ReplaceFile(dir / "a.txt", "new", {dir / "a.txt.tmp"}));
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.txt"}));

    WriteFile(dir / "elsewhere", "untouched");
    fs::create_symlink(dir / "elsewhere", dir / "a.txt.tmp");
    EXPECT_EQ(ReplaceFile(dir / "a.txt", "newer", {dir / "a.txt.tmp"}).error(),
              SystemError(ELOOP, "cannot create the new file for " + (dir / "a.txt").string()));
    EXPECT_EQ(ReadFile(dir / "elsewhere"), "untouched");
    EXPECT_EQ(ReadFile(dir / "a.txt"), "new");
    fs::remove(dir / "a.txt.tmp");

    // A folder in the target's place cannot be renamed over, root or not.
    fs::create_directories(dir / "b" / "inside");
    const Result<void> overFolder = ReplaceFile(dir / "b", "text", {dir / "b.tmp"});
    EXPECT_EQ(overFolder.error().detail.rfind("cannot rename the new file over ", 0), 0u);
    EXPECT_EQ(ReadFile(dir / "b.tmp"), "text");
}

// The folder lock, too, is a file of a folder others may write: a link
// planted under its name is neither followed nor created through.
TEST_F(FileReplacementTest, FolderLockNeverGoesThroughALink) {
    fs::create_symlink(dir / "elsewhere", dir / kFolderLockName);
    EXPECT_EQ(FolderLock(dir.folder()).state(), FolderLock::State::kFailed);
    EXPECT_FALSE(fs::exists(dir / "elsewhere"));
}

TEST_F(FileReplacementTest, UnfinishedReplacementLeavesTheFileAndNoTrace) {
    WriteFile(dir / "a.txt", "old");
    {
        FileReplacement replacement(dir / "a.txt");
        ASSERT_TRUE(replacement.valid());
        ASSERT_TRUE(WriteAll(replacement.fd(), "half"));
    }
    {
        FileReplacement replacement(dir / "a.txt");
        ASSERT_TRUE(WriteAll(replacement.fd(), "done"));
        ASSERT_TRUE(replacement.Finish());
    }
    EXPECT_EQ(ReadFile(dir / "a.txt"), "old");
    EXPECT_EQ(Names(), std::vector<std::string>{"a.txt"});
    EXPECT_FALSE(FileReplacement(dir / "missing" / "a.txt").valid());
}

TEST_F(FileReplacementTest, StaleTemporariesOfEndedWritersAreRemoved) {
    const std::string ended = std::to_string(EndedProcess());
    const std::string living = std::to_string(::getpid());
    WriteFile(dir / "base.db", "rows\r\n");
    // Left by writers that were killed: the old and the present form.
    WriteFile(dir / ("base.db.tmp" + ended), std::string(2 << 20, 'x'));
    WriteFile(dir / ("base.db.tmp" + ended + "-a1B2c3"), "x");
    fs::create_symlink(dir / "elsewhere", dir / ("base.db.tmp" + ended + "-link"));
    // A writer still at work, other files, and what is not a temporary.
    WriteFile(dir / ("base.db.tmp" + living + "-q9Z8y7"), "x");
    WriteFile(dir / ("NEXORA.INI.tmp" + ended), "x");
    WriteFile(dir / "base.db.tmp", "x");
    WriteFile(dir / "base.db.tmpx", "x");
    WriteFile(dir / ("base.db.tmp" + ended + "x"), "x");
    fs::create_directory(dir / ("base.db.tmp" + ended + "-dir"));

    EXPECT_EQ(RemoveStaleReplacements(dir / "base.db"), 3);
    std::vector<std::string> expected = {"NEXORA.INI.tmp" + ended,
                                         "base.db",
                                         "base.db.tmp",
                                         "base.db.tmp" + ended + "-dir",
                                         "base.db.tmp" + ended + "x",
                                         "base.db.tmp" + living + "-q9Z8y7",
                                         "base.db.tmpx"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Names(), expected);
    EXPECT_EQ(ReadFile(dir / "base.db"), "rows\r\n");
    EXPECT_EQ(RemoveStaleReplacements(dir / "missing" / "base.db"), 0);
}

}  // namespace
}  // namespace quellin
