// The maintenance operations against simulated routers, as the routers
// receive them.
#include "environment_settings.h"
#include "maintenance.h"
#include "maintenance_runner.h"
#include "multi_maintenance_logic.h"

#include "clock.h"
#include "codec.h"
#include "tarn_image.h"
#include "tarnsim_router.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace quellin::console {
namespace {

using testing::ReadFile;
using testing::Sjis;
using testing::WriteFile;

class RouterMaintenanceTest : public testing::TempDirTest {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        std::filesystem::create_directories(dir / "firmware");
        std::filesystem::create_directories(dir / "log");
        WriteFile(dir / "branch.cfg", "hostname branch\r\ninterface lan\r\n");
        device_.row = 1;
        device_.name = "branch01";
        device_.address = "127.0.0.2";
        device_.password = "pw";
        device_.configFile = (dir / "branch.cfg").string();
    }

    // Starts the router and the console's side for it.
    void Start(std::vector<std::string> settings, const std::string& conversion = {}) {
        WriteFile(dir / "firmifconvert.db", conversion);
        sim_ = std::make_unique<TarnsimRouter>(dir / "sim", "127.0.0.2", settings);
        ASSERT_TRUE(sim_->ready());
        app_ = std::make_unique<ConsoleApp>(dir.folder());
        RouterTimings timings;
        timings.telnet.port = static_cast<std::uint16_t>(sim_->telnetPort());
        timings.telnet.receiveTimeout = std::chrono::milliseconds(300);
        timings.telnet.initialSleep = std::chrono::milliseconds(10);
        timings.ftpPort = sim_->ftpPort();
        timings.ftp.connect = std::chrono::milliseconds(3000);
        router_ = std::make_unique<RouterMaintenance>(*app_, timings);
        router_->setSleep(
            [this](std::chrono::milliseconds wait) { waits_.push_back(wait.count()); });
        runner_ = std::make_unique<MaintenanceRunner>(*router_, reporter_, questions_, waiter_);
    }

    // The operation on the device as the dialogs and the schedule run it.
    Outcome Run(Operation operation, RunMode mode = RunMode::kUnattended,
                const std::string& time = {}) {
        return runner_->Run(device_, operation, mode, time);
    }

    void AddImage(const std::string& file, const std::string& model, const std::string& version) {
        tarn::ImageOptions options;
        options.model = model;
        options.version = version;
        std::string error;
        ASSERT_TRUE(tarn::WriteImage(dir / "firmware" / file, options, error)) << error;
    }

    std::string DeviceLog() const { return ReadFile(dir / "log" / "branch01.log"); }
    // What the router received after the identification dialogue
    // ("show system information", then the session's own "exit").
    std::vector<std::string> CommandsAfterIdentification() const {
        auto commands = sim_->commands();
        EXPECT_GE(commands.size(), 2u);
        EXPECT_EQ(commands.at(0), "show system information");
        return std::vector<std::string>(commands.begin() + 2, commands.end());
    }
    std::vector<std::string> Boxes() const {
        std::vector<std::string> texts;
        for (const auto& box : boxes_.shown)
            texts.push_back(box.text);
        return texts;
    }

    FakeMessageBoxes boxes_;
    Reporter reporter_{dir.folder(), boxes_};
    MessageBoxQuestions questions_{reporter_};
    OperationWaiter waiter_;
    CBase device_;
    std::unique_ptr<TarnsimRouter> sim_;
    std::unique_ptr<ConsoleApp> app_;
    std::unique_ptr<RouterMaintenance> router_;
    std::unique_ptr<MaintenanceRunner> runner_;
    std::vector<long> waits_;
};

