// The settings window's controls without the widgets: their checks on OK,
// what reaches the settings, which controls accept input, and the search
// input dialog's rules.
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

SettingsForm ValidForm() {
    SettingsForm form = FormFromSettings(SyslogdSettings());
    form.dispCount = "500";
    return form;
}

struct CheckRow {
    std::string name;
    std::function<void(SettingsForm&)> change;
    std::string message;  // UTF-8; empty when the form passes
};

class SettingsCheckTest : public ::testing::TestWithParam<CheckRow> {};

TEST_P(SettingsCheckTest, FirstFailingCheckWarns) {
    SettingsForm form = ValidForm();
    GetParam().change(form);
    auto warning = CheckSettingsForm(form);
    if (GetParam().message.empty())
        EXPECT_FALSE(warning);
    else
        EXPECT_EQ(warning.value_or("<none>"), Sjis(GetParam().message));
}

void Mail(SettingsForm& f) {
    f.mailSend = true;
    f.smtpServer = "mail";
    f.smtpPort = "25";
    f.clientMailAddress = "a@b";
}

void Login(SettingsForm& f) {
    Mail(f);
    f.smtpSecurity = kSmtpStartTls;
    f.smtpAuth = true;
    f.smtpUser = "ops";
    f.smtpPassword = "pw";
}

INSTANTIATE_TEST_SUITE_P(
    Checks, SettingsCheckTest,
    ::testing::Values(
        CheckRow{"valid", [](SettingsForm&) {}, ""},
        CheckRow{"count_zero", [](SettingsForm& f) { f.dispCount = "0"; },
                 "リスト表示件数の設定が不正です。"},
        CheckRow{"count_one", [](SettingsForm& f) { f.dispCount = "1"; }, ""},
        CheckRow{"count_text", [](SettingsForm& f) { f.dispCount = "abc"; },
                 "リスト表示件数の設定が不正です。"},
        CheckRow{"count_empty", [](SettingsForm& f) { f.dispCount = ""; },
                 "リスト表示件数の設定が不正です。"},
        CheckRow{"count_negative", [](SettingsForm& f) { f.dispCount = "-5"; },
                 "リスト表示件数の設定が不正です。"},
        CheckRow{"count_checked_before_mail",
                 [](SettingsForm& f) {
                     f.dispCount = "x";
                     f.mailSend = true;
                 },
                 "リスト表示件数の設定が不正です。"},
        CheckRow{"mail_valid", Mail, ""},
        CheckRow{"mail_off_ignores_fields", [](SettingsForm& f) { f.smtpPort = "x"; }, ""},
        CheckRow{"mail_no_server",
                 [](SettingsForm& f) {
                     Mail(f);
                     f.smtpServer = "";
                 },
                 "SMTPサーバの設定が不正です。"},
        CheckRow{"mail_port_text",
                 [](SettingsForm& f) {
                     Mail(f);
                     f.smtpPort = "2x";
                 },
                 "SMTPポート番号の設定が不正です。"},
        CheckRow{"mail_port_65535",
                 [](SettingsForm& f) {
                     Mail(f);
                     f.smtpPort = "65535";
                 },
                 ""},
        CheckRow{"mail_port_65536",
                 [](SettingsForm& f) {
                     Mail(f);
                     f.smtpPort = "65536";
                 },
                 "SMTPポート番号の設定が不正です。"},
        CheckRow{"mail_no_address",
                 [](SettingsForm& f) {
                     Mail(f);
                     f.clientMailAddress = "";
                 },
                 "送信元メールアドレスの設定が不正です。"},
        CheckRow{"wav_empty", [](SettingsForm& f) { f.soundOption = 3; },
                 "wavファイルの設定が不正です。"},
        CheckRow{"wav_not_needed_for_beep", [](SettingsForm& f) { f.soundOption = 2; }, ""},
        CheckRow{"log_path_empty",
                 [](SettingsForm& f) {
                     f.logWrite = true;
                     f.logPath = "";
                 },
                 "受信ログの保存先の設定が不正です。"},
        CheckRow{"filter_without_condition",
                 [](SettingsForm& f) { f.filterMode = FilterMode::HideMatching; },
                 "Display Filter 条件指定を選択して下さい。"},
        CheckRow{"filter_level_none",
                 [](SettingsForm& f) {
                     f.filterMode = FilterMode::ShowMatching;
                     f.levelChecked = true;
                 },
                 "Levelの指定がありません。"},
        CheckRow{"filter_facility_none",
                 [](SettingsForm& f) {
                     f.filterMode = FilterMode::ShowMatching;
                     f.levelChecked = true;
                     f.levelBits = 1;
                     f.facilityChecked = true;
                 },
                 "Facilityの指定がありません。"},
        CheckRow{"no_filter_ignores_conditions", [](SettingsForm& f) { f.levelChecked = true; },
                 ""}),
    RowName());

