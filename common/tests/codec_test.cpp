#include "codec.h"

#include <gtest/gtest.h>

namespace quellin::cp932 {
namespace {

TEST(Cp932Codec, RoundTripsJapaneseText) {
    // "ツール" in CP932: 83 63 81 5B 83 8B
    const std::string sjis = "\x83\x63\x81\x5B\x83\x8B";
    ASSERT_EQ(ToUtf8(sjis), std::optional<std::string>("ツール"));
    EXPECT_EQ(FromUtf8("ツール"), std::optional<std::string>(sjis));
}

TEST(Cp932Codec, HalfWidthKatakanaIsOneByte) {
    EXPECT_EQ(FromUtf8("ｱ"), std::optional<std::string>("\xB1"));
    EXPECT_EQ(ByteLength("ｱｲｳ"), std::optional<std::size_t>(3));
    EXPECT_EQ(ByteLength("装置名"), std::optional<std::size_t>(6));
    EXPECT_EQ(ByteLength("abc"), std::optional<std::size_t>(3));
}

TEST(Cp932Codec, CharacterWithoutCp932FormFails) {
    EXPECT_EQ(FromUtf8("😀"), std::nullopt);
    EXPECT_EQ(ByteLength("a😀"), std::nullopt);
    EXPECT_EQ(FromUtf8("\xFF"), std::nullopt);  // not UTF-8 at all
}

TEST(Cp932Codec, LossyConversionMarksWhatHasNoForm) {
    EXPECT_EQ(FromUtf8Lossy("a😀"
                            "装"),
              "a?" + Jp("装"));
    EXPECT_EQ(FromUtf8Lossy("abc"), "abc");
}

TEST(Cp932Codec, InvalidCp932) {
    EXPECT_EQ(ToUtf8("\x81"), std::nullopt);  // lone lead byte
    EXPECT_EQ(ToUtf8Lossy("a\x81"), "a\xEF\xBF\xBD");
    EXPECT_EQ(ToUtf8Lossy("\x83\x63"), "ツ");
}

TEST(Cp932Codec, LiteralsAndPaths) {
    EXPECT_EQ(Jp("未実施"), *FromUtf8("未実施"));
    EXPECT_EQ(ToPath(Jp("装置")).string(), "装置");
    EXPECT_EQ(FromPath("/tmp/装置"), "/tmp/" + Jp("装置"));
    // Bytes that are not CP932 pass through unchanged.
    EXPECT_EQ(ToPath("\x81").string(), "\x81");
}

TEST(Cp932Codec, LeadBytes) {
    EXPECT_TRUE(IsLeadByte(0x81));
    EXPECT_TRUE(IsLeadByte(0x9F));
    EXPECT_FALSE(IsLeadByte(0xA0));
    EXPECT_FALSE(IsLeadByte(0xDF));
    EXPECT_TRUE(IsLeadByte(0xE0));
    EXPECT_TRUE(IsLeadByte(0xFC));
    EXPECT_FALSE(IsLeadByte('A'));
}

// A cut never halves a two-byte character: "ab装置" cut at 3, 4 and 5 bytes.
TEST(Cp932Codec, HeadEndsWhereACharacterEnds) {
    const std::string text = "ab" + Jp("装置");
    EXPECT_EQ(Head(text, 3), "ab");
    EXPECT_EQ(Head(text, 4), "ab" + Jp("装"));
    EXPECT_EQ(Head(text, 5), "ab" + Jp("装"));
    EXPECT_EQ(Head(text, 6), text);
    EXPECT_EQ(Head(text, 0), "");
    // A lead byte without a trail byte is a character of its own.
    EXPECT_EQ(Head("a\x81", 2), "a\x81");
}

TEST(Cp932Codec, TailNeverHalvesACharacter) {
    const std::string a = Jp("あ");  // 82 A0
    const std::string ka = Jp("ｶ");  // B6, one byte
    struct Row {
        const char* name;
        std::string text;
        std::size_t maxBytes;
        std::string expected;
    };
    const Row rows[] = {
        {"short_text_whole", "abc", 5, "abc"},
        {"ascii_cut", "abcdef", 4, "cdef"},
        {"cut_between_characters", "x" + a + a, 4, a + a},
        {"cut_inside_a_character", a + a + a, 5, a + a},
        {"lead_bytes_as_trail_bytes", "\x81\x81\x81\x81", 3, "\x81\x81"},
        {"lone_lead_byte_is_a_character",
         "x\x81"
         "12",
         2, "12"},
        {"lead_byte_and_letter_are_one_character",
         "x\x81"
         "ab",
         2, "b"},
        {"half_width_byte_after_a_lead_is_its_trail", "\x81" + ka + "z", 2, "z"},
        {"half_width_byte_is_no_lead", "z" + ka + ka + a, 3, ka + a},
        {"nothing_fits", a, 1, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string_view tail = Tail(row.text, row.maxBytes);
        EXPECT_EQ(tail, row.expected);
        // The tail is what reading the whole text from its start leaves.
        std::size_t at = 0;
        while (at < row.text.size() - tail.size())
            at += CharacterLength(row.text, at);
        EXPECT_EQ(at, row.text.size() - tail.size());
    }
}

}  // namespace
}  // namespace quellin::cp932
