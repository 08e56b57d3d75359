// The settings window's controls for the mail transport, the alert
// hold-off, log rotation and forwarding, without the widgets: their checks
// on OK (after the original nine), what reaches the settings, and which
// controls accept input.
#include "settings_form.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <functional>

namespace quellin::syslogd {
namespace {

using quellin::testing::PrintTo;
using quellin::testing::RowName;
using quellin::testing::Sjis;
using quellin::testing::TempDir;

struct CheckRow {
    std::string name;
    std::function<void(SettingsForm&)> change;
    std::string message;  // UTF-8; empty when the form passes
};

class SiteCheckTest : public ::testing::TestWithParam<CheckRow> {};

void Mail(SettingsForm& f) {
    f.mailSend = true;
    f.smtpServer = "smtp.example.jp";
    f.smtpPort = "587";
    f.clientMailAddress = "a@b";
}

void Login(SettingsForm& f) {
    Mail(f);
    f.smtpSecurity = kSmtpStartTls;
    f.smtpAuth = true;
    f.smtpUser = "ops";
    f.smtpPassword = "pw";
}

TEST_P(SiteCheckTest, FirstFailingCheckWarns) {
    SettingsForm form = FormFromSettings(SyslogdSettings());
    GetParam().change(form);
    auto warning = CheckSettingsForm(form);
    if (GetParam().message.empty())
        EXPECT_FALSE(warning) << *warning;
    else
        EXPECT_EQ(warning.value_or("<none>"), Sjis(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Checks, SiteCheckTest,
    ::testing::Values(CheckRow{"defaults", [](SettingsForm&) {}, ""},
                      CheckRow{"hold_seconds", [](SettingsForm& f) { f.alertHold = "300"; }, ""},
                      CheckRow{"hold_text", [](SettingsForm& f) { f.alertHold = "5m"; },
                               "通知の抑止時間の設定が不正です。"},
                      CheckRow{"hold_empty", [](SettingsForm& f) { f.alertHold = ""; },
                               "通知の抑止時間の設定が不正です。"},
                      CheckRow{"hold_over_a_day", [](SettingsForm& f) { f.alertHold = "86401"; },
                               "通知の抑止時間の設定が不正です。"},
                      CheckRow{"original_checks_first",
                               [](SettingsForm& f) {
                                   f.alertHold = "x";
                                   f.dispCount = "0";
                               },
                               "リスト表示件数の設定が不正です。"},
                      CheckRow{"login_valid", Login, ""},
                      CheckRow{"login_needs_tls",
                               [](SettingsForm& f) {
                                   Login(f);
                                   f.smtpSecurity = kSmtpPlain;
                               },
                               "SMTP認証を使うときは暗号化を選んで下さい。"},
                      CheckRow{"login_needs_user",
                               [](SettingsForm& f) {
                                   Login(f);
                                   f.smtpUser = "  ";
                               },
                               "SMTPユーザー名の設定が不正です。"},
                      CheckRow{"port_checked_before_login",
                               [](SettingsForm& f) {
                                   Login(f);
                                   f.smtpPort = "";
                                   f.smtpUser = "";
                               },
                               "SMTPポート番号の設定が不正です。"},
                      CheckRow{"ca_file_missing",
                               [](SettingsForm& f) {
                                   Login(f);
                                   f.smtpCAFile = "/nonexistent/ca.pem";
                               },
                               "CA証明書ファイルが見つかりません。"},
                      CheckRow{"ca_file_ignored_without_tls",
                               [](SettingsForm& f) {
                                   Mail(f);
                                   f.smtpCAFile = "/nonexistent/ca.pem";
                               },
                               ""},
                      CheckRow{"mail_off_ignores_transport",
                               [](SettingsForm& f) {
                                   f.smtpAuth = true;
                                   f.smtpCAFile = "/nonexistent";
                               },
                               ""},
                      CheckRow{"rotate_size_zero",
                               [](SettingsForm& f) {
                                   f.logWrite = true;
                                   f.logPath = "/x";
                                   f.rotateType = kRotateBySize;
                                   f.rotateSizeMB = "0";
                               },
                               "ログを切り替えるサイズの設定が不正です。"},
                      CheckRow{"rotate_keep_text",
                               [](SettingsForm& f) {
                                   f.logWrite = true;
                                   f.logPath = "/x";
                                   f.rotateType = kRotateDaily;
                                   f.keepCount = "seven";
                               },
                               "保存する世代数の設定が不正です。"},
                      CheckRow{"rotate_keep_zero",
                               [](SettingsForm& f) {
                                   f.logWrite = true;
                                   f.logPath = "/x";
                                   f.rotateType = kRotateDaily;
                                   f.keepCount = "0";
                               },
                               ""},
                      CheckRow{"rotation_ignored_with_log_off",
                               [](SettingsForm& f) {
                                   f.rotateType = kRotateBySize;
                                   f.rotateSizeMB = "x";
                               },
                               ""},
                      CheckRow{"forward_no_host", [](SettingsForm& f) { f.forward = true; },
                               "転送先ホストの設定が不正です。"},
                      CheckRow{"forward_port_zero",
                               [](SettingsForm& f) {
                                   f.forward = true;
                                   f.forwardHost = "collector";
                                   f.forwardPort = "0";
                               },
                               "転送先ポート番号の設定が不正です。"},
                      CheckRow{"forward_valid",
                               [](SettingsForm& f) {
                                   f.forward = true;
                                   f.forwardHost = "collector";
                               },
                               ""}),
    RowName());

TEST(SiteSettingsForm, CaFileThatExistsPasses) {
    TempDir dir;
    quellin::testing::WriteFile(dir / "ca.pem", "-----BEGIN CERTIFICATE-----\n");
    SettingsForm form = FormFromSettings(SyslogdSettings());
    Login(form);
    form.smtpCAFile = " " + (dir / "ca.pem").string() + " ";
    EXPECT_FALSE(CheckSettingsForm(form));
    SyslogdSettings settings;
    ApplySettingsForm(form, settings);
    EXPECT_EQ(settings.smtpCAFile, (dir / "ca.pem").string());
}

TEST(SiteSettingsForm, AppliesWhatTheTabsSay) {
    SyslogdSettings settings;
    SettingsForm form = FormFromSettings(settings);
    Login(form);
    form.smtpSecurity = kSmtpImplicitTls;
    form.smtpPassword = " with blanks ";
    form.alertHold = "120";
    form.logWrite = true;
    form.logPath = "/var/log/syslogd.txt";
    form.rotateType = kRotateBySize;
    form.rotateSizeMB = "50";
    form.keepCount = "10";
    form.forward = true;
    form.forwardHost = " collector.example.jp ";
    form.forwardPort = "6514";
    form.forwardProtocol = kForwardTcp;
    ASSERT_FALSE(CheckSettingsForm(form));
    ApplySettingsForm(form, settings);
    EXPECT_EQ(settings.smtpSecurity, kSmtpImplicitTls);
    EXPECT_TRUE(settings.smtpAuthFlag);
    EXPECT_EQ(settings.smtpUser, "ops");
    EXPECT_EQ(settings.smtpPassword, " with blanks ");
    EXPECT_EQ(settings.alertHoldSeconds, 120);
    EXPECT_EQ(settings.logRotateType, kRotateBySize);
    EXPECT_EQ(settings.logRotateSizeMB, 50);
    EXPECT_EQ(settings.logKeepCount, 10);
    EXPECT_TRUE(settings.forwardFlag);
    EXPECT_EQ(settings.forwardHost, "collector.example.jp");
    EXPECT_EQ(settings.forwardPort, 6514);
    EXPECT_EQ(settings.forwardProtocol, kForwardTcp);

    // The form shows them again as they are stored.
    SettingsForm again = FormFromSettings(settings);
    EXPECT_EQ(again.smtpPassword, " with blanks ");
    EXPECT_EQ(again.rotateSizeMB, "50");
    EXPECT_EQ(again.forwardPort, "6514");
    EXPECT_EQ(again.forwardProtocol, kForwardTcp);
}

TEST(SiteSettingsForm, SwitchedOffKeepsWhatItDidNotShowAndDropsAnUnusedPassword) {
    SyslogdSettings settings;
    settings.smtpSecurity = kSmtpStartTls;
    settings.smtpAuthFlag = true;
    settings.smtpUser = "ops";
    settings.smtpPassword = "pw";
    settings.forwardHost = "collector";
    settings.logRotateType = kRotateDaily;

    // Mail, log and forwarding off: only the flags change.
    SettingsForm form = FormFromSettings(settings);
    form.smtpSecurity = kSmtpPlain;
    form.forwardHost = "elsewhere";
    form.rotateType = kRotateNone;
    ApplySettingsForm(form, settings);
    EXPECT_EQ(settings.smtpSecurity, kSmtpStartTls);
    EXPECT_EQ(settings.smtpPassword, "pw");
    EXPECT_EQ(settings.forwardHost, "collector");
    EXPECT_EQ(settings.logRotateType, kRotateDaily);

    // Mail on, the login switched off: the password goes.
    form = FormFromSettings(settings);
    Mail(form);
    form.smtpAuth = false;
    ApplySettingsForm(form, settings);
    EXPECT_FALSE(settings.smtpAuthFlag);
    EXPECT_EQ(settings.smtpUser, "ops");
    EXPECT_EQ(settings.smtpPassword, "");
}

TEST(SiteSettingsForm, Enabling) {
    SettingsForm form = FormFromSettings(SyslogdSettings());
    SettingsEnabling e = EnablingOf(form, 20);
    EXPECT_FALSE(e.mailTransport || e.login || e.rotation || e.rotateSize || e.keepCount ||
                 e.forwardFields);
    form.mailSend = true;
    form.logWrite = true;
    form.forward = true;
    e = EnablingOf(form, 20);
    EXPECT_TRUE(e.mailTransport && e.rotation && e.forwardFields);
    EXPECT_FALSE(e.login || e.rotateSize || e.keepCount);
    form.smtpAuth = true;
    form.rotateType = kRotateBySize;
    e = EnablingOf(form, 20);
    EXPECT_TRUE(e.login && e.rotateSize && e.keepCount);
    form.rotateType = kRotateDaily;
    e = EnablingOf(form, 20);
    EXPECT_FALSE(e.rotateSize);
    EXPECT_TRUE(e.keepCount);
}

}  // namespace
}  // namespace quellin::syslogd
