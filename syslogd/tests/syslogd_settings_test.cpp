// Syslogd.ini: every key read, converted and written back, the keys added
// since the original (mail transport, alert hold-off, log rotation,
// forwarding) keeping its behaviour while a file does not use them, and a
// file holding a password readable by its owner only.
#include "syslogd_settings.h"

#include "profile_file.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace quellin::syslogd {
namespace {

using quellin::testing::PrintTo;
using quellin::testing::ReadFile;
using quellin::testing::Sjis;
using quellin::testing::TempDirTest;
using quellin::testing::WriteFile;

class SyslogdSettingsTest : public TempDirTest {
protected:
    std::filesystem::path Ini() const { return SettingsFilePath(dir.folder()); }

    unsigned Mode() const {
        struct stat st {};
        EXPECT_EQ(::stat(Ini().c_str(), &st), 0);
        return st.st_mode & 07777;
    }
};

TEST_F(SyslogdSettingsTest, PathIsProgramFolderPlusFileName) {
    EXPECT_EQ(SettingsFilePath("/opt/q/syslog/"), "/opt/q/syslog/Syslogd.ini");
    EXPECT_EQ(SettingsFilePath("/opt/q/syslog"), "/opt/q/syslog/Syslogd.ini");
}

TEST_F(SyslogdSettingsTest, DefaultsWithoutFile) {
    SettingsLoad load = LoadSettings(Ini());
    ASSERT_TRUE(load.ok());
    const SyslogdSettings& s = load.settings;
    EXPECT_EQ(s.mainBackColor, -2147483643);
    EXPECT_EQ(s.mainForeColor, 0);
    EXPECT_EQ(s.popBackColor, -2147483633);
    EXPECT_EQ(s.popForeColor, 0);
    EXPECT_EQ(s.maxLineCount, 500);
    EXPECT_FALSE(s.logWriteFlag);
    EXPECT_EQ(s.logPath, "/syslogd.txt");
    EXPECT_EQ(s.searchMaxKensu, 20);
    EXPECT_FALSE(s.mailSendFlag);
    EXPECT_EQ(s.smtpServer, "");
    EXPECT_EQ(s.smtpPort, 25);
    EXPECT_EQ(s.clientMailAddress, "");
    EXPECT_EQ(s.soundType, 2);
    EXPECT_EQ(s.wavPath, "");
    EXPECT_EQ(s.dispFilter, 1);
    EXPECT_EQ(s.filterLevel, 0);
    EXPECT_EQ(s.filterFacility, 0);
    ASSERT_EQ(s.searchTable.size(), 20u);
    EXPECT_EQ(ActiveEntryCount(s.searchTable), 0u);
    EXPECT_EQ(s, SyslogdSettings());
}

SyslogdSettings FullSettings() {
    SyslogdSettings s;
    s.mainBackColor = 0x00C0FFFF;
    s.mainForeColor = -2147483640;
    s.popBackColor = 0x000000FF;
    s.popForeColor = 0x00FF0000;
    s.maxLineCount = 1234;
    s.logWriteFlag = true;
    s.logPath = "/var/log/" + Sjis("受信.txt");
    s.searchMaxKensu = 3;
    s.mailSendFlag = true;
    s.smtpServer = "mail.example.jp";
    s.smtpPort = 587;
    s.clientMailAddress = "syslogd@example.jp";
    s.soundType = 3;
    s.wavPath = "/usr/share/sounds/alert.wav";
    s.dispFilter = 2 + 8 + 16;
    s.filterLevel = 255;
    s.filterFacility = 0x7FFFFF;
    s.searchTable.assign(3, SearchEntry{});
    s.searchTable[0] = {"<13>",
                        ShowMessageItselfText(),
                        true,
                        Sjis("障害通知"),
                        Sjis("監視"),
                        "a@example.jp,b@example.jp",
                        Sjis("対応してください。") + "\r\n" + Sjis("第二行"),
                        true};
    s.searchTable[1] = {Sjis("回線断"), Sjis("回線が切れました"), false, "", "", "", "", false};
    s.smtpSecurity = kSmtpStartTls;
    s.smtpAuthFlag = true;
    s.smtpUser = "alerts@example.jp";
    // Blanks and quotes around a password are the password's own.
    s.smtpPassword = " \"pa ss=word;\" ";
    s.smtpCAFile = "/etc/ssl/private-ca.pem";
    s.alertHoldSeconds = 300;
    s.logRotateType = kRotateBySize;
    s.logRotateSizeMB = 50;
    s.logKeepCount = 30;
    s.forwardFlag = true;
    s.forwardHost = "collector.example.jp";
    s.forwardPort = 6514;
    s.forwardProtocol = kForwardTcp;
    return s;
}

TEST_F(SyslogdSettingsTest, EveryKeyWrittenAndReadBack) {
    SyslogdSettings s = FullSettings();
    ASSERT_TRUE(SaveSettings(Ini(), s));
    SettingsLoad load = LoadSettings(Ini());
    ASSERT_TRUE(load.ok()) << load.failedKey;
    EXPECT_EQ(load.settings, s);

    for (const std::string password : {"'x'", "\"", "plain", "a b"}) {
        s.smtpPassword = password;
        ASSERT_TRUE(SaveSettings(Ini(), s));
        EXPECT_EQ(LoadSettings(Ini()).settings.smtpPassword, password);
    }
}

TEST_F(SyslogdSettingsTest, WrittenFileHasExactLayout) {
    SyslogdSettings s;
    s.searchMaxKensu = 2;
    s.searchTable.assign(2, SearchEntry{});
    s.searchTable[0] = {"err", "", true, "S", "F", "x@y\r\nz@w", "line1\r\nline2", false};
    ASSERT_TRUE(SaveSettings(Ini(), s));
    EXPECT_EQ(ReadFile(Ini()),
              "[SETUP]\r\n"
              "MainBackColor=-2147483643\r\n"
              "MainForeColor=0\r\n"
              "POPBackColor=-2147483633\r\n"
              "POPForeColor=0\r\n"
              "MaxLineCount=500\r\n"
              "LogWriteFlag=0\r\n"
              "LogPath=/syslogd.txt\r\n"
              "SearchMaxKensu=2\r\n"
              "MailSendFlag=0\r\n"
              "SMTPServer=\r\n"
              "SMTPPort=25\r\n"
              "ClientMailAddress=\r\n"
              "SoundType=2\r\n"
              "WavPath=\r\n"
              "DispFilter=1\r\n"
              "FilterLevel=0\r\n"
              "FilterFacility=0\r\n"
              "KeyStr1=err\r\n"
              "DispStr1=\r\n"
              "MailFlag1=1\r\n"
              "SubjectStr1=S\r\n"
              "FromStr1=F\r\n"
              "ToStr1=x@yVBCRLFz@w\r\n"
              "DataStr1=line1VBCRLFline2\r\n"
              "NoPop_Mail1=0\r\n"
              "KeyStr2=\r\n"
              "DispStr2=\r\n"
              "MailFlag2=0\r\n"
              "SubjectStr2=\r\n"
              "FromStr2=\r\n"
              "ToStr2=\r\n"
              "DataStr2=\r\n"
              "NoPop_Mail2=0\r\n");
}

TEST_F(SyslogdSettingsTest, VbcrlfOnlyInRecipientsAndMailText) {
    WriteFile(Ini(),
              "[SETUP]\r\nKeyStr1=aVBCRLFb\r\nToStr1=x@yVBCRLFz@w\r\nDataStr1=VBCRLFtext\r\n"
              "SubjectStr1=sVBCRLF\r\n");
    SettingsLoad load = LoadSettings(Ini());
    ASSERT_TRUE(load.ok());
    const SearchEntry& e = load.settings.searchTable[0];
    EXPECT_EQ(e.keyStr, "aVBCRLFb");
    EXPECT_EQ(e.toStr, "x@y\r\nz@w");
    EXPECT_EQ(e.dataStr, "\r\ntext");
    EXPECT_EQ(e.subjectStr, "sVBCRLF");
}

TEST_F(SyslogdSettingsTest, LineBreaksNeverSplitALine) {
    SyslogdSettings s;
    s.searchTable[0] = {"a\r\nb", "d\ne", false, "", "", "x\ny", "p\rq", false};
    ASSERT_TRUE(SaveSettings(Ini(), s));
    SettingsLoad load = LoadSettings(Ini());
    ASSERT_TRUE(load.ok());
    const SearchEntry& e = load.settings.searchTable[0];
    EXPECT_EQ(e.keyStr, "a  b");
    EXPECT_EQ(e.dispStr, "d e");
    EXPECT_EQ(e.toStr, "x\r\ny");
    EXPECT_EQ(e.dataStr, "p\r\nq");
}

TEST_F(SyslogdSettingsTest, WalkStopsAtFirstEmptyKeyStr) {
    WriteFile(Ini(),
              "[SETUP]\r\nSearchMaxKensu=5\r\nKeyStr1=one\r\nKeyStr2=two\r\nKeyStr4=four\r\n");
    SettingsLoad load = LoadSettings(Ini());
    ASSERT_TRUE(load.ok());
    ASSERT_EQ(load.settings.searchTable.size(), 5u);
    EXPECT_EQ(load.settings.searchTable[3].keyStr, "four");
    EXPECT_EQ(ActiveEntryCount(load.settings.searchTable), 2u);

    // Saving what the settings window keeps (entries 1 and 2) writes
    // entries 3 to 5 empty, so entry 4 is gone.
    SyslogdSettings kept = load.settings;
    kept.searchTable.resize(ActiveEntryCount(kept.searchTable));
    kept.searchTable.resize(5);
    ASSERT_TRUE(SaveSettings(Ini(), kept));
    std::string bytes = ReadFile(Ini());
    EXPECT_NE(bytes.find("KeyStr4=\r\n"), std::string::npos);
    EXPECT_EQ(bytes.find("four"), std::string::npos);
}

TEST_F(SyslogdSettingsTest, SearchMaxKensuLoweredAndRaised) {
    std::string entries;
    for (int i = 1; i <= 6; ++i)
        entries += "KeyStr" + std::to_string(i) + "=k" + std::to_string(i) + "\r\n";

    WriteFile(Ini(), "[SETUP]\r\nSearchMaxKensu=3\r\n" + entries);
    SettingsLoad lowered = LoadSettings(Ini());
    ASSERT_TRUE(lowered.ok());
    ASSERT_EQ(lowered.settings.searchTable.size(), 3u);
    EXPECT_EQ(ActiveEntryCount(lowered.settings.searchTable), 3u);

    WriteFile(Ini(), "[SETUP]\r\nSearchMaxKensu=8\r\n" + entries);
    SettingsLoad raised = LoadSettings(Ini());
    ASSERT_TRUE(raised.ok());
    ASSERT_EQ(raised.settings.searchTable.size(), 8u);
    EXPECT_EQ(ActiveEntryCount(raised.settings.searchTable), 6u);
    EXPECT_EQ(raised.settings.searchTable[6], SearchEntry{});
}

TEST_F(SyslogdSettingsTest, SearchMaxKensuOutOfRangeIsBounded) {
    EXPECT_EQ(SearchTableSize(-5), 0u);
    EXPECT_EQ(SearchTableSize(0), 0u);
    EXPECT_EQ(SearchTableSize(kSearchTableLimit), std::size_t(kSearchTableLimit));
    EXPECT_EQ(SearchTableSize(kSearchTableLimit + 1), std::size_t(kSearchTableLimit));
    EXPECT_EQ(SearchTableSize(2147483647), std::size_t(kSearchTableLimit));
}

// The keys added since the original default to its behaviour, as do values
// the window refuses (LogKeepCount=-1 removed the log itself).
TEST_F(SyslogdSettingsTest, NewKeysDefaultToTheOriginalBehaviour) {
    WriteFile(Ini(), "[SETUP]\r\nLogKeepCount=-1\r\nLogRotateSizeMB=0\r\nForwardFormat=3\r\n");
    const SyslogdSettings s = LoadSettings(Ini()).settings;
    EXPECT_EQ(s.smtpSecurity, kSmtpPlain);
    EXPECT_FALSE(s.smtpAuthFlag);
    EXPECT_EQ(s.smtpUser, "");
    EXPECT_EQ(s.smtpPassword, "");
    EXPECT_EQ(s.smtpCAFile, "");
    EXPECT_EQ(s.alertHoldSeconds, 0);
    EXPECT_EQ(s.logRotateType, kRotateNone);
    EXPECT_EQ(s.logRotateSizeMB, 100);
    EXPECT_EQ(s.logKeepCount, 7);
    EXPECT_FALSE(s.forwardFlag);
    EXPECT_EQ(s.forwardHost, "");
    EXPECT_EQ(s.forwardPort, 514);
    EXPECT_EQ(s.forwardProtocol, kForwardUdp);
}

TEST_F(SyslogdSettingsTest, FileWithoutTheNewKeysIsWrittenAsBefore) {
    const std::string original =
        "[SETUP]\r\nMaxLineCount=20\r\nMailSendFlag=1\r\nSMTPServer=mail.example.jp\r\n";
    WriteFile(Ini(), original);
    SettingsLoad load = LoadSettings(Ini());
    ASSERT_TRUE(load.ok());
    ASSERT_TRUE(SaveSettings(Ini(), load.settings));
    const std::string bytes = ReadFile(Ini());
    for (const char* key :
         {"SMTPSecurity", "SMTPAuthFlag", "SMTPUser", "SMTPPassword", "SMTPCAFile",
          "AlertHoldSeconds", "LogRotateType", "LogRotateSizeMB", "LogKeepCount", "ForwardFlag",
          "ForwardHost", "ForwardPort", "ForwardProtocol", "ForwardFormat"})
        EXPECT_EQ(bytes.find(key), std::string::npos) << key;
    EXPECT_EQ(bytes.find("FilterFacility=0\r\nKeyStr1="), bytes.find("FilterFacility=0\r\n"));
}

// Going back to a default is written too, once the file names the key.
TEST_F(SyslogdSettingsTest, KeyBackAtItsDefaultIsStillWritten) {
    WriteFile(Ini(),
              "[SETUP]\r\nForwardFlag=1\r\nForwardHost=collector\r\nAlertHoldSeconds=60\r\n");
    SettingsLoad load = LoadSettings(Ini());
    ASSERT_TRUE(load.ok());
    EXPECT_TRUE(load.settings.forwardFlag);
    load.settings.forwardFlag = false;
    load.settings.forwardHost.clear();
    load.settings.alertHoldSeconds = 0;
    ASSERT_TRUE(SaveSettings(Ini(), load.settings));
    const SyslogdSettings again = LoadSettings(Ini()).settings;
    EXPECT_FALSE(again.forwardFlag);
    EXPECT_EQ(again.forwardHost, "");
    EXPECT_EQ(again.alertHoldSeconds, 0);
    EXPECT_NE(ReadFile(Ini()).find("ForwardFlag=0\r\n"), std::string::npos);
}

TEST_F(SyslogdSettingsTest, FileWithAPasswordIsOwnerOnly) {
    const mode_t umask = ::umask(022);
    SyslogdSettings s;
    ASSERT_TRUE(SaveSettings(Ini(), s));
    EXPECT_EQ(Mode(), 0644u);

    s.smtpAuthFlag = true;
    s.smtpUser = "u";
    s.smtpPassword = "secret";
    ASSERT_TRUE(SaveSettings(Ini(), s));
    EXPECT_EQ(Mode(), 0600u);
    EXPECT_NE(ReadFile(Ini()).find("SMTPPassword=secret\r\n"), std::string::npos);

    // Taking the password out again leaves the file as private as it was.
    s.smtpPassword.clear();
    ASSERT_TRUE(SaveSettings(Ini(), s));
    EXPECT_EQ(Mode(), 0600u);
    EXPECT_EQ(ReadFile(Ini()).find("secret"), std::string::npos);
    ::umask(umask);
}

struct BadValueCase {
    const char* name;
    std::string line;
};

class SettingsBadValue : public SyslogdSettingsTest,
                         public ::testing::WithParamInterface<BadValueCase> {};

TEST_P(SettingsBadValue, FailsStartUp) {
    WriteFile(Ini(), "[SETUP]\r\n" + GetParam().line + "\r\n");
    SettingsLoad load = LoadSettings(Ini());
    EXPECT_FALSE(load.ok());
    std::string key = GetParam().line.substr(0, GetParam().line.find('='));
    EXPECT_EQ(load.failedKey, key);
}

INSTANTIATE_TEST_SUITE_P(
    Values, SettingsBadValue,
    ::testing::Values(BadValueCase{"NonNumericMaxLineCount", "MaxLineCount=abc"},
                      BadValueCase{"EmptyMaxLineCount", "MaxLineCount="},
                      BadValueCase{"TrailingLetters", "MaxLineCount=500x"},
                      BadValueCase{"SignOnly", "SMTPPort=-"},
                      BadValueCase{"DecimalPoint", "SMTPPort=25.5"},
                      BadValueCase{"ColourOverflow", "MainBackColor=2147483648"},
                      BadValueCase{"ColourUnderflow", "POPForeColor=-2147483649"},
                      BadValueCase{"SoundTypeAbove16Bit", "SoundType=32768"},
                      BadValueCase{"DispFilterAbove8Bit", "DispFilter=256"},
                      BadValueCase{"DispFilterNegative", "DispFilter=-1"},
                      BadValueCase{"FilterLevelText", "FilterLevel=all"},
                      BadValueCase{"FlagText", "LogWriteFlag=on"},
                      BadValueCase{"EntryFlagText", "MailFlag1=yes"},
                      BadValueCase{"HugeNumber", "FilterFacility=99999999999999999999999"},
                      BadValueCase{"SecurityText", "SMTPSecurity=tls"},
                      BadValueCase{"HoldWithUnit", "AlertHoldSeconds=1m"},
                      BadValueCase{"EmptyRotateSize", "LogRotateSizeMB="},
                      BadValueCase{"PortText", "ForwardPort=x"},
                      BadValueCase{"ForwardFlagText", "ForwardFlag=yes"},
                      BadValueCase{"KeepCountOverflow", "LogKeepCount=99999999999"}),
    [](const auto& row) { return std::string(row.param.name); });

struct GoodValueCase {
    const char* name;
    std::string line;
    std::int64_t expected;
};

class SettingsGoodValue : public SyslogdSettingsTest,
                          public ::testing::WithParamInterface<GoodValueCase> {};

std::int64_t Field(const SyslogdSettings& s, const std::string& key) {
    if (key == "MainBackColor")
        return s.mainBackColor;
    if (key == "SoundType")
        return s.soundType;
    if (key == "DispFilter")
        return s.dispFilter;
    if (key == "LogWriteFlag")
        return s.logWriteFlag;
    if (key == "MaxLineCount")
        return s.maxLineCount;
    return -999;
}

TEST_P(SettingsGoodValue, Converts) {
    WriteFile(Ini(), "[SETUP]\r\n" + GetParam().line + "\r\n");
    SettingsLoad load = LoadSettings(Ini());
    ASSERT_TRUE(load.ok()) << load.failedKey;
    std::string key = GetParam().line.substr(0, GetParam().line.find('='));
    EXPECT_EQ(Field(load.settings, key), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, SettingsGoodValue,
    ::testing::Values(GoodValueCase{"ColourMin", "MainBackColor=-2147483648", -2147483648LL},
                      GoodValueCase{"ColourMax", "MainBackColor=2147483647", 2147483647},
                      GoodValueCase{"SoundTypeMax", "SoundType=32767", 32767},
                      GoodValueCase{"DispFilterMax", "DispFilter=255", 255},
                      GoodValueCase{"DispFilterZero", "DispFilter=0", 0},
                      GoodValueCase{"PlusSign", "MaxLineCount=+7", 7},
                      GoodValueCase{"BlanksAround", "MaxLineCount=  42  ", 42},
                      GoodValueCase{"Quoted", "MaxLineCount=\"42\"", 42},
                      GoodValueCase{"FlagTwoIsOff", "LogWriteFlag=2", 0},
                      GoodValueCase{"FlagOneIsOn", "LogWriteFlag=1", 1}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(SyslogdSettingsTest, KeyNamesMatchWithoutCase) {
    WriteFile(Ini(), "[setup]\r\nmaxlinecount=9\r\n");
    SettingsLoad load = LoadSettings(Ini());
    ASSERT_TRUE(load.ok());
    EXPECT_EQ(load.settings.maxLineCount, 9);
}

TEST_F(SyslogdSettingsTest, TextValuesCutTo254Bytes) {
    std::string longPath(300, 'p');
    // A two-byte character straddling byte 254 is dropped whole.
    std::string japanese = std::string(253, 'a') + Sjis("表") + "zz";
    WriteFile(Ini(), "[SETUP]\r\nLogPath=" + longPath + "\r\nWavPath=" + japanese + "\r\n");
    SettingsLoad load = LoadSettings(Ini());
    ASSERT_TRUE(load.ok());
    EXPECT_EQ(load.settings.logPath, std::string(254, 'p'));
    EXPECT_EQ(load.settings.wavPath, std::string(253, 'a'));
}

TEST_F(SyslogdSettingsTest, SaveKeepsOtherSectionsAndLines) {
    WriteFile(Ini(), "; comment\r\n[Other]\r\nx=1\r\n[SETUP]\r\nMaxLineCount=7\r\nExtra=keep\r\n");
    SyslogdSettings s;
    s.maxLineCount = 8;
    ASSERT_TRUE(SaveSettings(Ini(), s));
    std::string bytes = ReadFile(Ini());
    EXPECT_EQ(bytes.rfind(
                  "; comment\r\n[Other]\r\nx=1\r\n[SETUP]\r\nMaxLineCount=8\r\nExtra=keep\r\n", 0),
              0u);
    EXPECT_EQ(LoadSettings(Ini()).settings.maxLineCount, 8);
}

TEST_F(SyslogdSettingsTest, SaveCreatesMissingFile) {
    ASSERT_FALSE(std::filesystem::exists(Ini()));
    ASSERT_TRUE(SaveSettings(Ini(), SyslogdSettings()));
    EXPECT_TRUE(std::filesystem::exists(Ini()));
}

TEST_F(SyslogdSettingsTest, SaveIntoMissingFolderFails) {
    EXPECT_FALSE(SaveSettings(dir / "missing" / "Syslogd.ini", SyslogdSettings()));
}

struct ExistingFileCase {
    const char* name;
    std::string bytes;
};

class RenderLikeProfileWrites : public ::testing::TestWithParam<ExistingFileCase> {};

// Rendering in one pass must give the bytes that writing key by key through
// the profile module gives.
TEST_P(RenderLikeProfileWrites, SameBytes) {
    SyslogdSettings s = FullSettings();
    ProfileDocument reference(GetParam().bytes);
    for (const auto& [key, value] : SettingsEntries(s))
        reference.Set(kSettingsSection, key, value);
    EXPECT_EQ(RenderSettings(GetParam().bytes, s), reference.Bytes());
}

INSTANTIATE_TEST_SUITE_P(
    Files, RenderLikeProfileWrites,
    ::testing::Values(ExistingFileCase{"Empty", ""},
                      ExistingFileCase{"OtherSectionOnly", "[Other]\r\na=1"},
                      ExistingFileCase{"SectionWithBlankTail",
                                       "[setup]\r\nMaxLineCount=3\r\n\r\n\r\n[Next]\r\nb=2\r\n"},
                      ExistingFileCase{"DuplicateKeysAndSections",
                                       "[SETUP]\nkeystr1=a\nKEYSTR1=b\n[SETUP]\nMaxLineCount=9\n"},
                      ExistingFileCase{"LastLineWithoutEnd", "[SETUP]\r\nLogPath=/x"},
                      ExistingFileCase{"CommentsAndJunk",
                                       "; note\r\n[SETUP]\r\njunk line\r\n =novalue\r\n"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(LineBreakMarker, RoundTrip) {
    EXPECT_EQ(EncodeLineBreaks("a\r\nb\nc\rd"), "aVBCRLFbVBCRLFcVBCRLFd");
    EXPECT_EQ(DecodeLineBreaks("aVBCRLFbVBCRLF"), "a\r\nb\r\n");
    EXPECT_EQ(DecodeLineBreaks("vbcrlf"), "vbcrlf");
    EXPECT_EQ(DecodeLineBreaks("VBCRL"), "VBCRL");
}

}  // namespace
}  // namespace quellin::syslogd

namespace quellin::syslogd {
namespace {

// The store follows the log file unless StorePath names a place (relative
// to Syslogd.ini's folder), and the settings window's save keeps its keys.
TEST_F(SyslogdSettingsTest, StoreKeysAreReadBesideTheLogAndKeptBySaving) {
    WriteFile(dir / "Syslogd.ini", "[SETUP]\r\nStoreFlag=1\r\nStoreKeepDays=90\r\n");
    SettingsLoad load = LoadSettings(dir / "Syslogd.ini");
    load.settings.logPath = "/var/log/q/s.txt";
    EXPECT_EQ(StoreSettingsOf(load.settings),
              (syslogstore::StoreSettings{true, "/var/log/q/syslogd-store.db", 90, 0}));
    ASSERT_TRUE(SaveSettings(dir / "Syslogd.ini", load.settings));
    WriteFile(dir / "Syslogd.ini", ReadFile(dir / "Syslogd.ini") + "StorePath=s.db\r\n");
    EXPECT_EQ(StoreSettingsOf(LoadSettings(dir / "Syslogd.ini").settings),
              (syslogstore::StoreSettings{true, dir / "s.db", 90, 0}));
    EXPECT_FALSE(StoreSettingsOf(SyslogdSettings()).enabled);
}

}  // namespace
}  // namespace quellin::syslogd
