// The keys of the mail transport, the alert hold-off, log rotation and
// forwarding in Syslogd.ini: their defaults keep the original behaviour, a
// file that never used them is written as before, and a file holding a
// password is readable by its owner only.
#include "syslogd_settings.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace quellin::syslogd {
namespace {

using quellin::testing::ReadFile;
using quellin::testing::TempDirTest;
using quellin::testing::WriteFile;

class SiteSettingsTest : public TempDirTest {
protected:
    std::filesystem::path Ini() const { return SettingsFilePath(dir.folder()); }

    unsigned Mode() const {
        struct stat st {};
        EXPECT_EQ(::stat(Ini().c_str(), &st), 0);
        return st.st_mode & 07777;
    }
};

// As do values the window refuses (LogKeepCount=-1 removed the log itself).
TEST_F(SiteSettingsTest, DefaultsKeepTheOriginalBehaviour) {
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

TEST_F(SiteSettingsTest, FileWithoutTheNewKeysIsWrittenAsBefore) {
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

TEST_F(SiteSettingsTest, EveryNewKeyWrittenAndReadBack) {
    SyslogdSettings s;
    s.mailSendFlag = true;
    s.smtpServer = "smtp.example.jp";
    s.smtpPort = 587;
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

// Going back to a default is written too, once the file names the key.
TEST_F(SiteSettingsTest, KeyBackAtItsDefaultIsStillWritten) {
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

TEST_F(SiteSettingsTest, FileWithAPasswordIsOwnerOnly) {
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

TEST_F(SiteSettingsTest, UnconvertibleNewValueFailsStartUp) {
    for (const char* line : {"SMTPSecurity=tls", "AlertHoldSeconds=1m", "LogRotateSizeMB=",
                             "ForwardPort=x", "ForwardFlag=yes", "LogKeepCount=99999999999"}) {
        WriteFile(Ini(), std::string("[SETUP]\r\n") + line + "\r\n");
        SettingsLoad load = LoadSettings(Ini());
        EXPECT_FALSE(load.ok()) << line;
        EXPECT_EQ(load.failedKey, std::string(line).substr(0, std::string(line).find('=')));
    }
}

}  // namespace
}  // namespace quellin::syslogd
