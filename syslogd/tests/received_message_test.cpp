#include "received_message.h"

#include "clock.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <ctime>

namespace quellin::syslogd {
namespace {

using quellin::testing::PrintTo;
using quellin::testing::Sjis;

// 2024-07-05 12:34:56 local time: a leap year.
const std::int64_t kNow2024 = MakeLocalTime(2024, 7, 5, 12, 34, 56);
const std::int64_t kNow2023 = MakeLocalTime(2023, 7, 5, 12, 34, 56);
constexpr char kReceiveStamp[] = "Jul 05 12:34:56";

struct DecodeCase {
    const char* name;
    std::string datagram;
    std::int64_t now;
    std::string timestamp;
    std::string facility;
    std::string level;
    std::string body;
};

class DecodeAccepted : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeAccepted, FillsEveryField) {
    const DecodeCase& c = GetParam();
    const ReceiveTime time = DescribeReceiveTime(c.now);
    DecodeResult r = DecodeDatagram(c.datagram, "192.168.0.1", time);
    ASSERT_TRUE(r.message.has_value());
    const ReceivedMessage& m = *r.message;
    EXPECT_EQ(m.raw, c.datagram);
    EXPECT_EQ(m.Row(), (ListRow{c.timestamp, "192.168.0.1", c.facility, c.level, c.body}));
    EXPECT_EQ(m.receivedAt, c.now);
}

INSTANTIATE_TEST_SUITE_P(
    Datagrams, DecodeAccepted,
    ::testing::Values(
        DecodeCase{"Pri13DayWithLeadingSpace", "<13>Jul  5 00:43:58 tarn01 link up", kNow2024,
                   "Jul  5 00:43:58", "User", "Notice", "tarn01 link up"},
        DecodeCase{"SingleDigitDayRefused", "<13>Jul 5 00:43:58 tarn01 link up", kNow2024,
                   kReceiveStamp, "User", "Notice", "Jul 5 00:43:58 tarn01 link up"},
        DecodeCase{"TwoDigitDay", "<13>Jul 05 00:43:58 x", kNow2024, "Jul 05 00:43:58", "User",
                   "Notice", "x"},
        DecodeCase{"Pri0", "<0>Jan 31 23:59:59 k", kNow2024, "Jan 31 23:59:59", "Kern", "Emergency",
                   "k"},
        DecodeCase{"Pri191", "<191>Dec  1 00:00:00 d", kNow2024, "Dec  1 00:00:00", "Local7",
                   "Debug", "d"},
        DecodeCase{"Pri119LastBeforeGap", "<119>x", kNow2024, kReceiveStamp, "Log Alert", "Debug",
                   "x"},
        DecodeCase{"Pri128FirstAfterGap", "<128>x", kNow2024, kReceiveStamp, "Local0", "Emergency",
                   "x"},
        DecodeCase{"ThreeDigitPriWithLeadingZeros", "<013>x", kNow2024, kReceiveStamp, "User",
                   "Notice", "x"},
        DecodeCase{"February29InLeapYear", "<13>Feb 29 10:00:00 leap", kNow2024, "Feb 29 10:00:00",
                   "User", "Notice", "leap"},
        DecodeCase{"February29InOtherYear", "<13>Feb 29 10:00:00 leap", kNow2023, kReceiveStamp,
                   "User", "Notice", "Feb 29 10:00:00 leap"},
        DecodeCase{"February28InOtherYear", "<13>Feb 28 10:00:00 x", kNow2023, "Feb 28 10:00:00",
                   "User", "Notice", "x"},
        DecodeCase{"LowerCaseMonth", "<13>jul  5 00:43:58 x", kNow2024, kReceiveStamp, "User",
                   "Notice", "jul  5 00:43:58 x"},
        DecodeCase{"Day32", "<13>Jul 32 00:43:58 x", kNow2024, kReceiveStamp, "User", "Notice",
                   "Jul 32 00:43:58 x"},
        DecodeCase{"Day0", "<13>Jul 00 00:43:58 x", kNow2024, kReceiveStamp, "User", "Notice",
                   "Jul 00 00:43:58 x"},
        DecodeCase{"April31", "<13>Apr 31 00:43:58 x", kNow2024, kReceiveStamp, "User", "Notice",
                   "Apr 31 00:43:58 x"},
        DecodeCase{"Hour23", "<13>Jul  5 23:59:59 x", kNow2024, "Jul  5 23:59:59", "User", "Notice",
                   "x"},
        DecodeCase{"Hour24", "<13>Jul  5 24:00:00 x", kNow2024, kReceiveStamp, "User", "Notice",
                   "Jul  5 24:00:00 x"},
        DecodeCase{"Minute60", "<13>Jul  5 00:60:00 x", kNow2024, kReceiveStamp, "User", "Notice",
                   "Jul  5 00:60:00 x"},
        DecodeCase{"Second60", "<13>Jul  5 00:00:60 x", kNow2024, kReceiveStamp, "User", "Notice",
                   "Jul  5 00:00:60 x"},
        DecodeCase{"NoSpaceAfterTimestamp", "<13>Jul  5 00:43:58x", kNow2024, kReceiveStamp, "User",
                   "Notice", "Jul  5 00:43:58x"},
        DecodeCase{"TimestampAtEnd", "<13>Jul  5 00:43:58", kNow2024, kReceiveStamp, "User",
                   "Notice", "Jul  5 00:43:58"},
        DecodeCase{"TimestampAndSpaceOnly", "<13>Jul  5 00:43:58 ", kNow2024, "Jul  5 00:43:58",
                   "User", "Notice", ""},
        DecodeCase{"EmptyAfterPri", "<13>", kNow2024, kReceiveStamp, "User", "Notice", ""},
        DecodeCase{"LeadingSpacesTrimmedInFallback", "<13>   hello  ", kNow2024, kReceiveStamp,
                   "User", "Notice", "hello  "},
        DecodeCase{"TabsKeptInBody", "<13>a\tb", kNow2024, kReceiveStamp, "User", "Notice", "a\tb"},
        DecodeCase{"JapaneseBodyAfterTimestamp", "<13>Jul  5 00:43:58 " + Sjis("ルータ 起動"),
                   kNow2024, "Jul  5 00:43:58", "User", "Notice", Sjis("ルータ 起動")},
        // A full-width space where the separator belongs is not a space.
        DecodeCase{"FullWidthSpaceAfterTimestamp", "<13>Jul  5 00:43:58" + Sjis("　表示"), kNow2024,
                   kReceiveStamp, "User", "Notice", "Jul  5 00:43:58" + Sjis("　表示")},
        // A full-width digit inside the 15 characters makes them longer
        // than 15 bytes and can never read as a time.
        DecodeCase{"FullWidthDigitInTime", "<13>Jul  5 00:43:5" + Sjis("８") + " x", kNow2024,
                   kReceiveStamp, "User", "Notice", "Jul  5 00:43:5" + Sjis("８") + " x"},
        DecodeCase{"TwoByteCharactersBeforeTheTimestampPosition",
                   "<13>" + Sjis("ソ表") + "Jul  5 00:43:58 x", kNow2024, kReceiveStamp, "User",
                   "Notice", Sjis("ソ表") + "Jul  5 00:43:58 x"},
        DecodeCase{"JapaneseFallbackBody", "<13>  " + Sjis("警告：回線断"), kNow2024, kReceiveStamp,
                   "User", "Notice", Sjis("警告：回線断")}),
    [](const auto& row) { return std::string(row.param.name); });

struct DropCase {
    const char* name;
    std::string datagram;
    DropReason reason;
};

class DecodeDropped : public ::testing::TestWithParam<DropCase> {};

TEST_P(DecodeDropped, LeavesNoMessage) {
    const ReceiveTime time = DescribeReceiveTime(kNow2024);
    DecodeResult r = DecodeDatagram(GetParam().datagram, "10.0.0.1", time);
    EXPECT_FALSE(r.message.has_value());
    EXPECT_EQ(r.dropReason, GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Datagrams, DecodeDropped,
    ::testing::Values(
        DropCase{"Empty", "", DropReason::NoOpeningBracket},
        DropCase{"NoOpeningBracket", "13>Jul  5 00:43:58 x", DropReason::NoOpeningBracket},
        DropCase{"LeadingSpace", " <13>x", DropReason::NoOpeningBracket},
        DropCase{"NoClosingBracket", "<13 x", DropReason::BadPriLength},
        DropCase{"EmptyPri", "<>x", DropReason::BadPriLength},
        DropCase{"FourDigitPri", "<1234>x", DropReason::BadPriLength},
        DropCase{"LettersPri", "<ab>x", DropReason::NonNumericPri},
        DropCase{"SignedPri", "<-1>x", DropReason::NonNumericPri},
        DropCase{"PlusPri", "<+1>x", DropReason::NonNumericPri},
        DropCase{"DecimalPri", "<1.5>x", DropReason::NonNumericPri},
        DropCase{"SpaceInPri", "< 13>x", DropReason::NonNumericPri},
        DropCase{"FullWidthDigitPri", "<" + Sjis("１") + ">x", DropReason::NonNumericPri},
        DropCase{"LoneLeadBytePri", "<1\x83>x", DropReason::NonNumericPri},
        DropCase{"Facility15Pri120", "<120>x", DropReason::UnknownFacility},
        DropCase{"Facility15Pri127", "<127>x", DropReason::UnknownFacility},
        DropCase{"Facility24Pri192", "<192>x", DropReason::UnknownFacility},
        DropCase{"Pri999", "<999>x", DropReason::UnknownFacility}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(FacilityTable, BitsFillZeroToTwentyTwoWithoutGap) {
    std::uint32_t all = 0;
    for (int f = 0; f < 24; ++f) {
        auto info = LookUpFacility(f);
        EXPECT_EQ(info.has_value(), f != 15) << f;
        if (info) {
            EXPECT_EQ(all & info->bit, 0u) << f;
            all |= info->bit;
        }
    }
    EXPECT_EQ(all, 0x7FFFFFu);
    EXPECT_FALSE(LookUpFacility(-1));
    EXPECT_FALSE(LookUpFacility(24));
}

TEST(LevelTable, NamesAndBits) {
    const char* names[] = {"Emergency", "Alert",  "Critical", "Error",
                           "Warning",   "Notice", "Info",     "Debug"};
    for (int l = 0; l < 8; ++l) {
        auto info = LookUpLevel(l);
        ASSERT_TRUE(info);
        EXPECT_STREQ(info->name, names[l]);
        EXPECT_EQ(info->bit, 1 << l);
    }
    EXPECT_FALSE(LookUpLevel(8));
}

TEST(FormatReceiveTime, EnglishMonthAndTwoDigitFields) {
    EXPECT_EQ(FormatReceiveTime(MakeLocalTime(2024, 1, 2, 3, 4, 5)), "Jan 02 03:04:05");
    EXPECT_EQ(FormatReceiveTime(MakeLocalTime(2024, 12, 31, 23, 59, 59)), "Dec 31 23:59:59");
}

TEST(DecodeMessage, Rfc5424IntoTheSameColumns) {
    const ReceiveTime time = DescribeReceiveTime(kNow2024);
    std::string kept;
    // The sender's zone applies: 03:43:58 at +09:00 is 18:43:58 UTC the day before.
    std::tm utc{58, 43, 18, 4, 6, 124, 0, 0, 0, 0, nullptr};
    const std::string sentLocal = FormatReceiveTime(timegm(&utc));
    const std::string utf8 =
        "<165>1 2024-07-05T03:43:58.123+09:00 sw1 sshd 42 ID7 "
        "[a@1 k=\"v\\]\"] \xEF\xBB\xBF\xE5\x8F\x97\xE4\xBF\xA1 \xF0\x9F\x98\x80 end";
    DecodeResult r = DecodeMessage(utf8, "10.0.0.1", time, kept);
    ASSERT_TRUE(r.message);
    EXPECT_EQ(r.message->Row(),
              (ListRow{sentLocal, "10.0.0.1", "Local4", "Notice",
                       "sw1 sshd[42] ID7 [a@1 k=\"v\\]\"] " + Sjis("受信") + " ? end"}));
    EXPECT_EQ(r.message->raw.substr(r.message->rawBodyOffset), utf8.substr(utf8.find("\xEF")));
    EXPECT_EQ(r.message->searchText.substr(0, 7), "<165>1 ");
    // Nil fields are left out, a nil time is the receive time, no MSG is fine.
    r = DecodeMessage("<13>1 - - - - - -", "h", time, kept);
    ASSERT_TRUE(r.message);
    EXPECT_EQ(r.message->Row(), (ListRow{kReceiveStamp, "h", "User", "Notice", ""}));
    // Whatever is not a whole RFC 5424 header stays the older form, as it was.
    for (const char* older : {"<13>1 link up", "<13>1 2024-13-01T00:00:00Z h a p m - x",
                              "<13>1 - h a p m [unclosed", "<13>Jul  5 00:43:58 1 x"}) {
        r = DecodeMessage(older, "h", time, kept);
        ASSERT_TRUE(r.message) << older;
        EXPECT_EQ(r.message->Row(), DecodeDatagram(older, "h", time).message->Row()) << older;
    }
}

}  // namespace
}  // namespace quellin::syslogd
