#include "device_registry.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

namespace quellin {
namespace {

using testing::ReadFile;
using testing::Sjis;
using testing::WriteFile;

using testing::Repeat;

class RegistryTest : public testing::TempDirTest {
protected:
    std::filesystem::path db() const { return dir / "base.db"; }
};

TEST_F(RegistryTest, FreshFileIsPaddedToTheRowCount) {
    ASSERT_TRUE(EnsureRowCount(db(), 300));
    EXPECT_EQ(ReadFile(db()), Repeat(",,,,,,0,0,0,0,0,0\r\n", 300));
    CList<CBase> list;
    ASSERT_TRUE(LoadDevices(db(), list, 300));
    ASSERT_EQ(list.size(), 300u);
    EXPECT_EQ(list[0].row, 1);
    EXPECT_EQ(list[299].row, 300);
    EXPECT_EQ(list[299].name, "");
}

TEST_F(RegistryTest, ShortFileIsPaddedAndItsRowsKept) {
    WriteFile(db(), "a,1.2.3.4,p,,,,0,0,0,0,0,0\r\nb,,,,,,0,0,0,0,0,0");  // no final line end
    ASSERT_TRUE(EnsureRowCount(db(), 4));
    EXPECT_EQ(ReadFile(db()), "a,1.2.3.4,p,,,,0,0,0,0,0,0\r\nb,,,,,,0,0,0,0,0,0\r\n" +
                                  Repeat(",,,,,,0,0,0,0,0,0\r\n", 2));
}

TEST_F(RegistryTest, LongerFileIsUntouchedByPaddingButCutByTheNextSave) {
    const std::string longer = Repeat("x,,,,,,0,0,0,0,0,0\r\n", 5);
    WriteFile(db(), longer);
    ASSERT_TRUE(EnsureRowCount(db(), 3));
    EXPECT_EQ(ReadFile(db()), longer);
    CList<CBase> list;
    ASSERT_TRUE(LoadDevices(db(), list, 3));
    ASSERT_EQ(list.size(), 3u);
    ASSERT_TRUE(SaveDevices(db(), list, 3));
    EXPECT_EQ(ReadFile(db()), Repeat("x,,,,,,0,0,0,0,0,0\r\n", 3));
}

TEST_F(RegistryTest, DevicesBeyondTheRowCountAreKeptByTheSave) {
    // Four rows in use, then two devices, a free row, a comment and a row
    // without line end beyond a row count of three.
    const std::string beyond =
        "d,10.0.0.4,p,id4,x,/c/d.txt,5,6,7,8,600,2\r\n"
        "e,,,,,,-1,0,0,0,0,0\r\n";
    WriteFile(db(), "a,,,,,,0,0,0,0,0,0\r\n,,,,,,0,0,0,0,0,0\r\nc,,,,,,0,0,0,0,0,0\r\n" + beyond +
                        ",,,,,,0,0,0,0,0,0\r\n# note\r\n" + Sjis("本社") + ",,,,,,0,0,0,0,0,0");
    CList<CBase> list;
    std::vector<std::string> kept;
    ASSERT_TRUE(LoadDevices(db(), list, 3, &kept));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(kept, (std::vector<std::string>{"d,10.0.0.4,p,id4,x,/c/d.txt,5,6,7,8,600,2",
                                              "e,,,,,,-1,0,0,0,0,0",
                                              Sjis("本社") + ",,,,,,0,0,0,0,0,0"}));

    list[1].name = "b";
    ASSERT_TRUE(SaveDevices(db(), list, 3, kept));
    EXPECT_EQ(ReadFile(db()), "a,,,,,,0,0,0,0,0,0\r\nb,,,,,,0,0,0,0,0,0\r\nc,,,,,,0,0,0,0,0,0\r\n" +
                                  beyond + Sjis("本社") + ",,,,,,0,0,0,0,0,0\r\n");

    // With the row count raised again they are rows 4 to 6 as before.
    CList<CBase> all;
    ASSERT_TRUE(LoadDevices(db(), all, 6));
    EXPECT_EQ(all[3].name, "d");
    EXPECT_EQ(all[3].logInterval, 600);
    EXPECT_EQ(all[5].row, 6);
    EXPECT_EQ(all[5].name, Sjis("本社"));
}

TEST_F(RegistryTest, CommentLinesAreSkippedAndNotNumbered) {
    WriteFile(db(), "# comment\r\na,,,,,,0,0,0,0,0,0\r\n#x\r\nb,,,,,,0,0,0,0,0,0\r\n");
    CList<CBase> list;
    ASSERT_TRUE(LoadDevices(db(), list, 300));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].name, "b");
    EXPECT_EQ(list[1].row, 2);
}

