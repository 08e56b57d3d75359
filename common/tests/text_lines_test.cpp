#include "text_lines.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quellin {
namespace {

using testing::PrintTo;
using testing::RowName;

struct TextCase {
    const char* name;
    std::string bytes;
    std::string textMode;
    std::vector<std::string> lines;
};

class TextLines : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextLines, ReadAsATextModeStreamReadsThem) {
    const TextCase& row = GetParam();
    EXPECT_EQ(TextMode(row.bytes), row.textMode);
    std::vector<std::string> lines;
    std::string_view text = row.bytes;
    while (auto line = NextLine(text))
        lines.emplace_back(*line);
    EXPECT_EQ(lines, row.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TextLines,
    ::testing::Values(
        TextCase{"Empty", "", "", {}}, TextCase{"OnlyLf", "\n", "\n", {""}},
        TextCase{"OnlyCrLf", "\r\n", "\n", {""}},
        TextCase{"CrLfLines", "a\r\nb\r\n", "a\nb\n", {"a", "b"}},
        TextCase{"LfLines", "a\nb\n", "a\nb\n", {"a", "b"}},
        TextCase{"MixedEnds", "a\nb\r\n\r\nc", "a\nb\n\nc", {"a", "b", "", "c"}},
        TextCase{"LastLineWithoutEnd", "a\r\nb", "a\nb", {"a", "b"}},
        // A CR not followed by LF is an ordinary byte, wherever it stands.
        TextCase{"LoneCrInsideALine", "a\rb\r\n", "a\rb\n", {"a\rb"}},
        TextCase{"LoneCrAtTheEnd", "a\r", "a\r", {"a\r"}},
        TextCase{"CrBeforeCrLf", "a\r\r\n", "a\r\n", {"a\r"}},
        TextCase{"LfCr", "a\n\rb", "a\n\rb", {"a", "\rb"}},
        // 0x0D and 0x0A never occur inside a two-byte CP932 character, so
        // such text splits like any other.
        TextCase{"Cp932", "\x83\x5C\r\n\x95\x5C", "\x83\x5C\n\x95\x5C", {"\x83\x5C", "\x95\x5C"}},
        TextCase{"NulBytesKept",
                 std::string("a\0b\r\n", 5),
                 std::string("a\0b\n", 4),
                 {std::string("a\0b", 3)}}),
    RowName());

TEST(NextLineTest, LeavesTheRestOfTheText) {
    std::string_view text = "first\r\nsecond\nthird";
    EXPECT_EQ(NextLine(text), "first");
    EXPECT_EQ(text, "second\nthird");
    EXPECT_EQ(NextLine(text), "second");
    EXPECT_EQ(NextLine(text), "third");
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(NextLine(text), std::nullopt);
}

class ReadTextLinesTest : public testing::TempDirTest {};

TEST_F(ReadTextLinesTest, SplitsTheFileOrTellsItIsMissing) {
    testing::WriteFile(dir / "rows", "a,1\r\nb,2\n\r\nc");
    EXPECT_EQ(ReadTextLines(dir / "rows"), (std::vector<std::string>{"a,1", "b,2", "", "c"}));
    testing::WriteFile(dir / "empty", "");
    EXPECT_EQ(ReadTextLines(dir / "empty"), std::vector<std::string>{});
    EXPECT_EQ(ReadTextLines(dir / "missing"), std::nullopt);
}

}  // namespace
}  // namespace quellin
