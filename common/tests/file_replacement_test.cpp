#include "file_replacement.h"

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
// operation logs); the caller's mode wins over the old file's and is in
// place before the first byte; root's replacement stays the old owner's.
TEST_F(FileReplacementTest, NewFilesModeAndOwnerAreSetBeforeTheContent) {
    auto stat = [&](const char* name) {
        struct stat info {};
        ::stat((dir / name).c_str(), &info);
        return info;
    };
    const mode_t previous = ::umask(002);
    EXPECT_TRUE(ReplaceFile(dir / "new.log", "collected"));
    WriteFile(dir / "base.db", "old");
    ::chmod((dir / "base.db").c_str(), 0644);
    constexpr uid_t kNobody = 65534;
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((dir / "base.db").c_str(), kNobody, kNobody), 0);
    }
    {
        FileReplacement replacement(dir / "base.db", {}, 0660);
        struct stat open {};
        ASSERT_EQ(::fstat(replacement.fd(), &open), 0);
        EXPECT_EQ(open.st_mode & 07777, 0660u);
    }
    ReplaceOptions options;
    options.mode = 0640;
    EXPECT_TRUE(ReplaceFile(dir / "base.db", "new", options));
    ::umask(previous);
    EXPECT_EQ(stat("new.log").st_mode & 07777, 0664u);
    EXPECT_EQ(stat("base.db").st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(stat("base.db").st_uid, kNobody);
        EXPECT_EQ(stat("base.db").st_gid, kNobody);
    }
}

// A fixed temporary name: never written through a link, kept with the new
// content when it cannot take the target's place, gone when it did.
TEST_F(FileReplacementTest, FixedTemporaryNameIsKeptOnlyWhenTheRenameFails) {
    WriteFile(dir / "a.txt", "old");
    ReplaceFailure failure = ReplaceFailure::kNone;
    ASSERT_TRUE(ReplaceFile(dir / "a.txt", "new", {dir / "a.txt.tmp", &failure}));
    EXPECT_EQ(failure, ReplaceFailure::kNone);
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.txt"}));

    WriteFile(dir / "elsewhere", "untouched");
    fs::create_symlink(dir / "elsewhere", dir / "a.txt.tmp");
    EXPECT_FALSE(ReplaceFile(dir / "a.txt", "newer", {dir / "a.txt.tmp", &failure}));
    EXPECT_EQ(failure, ReplaceFailure::kTemporaryFile);
    EXPECT_EQ(ReadFile(dir / "elsewhere"), "untouched");
    EXPECT_EQ(ReadFile(dir / "a.txt"), "new");
    fs::remove(dir / "a.txt.tmp");

    // A folder in the target's place cannot be renamed over, root or not.
    fs::create_directories(dir / "b" / "inside");
    EXPECT_FALSE(ReplaceFile(dir / "b", "text", {dir / "b.tmp", &failure}));
    EXPECT_EQ(failure, ReplaceFailure::kRename);
    EXPECT_EQ(ReadFile(dir / "b.tmp"), "text");
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