TEST_F(RegistryTest, ShortRowsReadAsEmptyAndZero) {
    WriteFile(db(), "a,b,c,d,e,f,1491003000,0,0,0,0,0\nn,addr,pw,id,ap,cfg\nonly\n");
    CList<CBase> list;
    ASSERT_TRUE(LoadDevices(db(), list, 10));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].lastConfigTransfer, 1491003000);
    EXPECT_EQ(list[0].lastFirmwareUpdate, 0);
    EXPECT_EQ(list[1].configFile, "cfg");
    EXPECT_EQ(list[1].lastConfigTransfer, 0);
    EXPECT_EQ(list[1].logRepeatCount, 0);
    EXPECT_EQ(list[2].name, "only");
    EXPECT_EQ(list[2].address, "");
}

TEST_F(RegistryTest, RowRoundTripsByteForByte) {
    const std::string row = Sjis("本社ルータ") + ",192.168.0.1," + Sjis("パス") +
                            ",id01,ap01,C:" + Sjis("設定") +
                            ".txt,1491003000,-1,2147483647,-2147483648,3600,5";
    WriteFile(db(), row + "\r\n");
    CList<CBase> list;
    ASSERT_TRUE(LoadDevices(db(), list, 1));
    ASSERT_TRUE(SaveDevices(db(), list, 1));
    EXPECT_EQ(ReadFile(db()), row + "\r\n");
}

TEST(RegistryTimes, AreWrittenAsTheLow32BitsAndReadBackWithSign) {
    CBase d;
    d.lastConfigTransfer = 2147483647;    // 2038-01-19 03:14:07 UTC
    d.lastFirmwareUpdate = 2147483648;    // one second later wraps
    d.lastLogCollection = 0x1'0000'0005;  // high bits are lost
    d.nextLogCollection = -1;
    std::string row = FormatDeviceRow(d);
    EXPECT_EQ(row, ",,,,,,2147483647,-2147483648,5,-1,0,0");
    CBase back;
    ParseDeviceRow(row, back);
    EXPECT_EQ(back.lastConfigTransfer, 2147483647);
    EXPECT_EQ(back.lastFirmwareUpdate, -2147483648LL);
    EXPECT_EQ(back.lastLogCollection, 5);
    EXPECT_EQ(back.nextLogCollection, -1);
}

TEST(RegistryFields, SplitNextFieldTakesTheCommaAlong) {
    std::string line = "a,,b";
    EXPECT_EQ(SplitNextField(line), "a");
    EXPECT_EQ(line, ",b");
    EXPECT_EQ(SplitNextField(line), "");
    EXPECT_EQ(SplitNextField(line), "b");
    EXPECT_EQ(line, "");
    EXPECT_EQ(SplitNextField(line), "");
}

TEST(RegistryFields, Int32ConversionLikeAtoi) {
    EXPECT_EQ(ParseInt32(""), 0);
    EXPECT_EQ(ParseInt32("abc"), 0);
    EXPECT_EQ(ParseInt32("12x"), 12);
    EXPECT_EQ(ParseInt32(" -7"), -7);
    EXPECT_EQ(ParseInt32("4294967295"), -1);
}

TEST_F(RegistryTest, AccessIdUniquenessCountsEveryLine) {
    WriteFile(db(),
              "#c,,,dup,\r\na,,,id1,,,0,0,0,0,0,0\r\nb,,,id2,,,0,0,0,0,0,0\r\n"
              "c,,,,,,0,0,0,0,0,0\r\nd,,,id5,,,0,0,0,0,0,0\r\n");
    EXPECT_TRUE(IsAccessIdUnique(db(), "id5", 5));
    EXPECT_FALSE(IsAccessIdUnique(db(), "id5", 4));
    EXPECT_FALSE(IsAccessIdUnique(db(), "id5", 0));
    EXPECT_TRUE(IsAccessIdUnique(db(), "", 1));
    EXPECT_TRUE(IsAccessIdUnique(db(), "ID5", 1));   // case matters
    EXPECT_FALSE(IsAccessIdUnique(db(), "dup", 2));  // comment lines count too
    EXPECT_TRUE(IsAccessIdUnique(db(), "dup", 1));
}

