#include "profile_file.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace quellin {
namespace {

using testing::PrintTo;
using testing::ReadFile;
using testing::RowName;
using testing::Sjis;
using testing::WriteFile;

struct ReadCase {
    const char* name;
    const char* file;
    const char* section;
    const char* key;
    std::optional<std::string> expected;
};

class ProfileRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ProfileRead, Finds) {
    const ReadCase& c = GetParam();
    EXPECT_EQ(ProfileDocument(c.file).Find(c.section, c.key), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    HandWrittenFiles, ProfileRead,
    ::testing::Values(
        ReadCase{"plain", "[Config]\r\nPORT=80\r\n", "Config", "PORT", "80"},
        ReadCase{"lf_only", "[Config]\nPORT=81\n", "Config", "PORT", "81"},
        ReadCase{"no_final_newline", "[Config]\r\nPORT=82", "Config", "PORT", "82"},
        ReadCase{"case_of_names", "[config]\r\nport=83\r\n", "CONFIG", "Port", "83"},
        ReadCase{"blanks", "  [ Config ]  \r\n  PORT  =  84  \r\n", "Config", "PORT", "84"},
        ReadCase{"tabs", "[Config]\r\n\tPORT\t=\t85\t\r\n", "Config", "PORT", "85"},
        ReadCase{"double_quotes", "[Config]\r\nDIR=\" a b \"\r\n", "Config", "DIR", " a b "},
        ReadCase{"single_quotes", "[Config]\r\nDIR='x'\r\n", "Config", "DIR", "x"},
        ReadCase{"unmatched_quotes", "[Config]\r\nDIR=\"x'\r\n", "Config", "DIR", "\"x'"},
        ReadCase{"lone_quote", "[Config]\r\nDIR=\"\r\n", "Config", "DIR", "\""},
        ReadCase{"empty_value", "[Config]\r\nDIR=\r\n", "Config", "DIR", ""},
        ReadCase{"equals_in_value", "[Config]\r\nA=b=c\r\n", "Config", "A", "b=c"},
        ReadCase{"first_key_wins", "[Config]\r\nA=1\r\nA=2\r\n", "Config", "A", "1"},
        ReadCase{"first_section_wins", "[C]\r\nA=1\r\n[C]\r\nA=2\r\n", "C", "A", "1"},
        ReadCase{"other_section", "[Other]\r\nPORT=80\r\n", "Config", "PORT", std::nullopt},
        ReadCase{"missing_section", "PORT=80\r\n", "Config", "PORT", std::nullopt},
        ReadCase{"missing_key", "[Config]\r\nX=1\r\n", "Config", "PORT", std::nullopt},
        ReadCase{"comment_line", "[Config]\r\n;PORT=1\r\nPORT=2\r\n", "Config", "PORT", "2"},
        ReadCase{"key_after_other_section", "[Config]\r\n[X]\r\nPORT=1\r\n", "Config", "PORT",
                 std::nullopt},
        ReadCase{"empty_file", "", "Config", "PORT", std::nullopt}),
    RowName());

TEST(ProfileNames, TrailByteThatLooksLikeALetterIsComparedExactly) {
    // "ア" is 83 41 and "ツ" is 83 63: folding the trail byte 'A'/'c' would
    // be wrong, as would folding 0x61 in "\x83\x61".
    std::string file = "[" + Sjis("ア") + "]\r\nk=1\r\n";
    EXPECT_EQ(ProfileDocument(file).Find(Sjis("ア"), "K"), "1");
    EXPECT_EQ(ProfileDocument(file).Find("\x83\x61", "K"), std::nullopt);
}

struct IntCase {
    const char* text;
    int expected;
};

void PrintTo(const IntCase& row, std::ostream* os) {
    *os << '"' << row.text << '"';
}

class ProfileInt : public ::testing::TestWithParam<IntCase> {};

TEST_P(ProfileInt, Parses) {
    EXPECT_EQ(ParseProfileInt(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, ProfileInt,
                         ::testing::Values(IntCase{"80", 80}, IntCase{"-5", -5}, IntCase{"+7", 7},
                                           IntCase{"12abc", 12}, IntCase{"abc", 0}, IntCase{"", 0},
                                           IntCase{" 42 ", 42}, IntCase{"-", 0},
                                           IntCase{"99999999999", 2147483647},
                                           IntCase{"-99999999999", -2147483647 - 1}));

class ProfileFileTest : public testing::TempDirTest {
protected:
    std::filesystem::path ini() const { return dir / "TEST.INI"; }
};

TEST_F(ProfileFileTest, DefaultOnlyWhenKeyIsAbsent) {
    ProfileFile f(ini());
    EXPECT_EQ(f.GetInt("Config", "PORT", 80), 80);  // no file
    EXPECT_EQ(f.GetString("Config", "DIR", "def"), "def");
    WriteFile(ini(), "[Config]\r\nPORT=\r\nDIR=\r\n");
    EXPECT_EQ(f.GetInt("Config", "PORT", 80), 0);
    EXPECT_EQ(f.GetString("Config", "DIR", "def"), "");
}

TEST_F(ProfileFileTest, StringIsCutToTheBufferWithoutSplittingACharacter) {
    WriteFile(ini(), "[C]\r\nK=ab" + Sjis("装置") + "\r\n");
    ProfileFile f(ini());
    EXPECT_EQ(f.GetString("C", "K", "", 4), "ab");  // 3 bytes fit, "装" needs 2
    EXPECT_EQ(f.GetString("C", "K", "", 5), "ab" + Sjis("装"));
    EXPECT_EQ(f.GetString("C", "K", "", 1), "");
}

TEST_F(ProfileFileTest, WriteCreatesTheFile) {
    ProfileFile f(ini());
    ASSERT_TRUE(f.WriteString("Config", "PORT", "80"));
    EXPECT_EQ(ReadFile(ini()), "[Config]\r\nPORT=80\r\n");
}

TEST_F(ProfileFileTest, WriteReplacesTheLineInPlaceAndKeepsEverythingElse) {
    const std::string before =
        "; " + Sjis("設定") + "\r\n[Config]\r\n  port = 1 \r\nX=y\r\n\r\n[Other]\nA=b\n";
    WriteFile(ini(), before);
    ASSERT_TRUE(ProfileFile(ini()).WriteString("Config", "PORT", "8080"));
    EXPECT_EQ(ReadFile(ini()),
              "; " + Sjis("設定") + "\r\n[Config]\r\nPORT=8080\r\nX=y\r\n\r\n[Other]\nA=b\n");
}

TEST_F(ProfileFileTest, WriteAddsTheKeyAfterTheLastLineOfItsSection) {
    WriteFile(ini(), "[Config]\r\nA=1\r\n\r\n[Other]\r\nB=2\r\n");
    ASSERT_TRUE(ProfileFile(ini()).WriteString("config", "C", "3"));
    EXPECT_EQ(ReadFile(ini()), "[Config]\r\nA=1\r\nC=3\r\n\r\n[Other]\r\nB=2\r\n");
}

TEST_F(ProfileFileTest, WriteAddsTheSectionAtTheEnd) {
    WriteFile(ini(), "[Other]\nB=2");  // no final line end
    ASSERT_TRUE(ProfileFile(ini()).WriteString("Config", "C", "3"));
    EXPECT_EQ(ReadFile(ini()), "[Other]\nB=2\r\n[Config]\r\nC=3\r\n");
    EXPECT_EQ(ProfileFile(ini()).GetString("Config", "C", ""), "3");
    EXPECT_EQ(ProfileFile(ini()).GetString("Other", "B", ""), "2");
}

TEST_F(ProfileFileTest, WriteToAnEmptySectionAtTheEnd) {
    WriteFile(ini(), "[Config]");
    ASSERT_TRUE(ProfileFile(ini()).WriteString("Config", "A", "1"));
    EXPECT_EQ(ReadFile(ini()), "[Config]\r\nA=1\r\n");
}

TEST_F(ProfileFileTest, FailedWriteLeavesTheFileAlone) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    WriteFile(ini(), "[Config]\r\nA=1\r\n");
    ::chmod(dir.path().c_str(), 0500);
    EXPECT_FALSE(ProfileFile(ini()).WriteString("Config", "A", "2"));
    ::chmod(dir.path().c_str(), 0700);
    EXPECT_EQ(ReadFile(ini()), "[Config]\r\nA=1\r\n");
}

TEST_F(ProfileFileTest, WriteIntoMissingFolderFails) {
    EXPECT_FALSE(ProfileFile(dir / "no" / "X.INI").WriteString("C", "A", "1"));
}

TEST(ProfileKeys, ListsFirstOccurrencesInOrder) {
    ProfileDocument doc("[S]\r\nb=1\r\na=2\r\nB=3\r\nnoequals\r\n[T]\r\nc=4\r\n");
    EXPECT_EQ(doc.Keys("s"), (std::vector<std::string>{"b", "a"}));
}

TEST(ProfileBulk, SetManyWritesWhatRepeatedSetsWould) {
    const std::vector<std::pair<std::string, std::string>> entries = {
        {"A", "1"}, {"new", "2"}, {"b", "3"}, {"NEW", "4"}, {"Other", "5"}};
    for (const char* file : {"", "[S]", "[S]\r\nb=0\r\n\r\n[T]\nA=9\n", "x\n[s]\na=0\n;c\n\n",
                             "[T]\r\nA=1\r\n[S]\r\nB = \"q\"\r\nb=dup"}) {
        ProfileDocument one(file);
        for (const auto& [key, value] : entries)
            one.Set("S", key, value);
        ProfileDocument bulk(file);
        bulk.SetMany("S", entries);
        EXPECT_EQ(bulk.Bytes(), one.Bytes()) << file;
    }
}

TEST(ProfileBulk, ValuesAgreeWithFind) {
    ProfileDocument doc("[S]\r\n a = \"1\" \r\nB=2\r\nA=3\r\nnoequals\r\n[T]\r\nc=4\r\n");
    const auto values = doc.Values("s");
    ASSERT_EQ(values.size(), 2u);
    for (const auto& [key, value] : values)
        EXPECT_EQ(doc.Find("S", key), value) << key;
    EXPECT_EQ(values[0], (std::pair<std::string, std::string>{"a", "1"}));
    EXPECT_EQ(FoldProfileName("ab" + Sjis("ア")), "AB" + Sjis("ア"));
}

}  // namespace
}  // namespace quellin