// The checks of the mail transport, the alert hold-off, log rotation and
// forwarding come after the original nine.
INSTANTIATE_TEST_SUITE_P(
    Transport, SettingsCheckTest,
    ::testing::Values(CheckRow{"hold_seconds", [](SettingsForm& f) { f.alertHold = "300"; }, ""},
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
                               ""},
                      CheckRow{"listen_address", [](SettingsForm& f) { f.udpAddress = "::1x"; },
                               "受信アドレスの設定が不正です。"},
                      CheckRow{"listen_port",
                               [](SettingsForm& f) {
                                   f.tcp = true;
                                   f.tcpPort = "65536";
                               },
                               "受信ポート番号の設定が不正です。"},
                      CheckRow{"tls_needs_key",
                               [](SettingsForm& f) {
                                   f.tls = true;
                                   f.tlsCertFile = "cert.pem";
                               },
                               "TLS で受信するには証明書ファイルと秘密鍵ファイルが必要です。"}),
    RowName());

TEST(SettingsFormTest, CaFileThatExistsPasses) {
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

TEST(ApplySettingsFormTest, AppliesWhatTheTabsSay) {
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
    form.udpAddress = " :: ";
    form.tls = true;
    form.tlsCertFile = "c.pem";
    form.tlsKeyFile = "k.pem";
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
    EXPECT_EQ(settings.udpAddress, "::");
    EXPECT_TRUE(settings.tlsFlag && !settings.tcpFlag);
    EXPECT_EQ(settings.tlsKeyFile, "k.pem");

    // The form shows them again as they are stored.
    SettingsForm again = FormFromSettings(settings);
    EXPECT_EQ(again.smtpPassword, " with blanks ");
    EXPECT_EQ(again.rotateSizeMB, "50");
    EXPECT_EQ(again.forwardPort, "6514");
    EXPECT_EQ(again.forwardProtocol, kForwardTcp);
}

TEST(ApplySettingsFormTest, SwitchedOffKeepsWhatItDidNotShowAndDropsAnUnusedPassword) {
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

TEST(SettingsFormTest, EnablingFollowsTheSwitches) {
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

TEST(ApplySettingsFormTest, AppliesTrimmedValuesAndRebuildsTheTable) {
    SyslogdSettings settings;
    SettingsForm form = FormFromSettings(settings);
    form.dispCount = "100";
    SearchEntry entry;
    entry.keyStr = "down";
    form.rows = {entry};
    Mail(form);
    form.smtpServer = "  mail.example  ";
    form.smtpPort = "587";
    form.soundOption = 3;
    form.wavPath = " a.wav ";
    form.logWrite = true;
    form.logPath = " /var/log/x ";
    form.mainBackColor = 0x0000FF;
    ApplySettingsForm(form, settings);
    EXPECT_EQ(settings.maxLineCount, 100);
    ASSERT_EQ(settings.searchTable.size(), 20u);
    EXPECT_EQ(settings.searchTable[0].keyStr, "down");
    EXPECT_EQ(settings.searchTable[1], SearchEntry());
    EXPECT_TRUE(settings.mailSendFlag);
    EXPECT_EQ(settings.smtpServer, "mail.example");
    EXPECT_EQ(settings.smtpPort, 587);
    EXPECT_EQ(settings.soundType, 3);
    EXPECT_EQ(settings.wavPath, "a.wav");
    EXPECT_EQ(settings.logPath, "/var/log/x");
    EXPECT_EQ(settings.mainBackColor, 0x0000FF);
}

TEST(ApplySettingsFormTest, MailOffChangesOnlyTheFlag) {
    SyslogdSettings settings;
    settings.mailSendFlag = true;
    settings.smtpServer = "kept";
    SettingsForm form = FormFromSettings(settings);
    form.mailSend = false;
    form.smtpServer = "other";
    ApplySettingsForm(form, settings);
    EXPECT_FALSE(settings.mailSendFlag);
    EXPECT_EQ(settings.smtpServer, "kept");
}

struct FilterRow {
    std::string name;
    FilterMode mode;
    bool level, facility;
    std::uint8_t dispFilter, filterLevel;
    std::int32_t filterFacility;
};

class FilterValueTest : public ::testing::TestWithParam<FilterRow> {};

TEST_P(FilterValueTest, WritesModeAndConditions) {
    SyslogdSettings settings;
    SettingsForm form = FormFromSettings(settings);
    form.filterMode = GetParam().mode;
    form.levelChecked = GetParam().level;
    form.facilityChecked = GetParam().facility;
    form.levelBits = kAllLevels;
    form.facilityBits = 0x10;
    ApplySettingsForm(form, settings);
    EXPECT_EQ(settings.dispFilter, GetParam().dispFilter);
    EXPECT_EQ(settings.filterLevel, GetParam().filterLevel);
    EXPECT_EQ(settings.filterFacility, GetParam().filterFacility);
    // Reopening shows the same choice.
    SettingsForm again = FormFromSettings(settings);
    EXPECT_EQ(again.filterMode, GetParam().mode);
    EXPECT_EQ(again.levelChecked, GetParam().level);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FilterValueTest,
    ::testing::Values(FilterRow{"none", FilterMode::NoFilter, false, false, 1, 0, 0},
                      FilterRow{"show_level", FilterMode::ShowMatching, true, false, 10, 255, 0},
                      FilterRow{"show_both", FilterMode::ShowMatching, true, true, 26, 255, 0x10},
                      FilterRow{"hide_facility", FilterMode::HideMatching, false, true, 20, 0,
                                0x10},
                      FilterRow{"hide_both", FilterMode::HideMatching, true, true, 28, 255, 0x10}),
    RowName());

TEST(SettingsFormTest, MailFieldsShownOnlyWhenMailIsOn) {
    SyslogdSettings settings;
    settings.smtpServer = "mail";
    settings.clientMailAddress = "a@b";
    EXPECT_EQ(FormFromSettings(settings).smtpServer, "");
    settings.mailSendFlag = true;
    EXPECT_EQ(FormFromSettings(settings).smtpServer, "mail");
    EXPECT_EQ(FormFromSettings(settings).clientMailAddress, "a@b");
}

TEST(SearchInputTest, ChecksInOrder) {
    SearchInputForm form;
    form.mailSend = true;
    EXPECT_EQ(CheckSearchInput(form).value_or(""), Sjis("検索文字列の設定は省略できません。"));
    form.searchStr = "x";
    EXPECT_EQ(CheckSearchInput(form).value_or(""), Sjis("宛先の設定は省略できません。"));
    form.to = "a@b";
    EXPECT_FALSE(CheckSearchInput(form));
    form.mailSend = false;
    form.to = "";
    EXPECT_FALSE(CheckSearchInput(form));
}

TEST(SearchInputTest, StoringRules) {
    SearchInputForm form;
    form.searchStr = "down";
    form.dispStr = "text";
    form.useMessageItself = true;
    form.subject = "s";
    form.to = "a@b";
    form.noPopup = true;
    SearchEntry entry = EntryFromForm(form);
    EXPECT_EQ(entry.dispStr, ShowMessageItselfText());
    EXPECT_FALSE(entry.mailFlag);
    EXPECT_EQ(entry.subjectStr, "");
    EXPECT_EQ(entry.toStr, "");
    EXPECT_FALSE(entry.noPopMail);

    form.useMessageItself = false;
    form.mailSend = true;
    entry = EntryFromForm(form);
    EXPECT_EQ(entry.dispStr, "text");
    EXPECT_EQ(entry.toStr, "a@b");
    EXPECT_TRUE(entry.noPopMail);
    EXPECT_EQ(EntryFromForm(FormFromEntry(entry)), entry);

    form.dispStr = "";
    EXPECT_EQ(EntryFromForm(form).dispStr, ShowMessageItselfText());
}

TEST(ColorPaletteTest, FindsPaletteColoursOnly) {
    EXPECT_EQ(PaletteIndexOf(0xFFFFFF), 0u);
    EXPECT_EQ(PaletteIndexOf(0x0000FF), 17u);
    EXPECT_EQ(PaletteIndexOf(0x400040), 47u);
    EXPECT_FALSE(PaletteIndexOf(kSystemWindowColor));
    EXPECT_FALSE(PaletteIndexOf(0x123456));
}

}  // namespace
}  // namespace quellin::syslogd