TEST_F(RegistryTest, FindByAccessIdReturnsTheFirstOfTwo) {
    WriteFile(db(), "a,1.1.1.1,,same,,,0,0,0,0,0,0\r\nb,2.2.2.2,,same,,,0,0,0,0,0,0\r\n");
    CBase found;
    ASSERT_TRUE(FindDeviceByAccessId(db(), "same", found));
    EXPECT_EQ(found.name, "a");
    EXPECT_FALSE(FindDeviceByAccessId(db(), "", found));
    EXPECT_FALSE(FindDeviceByAccessId(db(), "other", found));
    EXPECT_FALSE(FindDeviceByAccessId(dir / "missing.db", "same", found));
}

TEST_F(RegistryTest, SavePadsAShortList) {
    CList<CBase> list(1);
    list[0].name = "a";
    ASSERT_TRUE(SaveDevices(db(), list, 2));
    EXPECT_EQ(ReadFile(db()), "a,,,,,,0,0,0,0,0,0\r\n,,,,,,0,0,0,0,0,0\r\n");
}

// The passwords are the owner's and the group's alone, whatever the umask:
// in a new registry and in an older, wider one at its next save.
TEST_F(RegistryTest, RegistryIsReadableByItsOwnerAndGroupOnly) {
    namespace fs = std::filesystem;
    const mode_t previous = ::umask(0);
    EXPECT_TRUE(EnsureRowCount(db(), 2));
    const fs::perms created = fs::status(db()).permissions();
    fs::permissions(db(), fs::perms(0644));
    EXPECT_TRUE(SaveDevices(db(), {}, 2));
    ::umask(previous);
    EXPECT_EQ(created, fs::perms(0660));
    EXPECT_EQ(fs::status(db()).permissions(), fs::perms(0660));
}

// A member of the group owns base.db and could put a link in its place: no
// program of root's reads or pads another file through it.
TEST_F(RegistryTest, RegistryIsNeverReadOrPaddedThroughALink) {
    WriteFile(dir / "secret", "root:x:0:0\n");
    std::filesystem::create_symlink(dir / "secret", db());
    CList<CBase> list;
    EXPECT_FALSE(LoadDevices(db(), list, 3));
    EXPECT_FALSE(EnsureRowCount(db(), 3));
    EXPECT_EQ(ReadFile(dir / "secret"), "root:x:0:0\n");
}

TEST_F(RegistryTest, SaveThatFailsMidwayLeavesTheOldFileIntact) {
    const std::string old = Repeat("old,,,,,,0,0,0,0,0,0\r\n", 3);
    WriteFile(db(), old);
    CList<CBase> list(300);
    for (auto& d : list)
        d.name = "new";
    // A file-size limit makes the write fail part way, even for root.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{100, 100};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(SaveDevices(db(), list, 300) ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save should have failed";
    EXPECT_EQ(ReadFile(db()), old);
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1) << "no temporary file is left behind";
}

// A save killed at any moment leaves base.db whole, old or new, and nothing
// beside it.
TEST_F(RegistryTest, SaveKilledHalfWayLeavesNoTemporaryFile) {
    CList<CBase> first(100000), second(100000);
    for (auto& d : first)
        d.name = "first";
    for (auto& d : second)
        d.name = "second";
    ASSERT_TRUE(SaveDevices(db(), first, 100000));
    const std::string one = ReadFile(db());
    ASSERT_TRUE(SaveDevices(db(), second, 100000));
    const std::string two = ReadFile(db());
    ASSERT_GT(two.size(), 2000000u);

    for (int round = 0; round < 3; ++round) {
        int pipe[2];
        ASSERT_EQ(::pipe(pipe), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(pipe[0]);
            for (int i = 0;; ++i) {
                SaveDevices(db(), i % 2 == 0 ? first : second, 100000);
                if (i == 0 && ::write(pipe[1], "s", 1) != 1)
                    _exit(1);
            }
        }
        ::close(pipe[1]);
        char started = 0;
        ASSERT_EQ(::read(pipe[0], &started, 1), 1);
        ::close(pipe[0]);
        ::usleep(static_cast<useconds_t>(50000 + round * 70000));
        ::kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));

        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            names.push_back(entry.path().filename().string());
        EXPECT_EQ(names, std::vector<std::string>{"base.db"}) << "round " << round;
        const std::string now = ReadFile(db());
        EXPECT_TRUE(now == one || now == two) << "round " << round;
    }
}

TEST_F(RegistryTest, MissingFolderIsReported) {
    CList<CBase> list;
    EXPECT_FALSE(LoadDevices(dir / "no" / "base.db", list, 3));
    EXPECT_FALSE(SaveDevices(dir / "no" / "base.db", list, 3));
    EXPECT_FALSE(EnsureRowCount(dir / "no" / "base.db", 3));
}

}  // namespace
}  // namespace quellin
