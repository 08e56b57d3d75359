#include "settings_form.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <functional>

namespace quellin::syslogd {
namespace {

using quellin::testing::PrintTo;
using quellin::testing::RowName;
using quellin::testing::Sjis;

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
