#include "md5.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace quellin {
namespace {

using quellin::testing::PrintTo;
using quellin::testing::RowName;

struct DigestCase {
    const char* name;
    std::string text;
    const char* hex;
};

class Md5Test : public ::testing::TestWithParam<DigestCase> {};

TEST_P(Md5Test, GivesStandardDigest) {
    EXPECT_EQ(Md5Hex(GetParam().text), GetParam().hex);
}

// The test suite of RFC 1321, appendix A.5.
INSTANTIATE_TEST_SUITE_P(
    Rfc1321Suite, Md5Test,
    ::testing::Values(
        DigestCase{"Empty", "", "d41d8cd98f00b204e9800998ecf8427e"},
        DigestCase{"A", "a", "0cc175b9c0f1b6a831c399e269772661"},
        DigestCase{"Abc", "abc", "900150983cd24fb0d6963f7d28e17f72"},
        DigestCase{"MessageDigest", "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        DigestCase{"Alphabet", "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        DigestCase{"Alphanumeric", "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
                   "d174ab98d277d9f5a5611c2c9f419d9f"},
        DigestCase{"Digits80",
                   "1234567890123456789012345678901234567890123456789012345678901234567890123456"
                   "7890",
                   "57edf4a22be3c955ac49da2e2107b67a"}),
    RowName());

// Lengths around the points where the padding needs a second block or a
// further input block.
INSTANTIATE_TEST_SUITE_P(
    PaddingBoundaries, Md5Test,
    ::testing::Values(
        DigestCase{"Len55", std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
        DigestCase{"Len56", std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
        DigestCase{"Len57", std::string(57, 'a'), "652b906d60af96844ebd21b674f35e93"},
        DigestCase{"Len63", std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
        DigestCase{"Len64", std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
        DigestCase{"Len65", std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
        DigestCase{"Len119", std::string(119, 'a'), "8a7bd0732ed6a28ce75f6dabc90e1613"},
        DigestCase{"Len120", std::string(120, 'a'), "5f61c0ccad4cac44c75ff505e1f1e537"},
        DigestCase{"Len121", std::string(121, 'a'), "f6acfca2d47c87f2b14ca038234d3614"}),
    RowName());

TEST(Md5HexTest, HighBytesAndNulsAreDigestedAsBytes) {
    std::string bytes;
    for (int i = 0; i < 100; ++i)
        bytes += std::string("\xff\x00\x80", 3);
    EXPECT_EQ(Md5Hex(bytes), "650fac2449ca8b1209515eb8d686a373");
}

TEST(Md5HexTest, IsAlwaysThirtyTwoLowercaseHexDigits) {
    for (const char* text : {"", "secret", "\x82\xa0", "0123456789abcdef"}) {
        std::string hex = Md5Hex(text);
        ASSERT_EQ(hex.size(), 32u) << text;
        EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos) << hex;
    }
}

}  // namespace
}  // namespace quellin
