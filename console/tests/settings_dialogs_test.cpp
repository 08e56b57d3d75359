#include "device_settings.h"
#include "environment_settings.h"

#include "clock.h"
#include "codec.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace quellin::console {
namespace {

using quellin::testing::PrintTo;
using testing::ReadFile;
using testing::Sjis;
using testing::WriteFile;

class DeviceSettingsTest : public testing::TempDirTest {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        SetClockForTesting(&clock_);
        WriteFile(dir / "base.db",
                  "r1,10.0.0.1,pw,id1,ap1,/c1,100,0,0,0,0,0\r\n"
                  "r2,10.0.0.2,pw,id2,ap2,/c2,0,0,0,0,0,0\r\n");
        device_.row = 2;
        device_.name = "r2";
        device_.address = "10.0.0.2";
        device_.password = "pw";
        device_.accessId = "id2";
        device_.accessPassword = "ap2";
        device_.configFile = "/c2";
        device_.lastConfigTransfer = 1234;
        device_.logInterval = 60;
    }
    void TearDown() override { SetClockForTesting(nullptr); }

    DeviceSettingsLogic Logic() {
        return DeviceSettingsLogic(device_, book_, reporter_, questions_, [this] { ++saves_; });
    }
    DeviceFields Typed() const {
        return {device_.name,     device_.address,        device_.password,
                device_.accessId, device_.accessPassword, device_.configFile};
    }
    std::string LastBox() const { return boxes_.shown.empty() ? "" : boxes_.shown.back().text; }
    std::string ToolLog() const { return ReadFile(dir / "log" / "Quellin_tool.log"); }

    FakeClock clock_{1491039000};
    FakeMessageBoxes boxes_;
    Reporter reporter_{dir.folder(), boxes_};
    MessageBoxQuestions questions_{reporter_};
    DeviceBook book_{(dir / "base.db").string(), 2};
    CBase device_;
    int saves_ = 0;
};

struct FieldCase {
    const char* name;
    void (*edit)(DeviceFields&);
    const char* message;  // empty = accepted
};

class DeviceSettingsChecks : public DeviceSettingsTest,
                             public ::testing::WithParamInterface<FieldCase> {};

TEST_P(DeviceSettingsChecks, RefuseOrAccept) {
    const FieldCase& c = GetParam();
    DeviceFields typed = Typed();
    c.edit(typed);
    auto logic = Logic();
    const CBase before = device_;
    bool accepted = logic.Apply(typed);
    if (std::string(c.message).empty()) {
        EXPECT_TRUE(accepted) << LastBox();
        EXPECT_TRUE(boxes_.shown.empty());
    } else {
        EXPECT_FALSE(accepted);
        EXPECT_EQ(LastBox(), Sjis(c.message));
        EXPECT_EQ(boxes_.shown.back().caption, "Quellin Server");
        EXPECT_EQ(boxes_.shown.back().icon, MsgIcon::Exclamation);
        EXPECT_EQ(device_, before) << "a refused pass stores nothing";
        EXPECT_EQ(saves_, 0);
    }
}

constexpr char kNameTooLong[] = "装置名は全角32桁(半角64桁)以下にしてください。";
constexpr char kForbidden[] = "装置名に次の文字は使用できません。\n, \\ / : * ? \" < > |";

