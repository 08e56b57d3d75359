#include "settings.h"

#include "test_support.h"

#include <gtest/gtest.h>

namespace quellin {
namespace {

using testing::ReadFile;
using testing::Sjis;
using testing::WriteFile;

class SettingsTest : public testing::TempDirTest {};

TEST_F(SettingsTest, DefaultsWithoutAFile) {
    const std::string pf = dir.folder();
    ConsoleSettings s = ReadConsoleSettings(pf);
    EXPECT_EQ(s.firmDir, pf + "firmware");
    EXPECT_EQ(s.logDir, pf + "log");
    EXPECT_EQ(s.port, 80);
    EXPECT_EQ(s.loginId, "admin");
    EXPECT_EQ(s.httpdConf, pf + "/httpd/conf/httpd.conf");
    EXPECT_EQ(s.serverDir, dir.path().string());
    EXPECT_EQ(s.maxRows, 300);
}

TEST_F(SettingsTest, NegativeMaxRowsBehavesAsDefault) {
    WriteFile(dir / "NEXORA.INI", "[Config]\r\nMAXROWS=-5\r\n");
    EXPECT_EQ(ReadConsoleSettings(dir.folder()).maxRows, 300);
    WriteFile(dir / "NEXORA.INI", "[Config]\r\nMAXROWS=0\r\n");
    EXPECT_EQ(ReadConsoleSettings(dir.folder()).maxRows, 0);
}

TEST_F(SettingsTest, MaxRowsAboveTheLimitIsTheLimit) {
    struct Row {
        const char* value;
        int rows;
        bool overLimit;
    };
    for (const Row& row : {Row{"100000", 100000, false}, Row{"100001", 100000, true},
                           Row{"5000000", 100000, true}, Row{"99999999999999", 100000, true}}) {
        WriteFile(dir / "NEXORA.INI", std::string("[Config]\r\nMAXROWS=") + row.value + "\r\n");
        bool overLimit = !row.overLimit;
        EXPECT_EQ(ReadConsoleSettings(dir.folder(), &overLimit).maxRows, row.rows) << row.value;
        EXPECT_EQ(overLimit, row.overLimit) << row.value;
    }
    WriteFile(dir / "NEXORA.INI", "[Config]\r\nMAXROWS=-5\r\n");
    bool overLimit = true;
    EXPECT_EQ(ReadConsoleSettings(dir.folder(), &overLimit).maxRows, 300);
    EXPECT_FALSE(overLimit);
}

TEST_F(SettingsTest, WriteStoresTheFiveKeysOnly) {
    ConsoleSettings s = ReadConsoleSettings(dir.folder());
    s.firmDir = "/srv/" + Sjis("ファーム");
    ASSERT_TRUE(WriteConsoleSettings(dir.folder(), s));
    const std::string pf = dir.folder();
    EXPECT_EQ(ReadFile(dir / "NEXORA.INI"),
              "[Config]\r\nFIRMDIR=/srv/" + Sjis("ファーム") + "\r\nLOGDIR=" + pf +
                  "log\r\nPORT=80\r\nSVRINSDIR=" + dir.path().string() + "\r\nHTTPDCONF=" + pf +
                  "/httpd/conf/httpd.conf\r\n");
    EXPECT_EQ(ReadConsoleSettings(dir.folder()), s);
}

TEST_F(SettingsTest, HandEditedKeysAreKept) {
    WriteFile(dir / "NEXORA.INI", "[Config]\r\nLOGINID=operator\r\nMAXROWS=20\r\nPORT=8080\r\n");
    ConsoleSettings s = ReadConsoleSettings(dir.folder());
    EXPECT_EQ(s.loginId, "operator");
    EXPECT_EQ(s.maxRows, 20);
    EXPECT_EQ(s.port, 8080);
    ASSERT_TRUE(WriteConsoleSettings(dir.folder(), s));
    EXPECT_EQ(ReadConsoleSettings(dir.folder()), s);
}

TEST_F(SettingsTest, NetprovReadsTwoKeysWithEmptyDefaults) {
    NetprovSettings none = ReadNetprovSettings((dir / "NEXORA.INI").string());
    EXPECT_EQ(none.loginId, "");
    EXPECT_EQ(none.firmDir, "");
    WriteFile(dir / "NEXORA.INI",
              "[Config]\r\nLOGINID=admin\r\nFIRMDIR=" + std::string(300, 'f') + "\r\n");
    NetprovSettings s = ReadNetprovSettings((dir / "NEXORA.INI").string());
    EXPECT_EQ(s.loginId, "admin");
    EXPECT_EQ(s.firmDir, std::string(255, 'f'));  // a 256-byte buffer
}

TEST_F(SettingsTest, TelnetDeadlineIsAPositiveNumberOfSeconds) {
    struct Row {
        const char* name;
        const char* file;  // NEXORA.INI, or nullptr for none
        int expected;
    };
    const Row rows[] = {
        {"no_file", nullptr, 600},
        {"no_key", "[Config]\r\nLOGINID=admin\r\n", 600},
        {"thirty", "[Config]\r\nTELNETDEADLINE=30\r\n", 30},
        {"a_day", "[Config]\r\nTELNETDEADLINE=86400\r\n", 86400},
        {"zero", "[Config]\r\nTELNETDEADLINE=0\r\n", 600},
        {"negative", "[Config]\r\nTELNETDEADLINE=-5\r\n", 600},
        {"not_a_number", "[Config]\r\nTELNETDEADLINE=long\r\n", 600},
        {"other_section", "[Other]\r\nTELNETDEADLINE=30\r\n", 600},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(dir / "NEXORA.INI");
        if (row.file != nullptr)
            WriteFile(dir / "NEXORA.INI", row.file);
        EXPECT_EQ(ReadConsoleSettings(dir.folder()).telnetDeadline, row.expected);
        EXPECT_EQ(ReadNetprovSettings((dir / "NEXORA.INI").string()).telnetDeadline, row.expected);
    }
    // The environment dialog's write leaves the hand-set key alone.
    WriteFile(dir / "NEXORA.INI", "[Config]\r\nTELNETDEADLINE=30\r\n");
    ASSERT_TRUE(WriteConsoleSettings(dir.folder(), ReadConsoleSettings(dir.folder())));
    EXPECT_EQ(ReadConsoleSettings(dir.folder()).telnetDeadline, 30);
}

}  // namespace
}  // namespace quellin
