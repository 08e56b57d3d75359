#include "mail_message.h"

#include "clock.h"

#include "test_support.h"

#include <gtest/gtest.h>

namespace quellin::syslogd {
namespace {

using quellin::testing::PrintTo;
using quellin::testing::RowName;
using quellin::testing::Sjis;

const std::string kThirtyKana = "あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほ";
const std::string kWordOf18 =
    "=?ISO-2022-JP?B?GyRCJCIkJCQmJCgkKiQrJC0kLyQxJDMkNSQ3JDkkOyQ9JD8kQSREGyhC?=";
const std::string kWordOf12 = "=?ISO-2022-JP?B?GyRCJEYkSCRKJEskTCRNJE4kTyRSJFUkWCRbGyhC?=";

struct Base64Row {
    std::string name;
    std::string in;
    std::string out;
};

class Base64Test : public ::testing::TestWithParam<Base64Row> {};

TEST_P(Base64Test, EncodesWithPadding) {
    EXPECT_EQ(Base64Encode(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(
    Rfc4648, Base64Test,
    ::testing::Values(Base64Row{"empty", "", ""}, Base64Row{"one", "f", "Zg=="},
                      Base64Row{"two", "fo", "Zm8="}, Base64Row{"three", "foo", "Zm9v"},
                      Base64Row{"four", "foob", "Zm9vYg=="}, Base64Row{"six", "foobar", "Zm9vYmFy"},
                      Base64Row{"high_bytes", "\xFF\xFE\xFD", "//79"}),
    RowName());

struct JisRow {
    std::string name;
    std::string sjis;
    std::string jis;
};

class Iso2022JpTest : public ::testing::TestWithParam<JisRow> {};

TEST_P(Iso2022JpTest, ConvertsByTheShiftRule) {
    EXPECT_EQ(ToIso2022Jp(GetParam().sjis), GetParam().jis);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Iso2022JpTest,
    ::testing::Values(JisRow{"ascii_unchanged", "abc\r\n", "abc\r\n"},
                      JisRow{"escapes_around_run", Sjis("aあいb"), "a\x1B$B$\"$$\x1B(Bb"},
                      JisRow{"run_at_end_closed", Sjis("あ"), "\x1B$B$\"\x1B(B"},
                      JisRow{"first_row_first_cell", "\x81\x40", "\x1B$B!!\x1B(B"},
                      JisRow{"lead_9f_last_trail", "\x9F\xFC", "\x1B$B^~\x1B(B"},
                      JisRow{"lead_e0_first_trail", "\xE0\x40", "\x1B$B_!\x1B(B"},
                      JisRow{"lead_ef_last_trail", "\xEF\xFC", "\x1B$B~~\x1B(B"},
                      JisRow{"trail_7e_and_80", "\x81\x7E\x81\x80", "\x1B$B!_!`\x1B(B"},
                      // No JIS X 0208 code: the geta mark instead of two NUL bytes.
                      JisRow{"user_defined_lead_f0", "\xF0\x40", "\x1B$B\".\x1B(B"},
                      JisRow{"ibm_extension_lead_fa", "\xFA\x40", "\x1B$B\".\x1B(B"},
                      JisRow{"lone_high_byte", "\xA0", "\x1B$B\".\x1B(B"}),
    RowName());

struct CleanRow {
    std::string name;
    std::string in;
    std::string out;
    bool nonAscii;
};

class CleanUpTest : public ::testing::TestWithParam<CleanRow> {};

TEST_P(CleanUpTest, ReplacesSingleBytes) {
    CleanText clean = CleanUpForMail(GetParam().in);
    EXPECT_EQ(clean.text, GetParam().out);
    EXPECT_EQ(clean.nonAscii, GetParam().nonAscii);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CleanUpTest,
    ::testing::Values(CleanRow{"ascii", "a.b\r\n", "a.b\r\n", false},
                      CleanRow{"half_width_first", "\xA1", Sjis("。"), true},
                      CleanRow{"half_width_a", "\xB1", Sjis("ア"), true},
                      CleanRow{"half_width_voiced_mark", "\xB6\xDE", Sjis("カ゛"), true},
                      CleanRow{"half_width_last", "\xDF", Sjis("゜"), true},
                      CleanRow{"byte_80", "\x80", ".", false},
                      CleanRow{"byte_a0", "\xA0", ".", false},
                      CleanRow{"byte_fd_to_ff", "\xFD\xFE\xFF", "...", false},
                      CleanRow{"lead_byte_at_end", "a\x82", "a.", false},
                      CleanRow{"double_byte_kept", Sjis("漢字"), Sjis("漢字"), true}),
    RowName());

TEST(HeaderWordsTest, ThirtyCharacterSubjectSplitsAfterEighteen) {
    std::string header = "Subject: " + Sjis(kThirtyKana) + "\r\n";
    EXPECT_EQ(EncodeHeaderWords(header), "Subject:  " + kWordOf18 + " " + kWordOf12 + " \r\n");
}

TEST(HeaderWordsTest, AsciiHeaderUnchanged) {
    EXPECT_EQ(EncodeHeaderWords("To: a@b, c@d\r\n"), "To: a@b, c@d\r\n");
}

TEST(HeaderWordsTest, EncodedWordNeverPassesSeventyFour) {
    std::string header;
    for (int i = 0; i < 5; ++i)
        header += Sjis(kThirtyKana);
    std::string encoded = EncodeHeaderWords(header);
    std::size_t start = 0;
    int words = 0;
    while ((start = encoded.find("=?", start)) != std::string::npos) {
        std::size_t end = encoded.find("?=", start + 16) + 2;
        EXPECT_LE(end - start, 74u);
        start = end;
        ++words;
    }
    EXPECT_EQ(words, 9);  // 150 characters, 18 to a word
}

struct FoldRow {
    std::string name;
    std::string in;
    std::string out;
};

class FoldTest : public ::testing::TestWithParam<FoldRow> {};

TEST_P(FoldTest, FoldsAtSeventyFive) {
    EXPECT_EQ(FoldHeader(GetParam().in), GetParam().out);
}

// "H:" and a space take 3 characters, so a word of 72 ends at column 75.
INSTANTIATE_TEST_SUITE_P(
    Boundary, FoldTest,
    ::testing::Values(FoldRow{"width_74", "H: " + std::string(71, 'a') + "\r\n",
                              "H: " + std::string(71, 'a') + "\r\n"},
                      FoldRow{"width_75", "H: " + std::string(72, 'a') + "\r\n",
                              "H: " + std::string(72, 'a') + "\r\n"},
                      FoldRow{"width_76", "H: " + std::string(73, 'a') + "\r\n",
                              "H:\r\n " + std::string(73, 'a') + "\r\n"},
                      FoldRow{"continuation_counts_without_its_space",
                              "H: " + std::string(73, 'a') + " " + std::string(1, 'b') + "\r\n",
                              "H:\r\n " + std::string(73, 'a') + " b\r\n"},
                      FoldRow{"continuation_folds_again",
                              "H: " + std::string(73, 'a') + " " + std::string(2, 'b') + "\r\n",
                              "H:\r\n " + std::string(73, 'a') + "\r\n bb\r\n"},
                      FoldRow{"double_spaces_kept", "A:  b \r\nC: d\r\n", "A:  b \r\nC: d\r\n"},
                      FoldRow{"long_word_alone", std::string(80, 'x') + "\r\n",
                              std::string(80, 'x') + "\r\n"}),
    RowName());

SearchEntry Entry(std::string subject, std::string from, std::string to, std::string data) {
    SearchEntry entry;
    entry.keyStr = "key";
    entry.mailFlag = true;
    entry.subjectStr = std::move(subject);
    entry.fromStr = std::move(from);
    entry.toStr = std::move(to);
    entry.dataStr = std::move(data);
    return entry;
}

TEST(ComposeMailTest, AsciiMailIsUsAscii) {
    std::string mail =
        ComposeMail("syslogd@example.com",
                    Entry("Alert", "Syslogd", "a@example.com,b@example.com", "extra"), "link down");
    EXPECT_EQ(mail,
              "Subject: Alert\r\n"
              "From: Syslogd <syslogd@example.com>\r\n"
              "To: a@example.com,b@example.com\r\n"
              "Content-Type: text/plain; charset=us-ascii\r\n"
              "\r\n"
              "link down\r\n"
              "\r\n"
              "extra\r\n");
}

TEST(ComposeMailTest, RecipientsTypedOnSeveralLinesMakeOneToHeader) {
    std::string mail =
        ComposeMail("s@x", Entry("S", "F", "a@example.com\r\nb@example.com\r\n", "d"), "m");
    EXPECT_TRUE(
        mail.starts_with("Subject: S\r\nFrom: F <s@x>\r\nTo: a@example.com,b@example.com\r\n"
                         "Content-Type: text/plain; charset=us-ascii\r\n\r\n"))
        << mail;
}

TEST(ComposeMailTest, BodyAlreadyEndingInLineBreakGetsNoOther) {
    std::string mail = ComposeMail("s@x", Entry("S", "F", "t@x", "a\r\n"), "m");
    EXPECT_TRUE(mail.ends_with("\r\n\r\nm\r\n\r\na\r\n")) << mail;
}

TEST(ComposeMailTest, JapaneseMailEncodesHeaderAndBody) {
    std::string mail =
        ComposeMail("s@x", Entry(Sjis("件名"), Sjis("送信者"), "t@x", "\xB1\xB2"), Sjis("本文"));
    EXPECT_EQ(mail,
              "Subject:  =?ISO-2022-JP?B?GyRCN29MPhsoQg==?= \r\n"
              "From:  =?ISO-2022-JP?B?GyRCQXc/LjxUGyhC?=  <s@x>\r\n"
              "To: t@x\r\n"
              "Content-Type: text/plain; charset=iso-2022-jp\r\n"
              "\r\n"
              "\x1B$BK\\J8\x1B(B\r\n"
              "\r\n"
              "\x1B$B%\"%$\x1B(B\r\n");
}

TEST(ComposeMailTest, NonAsciiOnlyInBodyStillSelectsJisCharset) {
    std::string mail = ComposeMail("s@x", Entry("S", "F", "t@x", ""), Sjis("障害"));
    EXPECT_NE(mail.find("charset=iso-2022-jp\r\n"), std::string::npos);
    EXPECT_EQ(mail.find("=?"), std::string::npos);
}

// RFC 5322's date in local time with the offset, and an id of every mail's own.
TEST(ComposeMailTest, StampHasTheLocalDateAndAnIdOfItsOwn) {
    const std::string stamp = StampHeader(1720107838, "syslogd@example.jp");
    EXPECT_TRUE(stamp.starts_with("Date: " + FormatLocalTime(1720107838, "%a, %d %b %Y %T %z") +
                                  "\r\nMessage-ID: <1720107838.") &&
                stamp.ends_with(".syslogd@example.jp>\r\n"))
        << stamp;
    EXPECT_NE(StampHeader(1720107838, "syslogd@example.jp"), stamp);
}

TEST(DataSectionTest, DoublesLeadingDotsAndEndsWithDotLine) {
    EXPECT_EQ(DataSection(".a\r\n..b\r\nc.\r\n.\r\n"), "..a\r\n...b\r\nc.\r\n..\r\n\r\n.\r\n");
}

}  // namespace
}  // namespace quellin::syslogd