INSTANTIATE_TEST_SUITE_P(
    Fields, DeviceSettingsChecks,
    ::testing::Values(
        FieldCase{"name_64_half_width", [](auto& f) { f.name = std::string(64, 'a'); }, ""},
        FieldCase{"name_65_half_width", [](auto& f) { f.name = std::string(65, 'a'); },
                  kNameTooLong},
        FieldCase{"name_32_full_width",
                  [](auto& f) {
                      f.name.clear();
                      for (int i = 0; i < 32; ++i)
                          f.name += Sjis("装");
                  },
                  ""},
        FieldCase{"name_33_full_width",
                  [](auto& f) {
                      f.name.clear();
                      for (int i = 0; i < 33; ++i)
                          f.name += Sjis("装");
                  },
                  kNameTooLong},
        FieldCase{"name_comma", [](auto& f) { f.name = "a,b"; }, kForbidden},
        FieldCase{"name_backslash", [](auto& f) { f.name = "a\\b"; }, kForbidden},
        FieldCase{"name_slash", [](auto& f) { f.name = "a/b"; }, kForbidden},
        FieldCase{"name_colon", [](auto& f) { f.name = "a:b"; }, kForbidden},
        FieldCase{"name_asterisk", [](auto& f) { f.name = "a*b"; }, kForbidden},
        FieldCase{"name_question", [](auto& f) { f.name = "a?b"; }, kForbidden},
        FieldCase{"name_quote", [](auto& f) { f.name = "a\"b"; }, kForbidden},
        FieldCase{"name_less", [](auto& f) { f.name = "a<b"; }, kForbidden},
        FieldCase{"name_greater", [](auto& f) { f.name = "a>b"; }, kForbidden},
        FieldCase{"name_bar", [](auto& f) { f.name = "a|b"; }, kForbidden},
        FieldCase{"name_hyphen", [](auto& f) { f.name = "branch-01"; }, ""},
        // The second byte of "表" is a backslash; the character itself is fine.
        FieldCase{"name_trail_byte_backslash", [](auto& f) { f.name = Sjis("表示"); }, ""},
        FieldCase{"password_65", [](auto& f) { f.password = std::string(65, 'p'); },
                  "装置のパスワードは64桁以下にしてください。"},
        FieldCase{"password_comma", [](auto& f) { f.password = "p,w"; },
                  "装置のパスワードにカンマは使用できません。"},
        FieldCase{"access_id_65", [](auto& f) { f.accessId = std::string(65, 'i'); },
                  "アクセスIDは64桁以下にしてください。"},
        FieldCase{"access_id_comma", [](auto& f) { f.accessId = "i,d"; },
                  "アクセスIDにカンマは使用できません。"},
        FieldCase{"access_id_of_another_row", [](auto& f) { f.accessId = "id1"; },
                  "入力されたアクセスIDはすでに使用されています。"},
        FieldCase{"access_password_65", [](auto& f) { f.accessPassword = std::string(65, 'x'); },
                  "アクセスパスワードは64桁以下にしてください。"},
        FieldCase{"access_password_comma", [](auto& f) { f.accessPassword = "a,p"; },
                  "アクセスパスワードにカンマは使用できません。"},
        FieldCase{"config_comma", [](auto& f) { f.configFile = "/a,b"; },
                  "構成定義ファイル名にカンマは使用できません。"},
        // The first failing check wins.
        FieldCase{"name_before_password",
                  [](auto& f) {
                      f.name = "a/b";
                      f.password = "p,w";
                  },
                  kForbidden}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(DeviceSettingsTest, ClearedIpControlStoresAnEmptyAddress) {
    DeviceFields typed = Typed();
    typed.address = IpControlText("");
    ASSERT_TRUE(Logic().Apply(typed));
    EXPECT_EQ(device_.address, "");
    EXPECT_EQ(saves_, 1);
}

TEST_F(DeviceSettingsTest, OkWithoutChangeNeitherSavesNorLogs) {
    DeviceFields typed = Typed();
    EXPECT_EQ(Logic().Ok(typed), DeviceSettingsLogic::OkResult::Close);
    EXPECT_EQ(saves_, 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "log" / "Quellin_tool.log"));
}

TEST_F(DeviceSettingsTest, ChangeIsStoredSavedAndLogged) {
    DeviceFields typed = Typed();
    typed.name = Sjis("本社");
    typed.accessPassword = "new";
    EXPECT_EQ(Logic().Ok(typed), DeviceSettingsLogic::OkResult::Close);
    EXPECT_EQ(device_.name, Sjis("本社"));
    EXPECT_EQ(device_.accessId, "id2") << "the access ID survives";
    EXPECT_EQ(device_.accessPassword, "new");
    EXPECT_EQ(saves_, 1);
    EXPECT_EQ(ToolLog(), "2017/04/01 09:30:00,Quellin_tool," +
                             Sjis("装置情報を設定しました。装置名：本社") + "\r\n");
}

TEST_F(DeviceSettingsTest, RegistrationInAnEmptyRowLogsTheName) {
    device_ = CBase{};
    device_.row = 3;
    DeviceFields typed{"branch03", IpControlText("10.0.0.3"), "pw", "id3", "ap3", "/c3"};
    EXPECT_EQ(Logic().Ok(typed), DeviceSettingsLogic::OkResult::Close);
    EXPECT_EQ(device_.address, "10.0.0.3");
    EXPECT_EQ(device_.accessId, "id3");
    EXPECT_NE(ToolLog().find(Sjis("装置情報を設定しました。装置名：") + "branch03"),
              std::string::npos);
}

TEST_F(DeviceSettingsTest, ConfirmedDeletionEmptiesTheTextsOnly) {
    DeviceFields typed = Typed();
    typed.name.clear();
    boxes_.answers.push_back(MsgAnswer::Ok);
    EXPECT_EQ(Logic().Ok(typed), DeviceSettingsLogic::OkResult::Close);
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, Sjis("装置名が未入力です。装置設定を削除します。"));
    EXPECT_EQ(boxes_.shown[0].buttons, MsgButtons::OkCancel);
    EXPECT_EQ(boxes_.shown[0].defaultButton, MsgAnswer::Cancel);
    EXPECT_EQ(boxes_.shown[0].icon, MsgIcon::Question);
    EXPECT_EQ(typed, DeviceFields{});
    EXPECT_EQ(device_.name, "");
    EXPECT_EQ(device_.address, "");
    EXPECT_EQ(device_.accessId, "");
    EXPECT_EQ(device_.configFile, "");
    EXPECT_EQ(device_.lastConfigTransfer, 1234) << "time stamps stay";
    EXPECT_EQ(device_.logInterval, 60);
    EXPECT_EQ(saves_, 1);
    EXPECT_NE(ToolLog().find(Sjis("装置の登録を削除しました。装置名：")), std::string::npos);
}

