#include "leading_number.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace quellin {
namespace {

using testing::PrintTo;
using testing::RowName;

struct SplitCase {
    const char* name;
    std::string text;
    bool negative;
    std::string digits;
};

class SplitLeadingNumberTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitLeadingNumberTest, TakesBlanksSignAndDigits) {
    const SplitCase& row = GetParam();
    LeadingNumber number = SplitLeadingNumber(row.text);
    EXPECT_EQ(number.negative, row.negative);
    EXPECT_EQ(number.digits, row.digits);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SplitLeadingNumberTest,
    ::testing::Values(
        SplitCase{"Digits", "42", false, "42"}, SplitCase{"BlanksAndMinus", " \t -17", true, "17"},
        SplitCase{"Plus", "+5", false, "5"},
        SplitCase{"TrailingTextIgnored", "12abc 3", false, "12"},
        SplitCase{"LeadingZeros", "007", false, "007"}, SplitCase{"Empty", "", false, ""},
        SplitCase{"Letters", "abc", false, ""}, SplitCase{"SignAlone", "-", true, ""},
        SplitCase{"BlankAfterSign", "- 5", true, ""}, SplitCase{"TwoSigns", "--5", true, ""},
        // Only space and tab are blanks here.
        SplitCase{"LineFeedIsNoBlank", "\n5", false, ""},
        SplitCase{"CrIsNoBlank", "\r5", false, ""},
        SplitCase{"FullWidthDigitIsNoDigit", "\x82\x54", false, ""}),
    RowName());

TEST(ParseWrappingTest, KeepsTheLowBitsAtTheTypeBoundary) {
    EXPECT_EQ(ParseWrapping<std::uint8_t>("255"), 255);
    EXPECT_EQ(ParseWrapping<std::uint8_t>("256"), 0);
    EXPECT_EQ(ParseWrapping<std::uint8_t>("257"), 1);
    EXPECT_EQ(ParseWrapping<std::uint16_t>("65535"), 65535);
    EXPECT_EQ(ParseWrapping<std::uint16_t>("65536"), 0);
    EXPECT_EQ(ParseWrapping<std::uint16_t>("65537"), 1);
    EXPECT_EQ(ParseWrapping<std::uint32_t>("4294967295"), 4294967295u);
    EXPECT_EQ(ParseWrapping<std::uint32_t>("4294967296"), 0u);
    EXPECT_EQ(ParseWrapping<std::uint32_t>("4294967297"), 1u);
}

TEST(ParseWrappingTest, NegativeValuesWrapAsInTwosComplement) {
    EXPECT_EQ(ParseWrapping<std::uint8_t>("-1"), 255);
    EXPECT_EQ(ParseWrapping<std::uint16_t>("-1"), 65535);
    EXPECT_EQ(ParseWrapping<std::uint32_t>("-2147483648"), 2147483648u);
    EXPECT_EQ(ParseWrapping<std::uint16_t>("-0"), 0);
}

TEST(ParseWrappingTest, VeryLongNumbersStillWrap) {
    // 10^30 and 10^31 are multiples of 2^16: the digits before the last
    // ones leave nothing in 16 bits, however far they overflow.
    std::string huge = "1" + std::string(30, '0');
    EXPECT_EQ(ParseWrapping<std::uint16_t>(huge), static_cast<std::uint16_t>(0));
    EXPECT_EQ(ParseWrapping<std::uint16_t>(huge + "7"), 7);
}

}  // namespace
}  // namespace quellin