TEST_F(RouterMaintenanceTest, ConfigGoesToTheSlotTheRouterDoesNotStartFrom) {
    Start(
        {"--model", "Tarn-90", "--version", "V30.01", "--password", "pw", "--startup", "config1"});
    ASSERT_TRUE(Run(Operation::kApplyConfig).done());
    EXPECT_EQ(sim_->stored("config2"), "hostname branch\ninterface lan\neof\n");
    EXPECT_EQ(ReadFile(dir / "branch.cfg"), "hostname branch\ninterface lan\neof\n");
    EXPECT_NE(sim_->journal().find(
                  "\"slot\":\"config2\",\"bytes\":34,\"mode\":\"passive\",\"type\":\"I\""),
              std::string::npos);
    EXPECT_EQ(CommandsAfterIdentification(), std::vector<std::string>{"reset config2"});
    EXPECT_EQ(waits_, std::vector<long>{15000});
    EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(RouterMaintenanceTest, OtherStartUpConfigurationGivesConfig1) {
    Start({"--password", "pw", "--startup", "config2"});
    ASSERT_TRUE(Run(Operation::kApplyConfig).done());
    EXPECT_EQ(CommandsAfterIdentification(), std::vector<std::string>{"reset config1"});
}

TEST_F(RouterMaintenanceTest, GatedModelTakesTheShortScheduledForm) {
    Start(
        {"--model", "Tarn-60", "--version", "V29.05", "--password", "pw", "--startup", "config1"});
    ASSERT_TRUE(Run(Operation::kApplyConfigAt, RunMode::kAttended, "1712251030").done());
    // The session leaves with its own "exit" while the router stays connected.
    EXPECT_EQ(CommandsAfterIdentification(),
              (std::vector<std::string>{"addact 0 1712251030 reset config2", "enable", "exit"}));
    EXPECT_TRUE(waits_.empty()) << "no wait after a scheduled apply";
}

TEST_F(RouterMaintenanceTest, CurrentModelTakesTheLongScheduledForm) {
    Start(
        {"--model", "Tarn-60", "--version", "V30.00", "--password", "pw", "--startup", "config1"});
    ASSERT_TRUE(Run(Operation::kApplyConfigAt, RunMode::kAttended, "1712251030").done());
    EXPECT_EQ(CommandsAfterIdentification(),
              (std::vector<std::string>{"configure", "addact 0 1712251030 reset config2", "commit",
                                        "exit", "exit"}));
}

TEST_F(RouterMaintenanceTest, NewestImageIsChosenAfterTheQuestion) {
    Start({"--model", "Tarn-90", "--version", "V30.05", "--password", "pw"});
    AddImage("a.img", "Tarn-90", "V30.01");
    AddImage("b.img", "Tarn-90", "V30.10");
    AddImage("c.img", "Tarn-20B", "V40.00");
    WriteFile(dir / "firmware" / "notes.txt", "not an image\n");
    boxes_.answers = {MsgAnswer::Yes};
    EXPECT_TRUE(Run(Operation::kUpdateFirmware, RunMode::kAttended).done());
    ASSERT_EQ(boxes_.shown.size(), 2u);
    EXPECT_EQ(boxes_.shown[0].text,
              Sjis("V30.05版からV30.10版へソフトウェアを更新します。よろしいですか？"));
    EXPECT_EQ(boxes_.shown[0].defaultButton, MsgAnswer::No);
    EXPECT_EQ(boxes_.shown[1].text, Sjis("ソフトウェア更新を終了しました。"));
    EXPECT_EQ(sim_->stored("firmware"), ReadFile(dir / "firmware" / "b.img"));
    EXPECT_EQ(CommandsAfterIdentification(),
              (std::vector<std::string>{"configure", "save config1", "reset"}));
    EXPECT_EQ(waits_, std::vector<long>{25000});
    EXPECT_NE(DeviceLog().find(Sjis("V30.05版からV30.10版へソフトウェアを更新します。")),
              std::string::npos);
}

TEST_F(RouterMaintenanceTest, EqualVersionsKeepTheFirstImage) {
    Start({"--model", "Tarn-90", "--version", "V30.01", "--password", "pw"});
    AddImage("a.img", "Tarn-90", "V31.00");
    tarn::ImageOptions second;
    second.model = "Tarn-90";
    second.version = "V31.00";
    second.ptf = "OTHER";
    std::string error;
    ASSERT_TRUE(tarn::WriteImage(dir / "firmware" / "b.img", second, error));
    EXPECT_TRUE(Run(Operation::kUpdateFirmware).done());
    EXPECT_EQ(sim_->stored("firmware"), ReadFile(dir / "firmware" / "a.img"));
    EXPECT_TRUE(boxes_.shown.empty()) << "unattended never asks";
}

TEST_F(RouterMaintenanceTest, DeviceAlreadyAtTheNewestVersion) {
    Start({"--model", "Tarn-90", "--version", "V30.10", "--password", "pw"});
    AddImage("b.img", "Tarn-90", "V30.10");
    const Outcome outcome = Run(Operation::kUpdateFirmware, RunMode::kAttended);
    EXPECT_EQ(outcome.kind, OutcomeKind::kNothingToDo);
    EXPECT_EQ(outcome.reason, Sjis("既に最新のソフトウェア V30.10 (b.img) で稼働しています"));
    EXPECT_EQ(Boxes(), std::vector<std::string>{Sjis("新しいソフトウェアファイルはありません。")});
    EXPECT_EQ(sim_->stored("firmware"), "");
}

TEST_F(RouterMaintenanceTest, DowngradeIsMarkedAndCanBeDeclined) {
    Start({"--model", "Tarn-90", "--version", "V30.10", "--password", "pw"});
    AddImage("a.img", "Tarn-90", "V30.01");
    boxes_.answers = {MsgAnswer::No};
    EXPECT_EQ(Run(Operation::kUpdateFirmware, RunMode::kAttended).kind, OutcomeKind::kDeclined);
    EXPECT_EQ(
        Boxes(),
        (std::vector<std::string>{
            Sjis(
                "V30.10版からV30.01版へソフトウェアを更新します(ダウングレード)。よろしいですか？"),
            Sjis("ソフトウェア更新を中止しました。")}));
    EXPECT_NE(DeviceLog().find(Sjis("ソフトウェア更新を中止しました。")), std::string::npos);
    EXPECT_EQ(sim_->stored("firmware"), "");
}

TEST_F(RouterMaintenanceTest, AliasMatchesAnImageToItsDeviceModel) {
    Start({"--model", "BRKX30TA", "--version", "V30.00", "--password", "pw"});
    AddImage("x.img", "BRKX30", "V31.05");
    EXPECT_TRUE(Run(Operation::kUpdateFirmwareAt, RunMode::kUnattended, "1712251030").done());
    EXPECT_EQ(CommandsAfterIdentification(),
              (std::vector<std::string>{"configure", "save config1", "addact 0 1712251030 reset",
                                        "commit", "exit", "exit"}));
}

TEST_F(RouterMaintenanceTest, ConversionToAGatedNameStopsAnOldImage) {
    // The device reports "Tarn-60A"; images carry "Tarn-60A" too, but the
    // table says it is a Tarn-60, which may not take images below V30.00.
    Start({"--model", "Tarn-60A", "--version", "V20.00", "--password", "pw"},
          "Tarn60A,Tarn-60\r\n");
    AddImage("old.img", "Tarn-60A", "V29.99");
    const Outcome outcome = Run(Operation::kUpdateFirmware);
    EXPECT_EQ(outcome.kind, OutcomeKind::kNothingToDo);
    EXPECT_EQ(outcome.reason.rfind(Sjis("Tarn-60A (変換表では Tarn-60) は旧機種"), 0), 0u)
        << outcome.reason;
    EXPECT_NE(DeviceLog().find(Sjis("新しいソフトウェアファイルはありません。")),
              std::string::npos);
}

TEST_F(RouterMaintenanceTest, MissingSoftwareFolder) {
    Start({"--password", "pw"});
    std::filesystem::remove_all(dir / "firmware");
    EXPECT_EQ(Run(Operation::kUpdateFirmware).kind, OutcomeKind::kFailed);
    EXPECT_NE(DeviceLog().find(Sjis("ソフトウェア格納フォルダの設定に誤りがあります。")),
              std::string::npos);
}

TEST_F(RouterMaintenanceTest, CollectedLogIsStoredAsReceived) {
    Start({"--model", "Tarn-90", "--version", "V30.00", "--password", "pw", "--tech-support-bytes",
           "5000"});
    FakeClock clock(1514196000);  // 2017/12/25 10:00:00
    SetClockForTesting(&clock);
    const bool ok = Run(Operation::kCollectLog, RunMode::kAttended).done();
    SetClockForTesting(nullptr);
    ASSERT_TRUE(ok);
    const std::string log = ReadFile(dir / "log" / "branch01-20171225100000.log");
    EXPECT_GT(log.size(), 5000u);
    EXPECT_EQ(log.find("\r\r\n"), std::string::npos) << "CR LF lines stay CR LF";
    EXPECT_NE(log.find("\r\n"), std::string::npos);
    EXPECT_EQ(CommandsAfterIdentification(),
              (std::vector<std::string>{"show tech-support", "exit"}));
}

TEST_F(RouterMaintenanceTest, GatedModelCollectsWithTheShortCommand) {
    Start({"--model", "Tarn-10", "--version", "V12.00", "--password", "pw"});
    ASSERT_TRUE(Run(Operation::kCollectLog).done());
    EXPECT_EQ(CommandsAfterIdentification(), (std::vector<std::string>{"tech-support", "exit"}));
}

// Every failure is logged with its message; the outcome carries the reason
// the layer below gave.
TEST_F(RouterMaintenanceTest, EveryFailureReportsItsMessageAndItsReason) {
    struct Case {
        std::vector<std::string> settings;
        Operation operation;
        const char* message;
        std::string reason;  // how the reason begins
    };
    const std::vector<Case> cases = {
        {{"--password", "pw", "--fault", "wrong-password"},
         Operation::kApplyConfig,
         "装置情報の取得に失敗しました。",
         Sjis("ログインが拒否されました")},
        {{"--password", "pw", "--fault", "refuse-ftp-login"},
         Operation::kApplyConfig,
         "構成定義ファイルの転送に失敗しました。",
         "FTP login refused: "},
        {{"--password", "pw"},
         Operation::kCollectLog,
         "ログ採取結果の書込みに失敗しました。",
         (dir / "gone").string() + "/branch01-"},
    };
    for (const Case& c : cases) {
        Start(c.settings);
        // A log folder that does not exist cannot take the collected log.
        app_->settings().logDir = (dir / "gone").string();
        const Outcome outcome = Run(c.operation);
        EXPECT_EQ(outcome.kind, OutcomeKind::kFailed) << c.message;
        EXPECT_EQ(outcome.message, Sjis(c.message));
        EXPECT_EQ(outcome.reason.rfind(c.reason, 0), 0u) << outcome.reason;
        EXPECT_NE(DeviceLog().find(Sjis(c.message)), std::string::npos) << c.message;
        sim_.reset();
        std::filesystem::remove_all(dir / "sim");
    }
    EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(RouterMaintenanceTest, ConversionFailureStopsBeforeTheUpload) {
    Start({"--password", "pw"});
    MaintenanceTarget target = TargetFor(device_);
    target.configFile = (dir / "firmware").string();  // a folder cannot be rewritten
    const Outcome outcome =
        router_->ApplyConfig({target, &questions_, [](const std::string&) {}}, false);
    EXPECT_EQ(outcome.message, Sjis("構成定義ファイルの改行変換に失敗しました。"));
    EXPECT_EQ(sim_->journal().find("\"event\":\"upload\""), std::string::npos);
}

TEST_F(RouterMaintenanceTest, ChecksShowBoxesOrLogLines) {
    Start({"--password", "pw"});
    device_.configFile.clear();
    EXPECT_EQ(Run(Operation::kApplyConfig, RunMode::kAttended).reason,
              "no configuration file is registered for the device");
    device_.address.clear();
    EXPECT_FALSE(Run(Operation::kApplyConfig, RunMode::kAttended).done());
    EXPECT_EQ(Boxes(), (std::vector<std::string>{Sjis("構成定義ファイルが見つかりません。"),
                                                 Sjis("IPアドレスが設定されていません。")}));
    EXPECT_FALSE(std::filesystem::exists(dir / "log" / "branch01.log"));
    EXPECT_FALSE(Run(Operation::kCollectLog).done());
    EXPECT_NE(DeviceLog().find(Sjis("IPアドレスが設定されていません。")), std::string::npos);
    // A FIFO would hold the run for ever.
    ASSERT_EQ(::mkfifo((dir / "fifo.cfg").c_str(), 0600), 0);
    device_.address = "127.0.0.2";
    device_.configFile = (dir / "fifo.cfg").string();
    EXPECT_EQ(Run(Operation::kApplyConfig).reason,
              device_.configFile + ": " + std::strerror(EINVAL));
    EXPECT_TRUE(sim_->commands().empty());
}

TEST_F(RouterMaintenanceTest, MultiDeviceRunGoesOnPastADeviceWithoutAddress) {
    Start({"--model", "Tarn-90", "--version", "V30.00", "--password", "pw"});
    CList<CBase> devices(3);
    for (int i = 0; i < 3; ++i) {
        devices[i].row = i + 1;
        devices[i].name = "r" + std::to_string(i + 1);
        devices[i].address = "127.0.0.2";
        devices[i].password = "pw";
    }
    devices[1].address.clear();
    BusyFlag busy;
    int saves = 0;
    MultiMaintenanceLogic multi({&devices[0], &devices[1], &devices[2]}, *runner_, questions_,
                                reporter_, busy, [&] { ++saves; });
    boxes_.answers = {MsgAnswer::Yes};
    ASSERT_TRUE(multi.Run(Operation::kCollectLog));
    EXPECT_NE(devices[0].lastLogCollection, 0);
    EXPECT_EQ(devices[1].lastLogCollection, 0);
    EXPECT_NE(devices[2].lastLogCollection, 0);
    EXPECT_EQ(saves, 1);
    EXPECT_NE(ReadFile(dir / "log" / "r2.log").find(Sjis("IPアドレスが設定されていません。")),
              std::string::npos);
    EXPECT_EQ(boxes_.shown.back().text, Sjis("処理に失敗した装置があります。"));
}

TEST_F(RouterMaintenanceTest, NewLogFolderIsUsedByTheNextCollection) {
    Start({"--password", "pw"});
    std::filesystem::create_directories(dir / "newlogs");
    EnvironmentSettingsLogic environment(app_->settings(), app_->programFolder(), reporter_);
    ASSERT_TRUE(environment.Ok(app_->settings().firmDir, (dir / "newlogs").string()));
    ASSERT_TRUE(Run(Operation::kCollectLog).done());
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "newlogs")) {
        EXPECT_EQ(entry.path().filename().string().rfind("branch01-", 0), 0u);
        ++files;
    }
    EXPECT_EQ(files, 1);
}

}  // namespace
}  // namespace quellin::console