TEST_F(DeviceSettingsTest, CancelledDeletionKeepsTheDeviceWhole) {
    DeviceFields typed = Typed();
    typed.name.clear();
    typed.password = "changed";
    const CBase before = device_;
    boxes_.answers.push_back(MsgAnswer::Cancel);
    EXPECT_EQ(Logic().Ok(typed), DeviceSettingsLogic::OkResult::StayOpen);
    EXPECT_EQ(device_, before);
    EXPECT_EQ(saves_, 0);
}

TEST(IpControl, MakesFourNumbers) {
    EXPECT_EQ(IpControlText(""), "0.0.0.0");
    EXPECT_EQ(IpControlText("10.0"), "10.0.0.0");
    EXPECT_EQ(IpControlText("192.168.1.20"), "192.168.1.20");
    EXPECT_EQ(IpControlText("1..3.4"), "1.0.3.4");
    EXPECT_EQ(IpControlText("999.1.1.1"), "255.1.1.1");
}

class EnvironmentSettingsTest : public testing::TempDirTest {
protected:
    void SetUp() override { settings_ = ReadConsoleSettings(dir.folder()); }

    FakeMessageBoxes boxes_;
    Reporter reporter_{dir.folder(), boxes_};
    ConsoleSettings settings_;
};

TEST_F(EnvironmentSettingsTest, NoChangeWritesNothing) {
    EnvironmentSettingsLogic logic(settings_, dir.folder(), reporter_);
    EXPECT_TRUE(logic.Ok(settings_.firmDir, settings_.logDir));
    EXPECT_FALSE(std::filesystem::exists(dir / "NEXORA.INI"));
    EXPECT_FALSE(std::filesystem::exists(dir / "log"));
}

TEST_F(EnvironmentSettingsTest, NewLogFolderWritesAllFiveKeysAndLogs) {
    EnvironmentSettingsLogic logic(settings_, dir.folder(), reporter_);
    const std::string newLog = "/srv/" + Sjis("ログ");
    EXPECT_TRUE(logic.Ok(settings_.firmDir, newLog));
    EXPECT_EQ(settings_.logDir, newLog) << "the running settings change at once";
    ConsoleSettings reread = ReadConsoleSettings(dir.folder());
    EXPECT_EQ(reread, settings_);
    std::string ini = ReadFile(dir / "NEXORA.INI");
    for (const char* key : {"FIRMDIR=", "LOGDIR=", "PORT=80", "SVRINSDIR=", "HTTPDCONF="})
        EXPECT_NE(ini.find(key), std::string::npos) << key;
    EXPECT_NE(ReadFile(dir / "log" / "Quellin_tool.log").find(Sjis("環境情報を設定しました。")),
              std::string::npos);
}

TEST_F(EnvironmentSettingsTest, EmptyFoldersAreRefused) {
    EnvironmentSettingsLogic logic(settings_, dir.folder(), reporter_);
    EXPECT_FALSE(logic.Ok("", settings_.logDir));
    EXPECT_FALSE(logic.Ok(settings_.firmDir, ""));
    ASSERT_EQ(boxes_.shown.size(), 2u);
    EXPECT_EQ(boxes_.shown[0].text, Sjis("ソフトウェア格納フォルダ名が指定されていません。"));
    EXPECT_EQ(boxes_.shown[1].text, Sjis("ログ格納フォルダ名が指定されていません。"));
    EXPECT_FALSE(std::filesystem::exists(dir / "NEXORA.INI"));
}

}  // namespace
}  // namespace quellin::console
