#include "log_file.h"

#include "test_support.h"

#include <gtest/gtest.h>

namespace quellin::syslogd {
namespace {

using quellin::testing::PrintTo;
using quellin::testing::ReadFile;
using quellin::testing::Sjis;
using quellin::testing::TempDirTest;
using quellin::testing::WriteFile;

using LogFileTest = TempDirTest;

const ListRow kRow = {"Jul  5 00:43:58", "192.168.1.1", "User", "Notice", "a,b"};

TEST(FormatLogLine, ColumnsJoinedByComma) {
    EXPECT_EQ(FormatLogLine(kRow), "Jul  5 00:43:58,192.168.1.1,User,Notice,a,b");
    EXPECT_EQ(FormatLogLine({"", "", "", "", ""}), ",,,,");
    EXPECT_EQ(FormatLogLine({"t", "s", "f", "l", "x\ty\r\nz"}), "t,s,f,l,x,y  z");
}

struct SplitCase {
    const char* name;
    std::string line;
    ListRow row;
};

class SplitLogLineCases : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitLogLineCases, Splits) {
    EXPECT_EQ(SplitLogLine(GetParam().line), GetParam().row);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitLogLineCases,
    ::testing::Values(
        SplitCase{"FiveFields", "t,s,f,l,b", {"t", "s", "f", "l", "b"}},
        SplitCase{"CommasStayInBody", "t,s,f,l,a,b,,c", {"t", "s", "f", "l", "a,b,,c"}},
        SplitCase{"ThreeCommas", "t,s,f,l", {"t", "s", "f", "l", ""}},
        SplitCase{"NoComma", "only", {"only", "", "", "", ""}},
        SplitCase{"Empty", "", {"", "", "", "", ""}},
        SplitCase{"FourCommasEmptyBody", "t,s,f,l,", {"t", "s", "f", "l", ""}},
        SplitCase{"TrailingCr", "t,s,f,l,b\r", {"t", "s", "f", "l", "b"}},
        SplitCase{
            "Japanese", "t,s,f,l," + Sjis("表示、停止"), {"t", "s", "f", "l", Sjis("表示、停止")}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(LogFileTest, ListFileRoundTripKeepsBodyCommas) {
    auto path = dir / "list.txt";
    std::vector<ListRow> rows = {
        kRow, {"Jul  6 01:02:03", "10.0.0.1", "Kern", "Error", Sjis("日本語,テキスト")}};
    ASSERT_TRUE(WriteListFile(path, rows));
    EXPECT_EQ(ReadFile(path),
              "Jul  5 00:43:58,192.168.1.1,User,Notice,a,b\r\n"
              "Jul  6 01:02:03,10.0.0.1,Kern,Error," +
                  Sjis("日本語,テキスト") + "\r\n");
    auto lines = ReadLines(path);
    ASSERT_TRUE(lines);
    ASSERT_EQ(lines->size(), 2u);
    EXPECT_EQ(SplitLogLine((*lines)[0]), rows[0]);
    EXPECT_EQ(SplitLogLine((*lines)[1]), rows[1]);
}

TEST_F(LogFileTest, WriteListFileReplacesOldContent) {
    auto path = dir / "list.txt";
    WriteFile(path, "old content that is longer\r\n");
    ASSERT_TRUE(WriteListFile(path, {kRow}));
    EXPECT_EQ(ReadFile(path), FormatLogLine(kRow) + "\r\n");
}

TEST_F(LogFileTest, ReadLinesOfMissingFile) {
    EXPECT_FALSE(ReadLines(dir / "missing.txt"));
}

TEST(SplitLines, LineEnds) {
    EXPECT_EQ(SplitLines(""), std::vector<std::string>{});
    EXPECT_EQ(SplitLines("a"), std::vector<std::string>{"a"});
    EXPECT_EQ(SplitLines("a\r\n"), std::vector<std::string>{"a"});
    EXPECT_EQ(SplitLines("a\nb"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(SplitLines("a\r\n\r\nb\r\n"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(SplitLines("\n"), std::vector<std::string>{""});
}

}  // namespace
}  // namespace quellin::syslogd
