#include "alert.h"

#include "test_support.h"

#include <gtest/gtest.h>

namespace quellin::syslogd {
namespace {

using quellin::testing::PrintTo;
using quellin::testing::Sjis;

SearchEntry Entry(std::string key, std::string disp = "") {
    SearchEntry e;
    e.keyStr = std::move(key);
    e.dispStr = std::move(disp);
    return e;
}

TEST(FindFirstMatch, FirstOfTwoMatchingEntriesActs) {
    std::vector<SearchEntry> table = {Entry("nothing"), Entry("link"), Entry("down")};
    EXPECT_EQ(FindFirstMatch(table, "<13>Jul  5 00:43:58 r1 link down"), 1u);
}

TEST(FindFirstMatch, EntryBehindEmptyKeyNeverActs) {
    std::vector<SearchEntry> table = {Entry("nothing"), Entry(""), Entry("down")};
    EXPECT_EQ(FindFirstMatch(table, "<13>r1 link down"), std::nullopt);
}

TEST(FindFirstMatch, NoEntries) {
    EXPECT_EQ(FindFirstMatch({}, "<13>x"), std::nullopt);
}

TEST(FindFirstMatch, CaseSensitive) {
    std::vector<SearchEntry> table = {Entry("Down")};
    EXPECT_EQ(FindFirstMatch(table, "<13>link down"), std::nullopt);
}

TEST(FindFirstMatch, PriInBracketsMatchesTheRawText) {
    std::vector<SearchEntry> table = {Entry("<13>")};
    EXPECT_EQ(FindFirstMatch(table, "<13>Jul  5 00:43:58 anything"), 0u);
    EXPECT_EQ(FindFirstMatch(table, "<14>Jul  5 00:43:58 anything"), std::nullopt);
}

TEST(FindFirstMatch, JapaneseKey) {
    std::vector<SearchEntry> table = {Entry(Sjis("回線断"))};
    EXPECT_EQ(FindFirstMatch(table, "<11>" + Sjis("警告：回線断を検出")), 0u);
}

TEST(ContainsText, MatchMustNotStartInsideATwoByteCharacter) {
    // "ソ" is 0x83 0x5C: its trail byte is a backslash.
    std::string text = "<13>" + Sjis("ソ") + "n";
    EXPECT_FALSE(ContainsText(text, "\\"));
    EXPECT_FALSE(ContainsText(text, "\\n"));
    EXPECT_TRUE(ContainsText(text, Sjis("ソ")));
    EXPECT_TRUE(ContainsText("<13>a\\n", "\\n"));
    // "表" is 0x95 0x5C; a key of its lead byte alone must not match it.
    EXPECT_FALSE(ContainsText(Sjis("表"), "\x95"));
    // A later occurrence on a boundary still counts.
    EXPECT_TRUE(ContainsText(Sjis("ソ") + "\\", "\\"));
}

TEST(PopupText, MessageItselfOrEntryText) {
    const ReceivedMessage m{
        .timestamp = "Jul  5 00:43:58", .source = "192.0.2.7", .body = "r1 link down"};
    EXPECT_EQ(PopupText(Entry("x"), m), "Jul  5 00:43:58   From 192.0.2.7\r\nr1 link down");
    EXPECT_EQ(PopupText(Entry("x", ShowMessageItselfText()), m),
              "Jul  5 00:43:58   From 192.0.2.7\r\nr1 link down");
    EXPECT_EQ(PopupText(Entry("x", Sjis("回線断")), m),
              "Jul  5 00:43:58   From 192.0.2.7\r\n" + Sjis("回線断"));
}

}  // namespace
}  // namespace quellin::syslogd
