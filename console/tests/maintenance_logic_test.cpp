// The maintenance dialog's sequence and the log schedule, over a scripted
// stand-in for the router operations.
#include "device_book.h"
#include "log_scheduler.h"
#include "maintenance_dialog_logic.h"
#include "multi_maintenance_logic.h"

#include "clock.h"
#include "scripted_maintenance.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace quellin::console {
namespace {

using testing::ReadFile;
using testing::Sjis;
using testing::WriteFile;

class CountingWaiter final : public OperationWaiter {
public:
    void Run(const std::function<void()>& op) override {
        ++plain;
        op();
    }
    void RunForDevice(const std::string& name, const std::string& message,
                      const std::function<void()>& op) override {
        deviceWaits.push_back(name);
        lastMessage = message;
        op();
    }
    int plain = 0;
    std::vector<std::string> deviceWaits;
    std::string lastMessage;
};

class MaintenanceLogicTest : public testing::TempDirTest {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        clock_.Set(1514196000);  // 2017/12/25 10:00:00 UTC
        SetClockForTesting(&clock_);
        router_.clock = &clock_;
        device_.row = 1;
        device_.name = "Osaka-1";
        device_.address = "127.0.0.2";
        device_.configFile = (dir / "osaka.txt").string();
        WriteFile(device_.configFile, "hostname osaka\r\n");
    }
    void TearDown() override { SetClockForTesting(nullptr); }

    MaintenanceDialogLogic Dialog() {
        return MaintenanceDialogLogic(device_, runner_, questions_, reporter_, busy_,
                                      [this] { ++saves_; });
    }
    std::string DeviceLog(const std::string& name = "Osaka-1") const {
        return ReadFile(dir / "log" / (name + ".log"));
    }

    FakeClock clock_;
    FakeMessageBoxes boxes_;
    Reporter reporter_{dir.folder(), boxes_};
    MessageBoxQuestions questions_{reporter_};
    ScriptedRouter router_;
    CountingWaiter waiter_;
    MaintenanceRunner runner_{router_, reporter_, questions_, waiter_};
    BusyFlag busy_;
    CBase device_;
    int saves_ = 0;
};

TEST_F(MaintenanceLogicTest, NeverMaintainedDeviceShowsItsInitialState) {
    CBase fresh;
    fresh.name = "r";
    MaintenanceDialogLogic logic(fresh, runner_, questions_, reporter_, busy_, [] {});
    EXPECT_EQ(logic.Caption(), Sjis("メンテナンス   < r >"));
    EXPECT_EQ(MaintenanceTimeText(0), Sjis("未実施"));
    EXPECT_EQ(MaintenanceTimeText(1514196000), "2017/12/25 10:00:00");
    EXPECT_EQ(logic.nextRunText(), Sjis("未登録"));
    EXPECT_EQ(logic.scheduleButtonText(), Sjis("スケジュール実行"));
    EXPECT_EQ(logic.intervalIndex(), 0);
    EXPECT_EQ(logic.countIndex(), 0);
}

TEST_F(MaintenanceLogicTest, ApplyNowLogsStampsSavesAndTellsTheOperator) {
    clock_.Set(1514196005);
    ASSERT_TRUE(Dialog().Run(Operation::kApplyConfig));
    EXPECT_EQ(router_.calls, (std::vector<std::string>{"ApplyConfig Osaka-1"}));
    EXPECT_EQ(device_.lastConfigTransfer, 1514196005);
    EXPECT_EQ(saves_, 1);
    EXPECT_EQ(waiter_.plain, 1);
    EXPECT_EQ(DeviceLog(), "2017/12/25 10:00:05,Osaka-1," + Sjis("即時反映を開始しました。") +
                               "\r\n2017/12/25 10:00:05,Osaka-1," +
                               Sjis("即時反映を終了しました。") + "\r\n");
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, Sjis("即時反映を終了しました。"));
}

TEST_F(MaintenanceLogicTest, ScheduledApplySendsThePlannedDigitsAndStampsNow) {
    const std::string digits = ScheduleDigits(2017, 12, 25, 10, 30);
    EXPECT_EQ(digits, "1712251030");
    ASSERT_TRUE(Dialog().Run(Operation::kApplyConfigAt, digits));
    EXPECT_EQ(router_.calls.back(), "ApplyConfig Osaka-1 at 1712251030");
    EXPECT_EQ(device_.lastConfigTransfer, 1514196000) << "the moment of sending";
    EXPECT_NE(DeviceLog().find(Sjis("構成定義のスケジュール反映を終了しました。")),
              std::string::npos);
}

TEST_F(MaintenanceLogicTest, EmptyConfigurationPathStopsBeforeAnyLogLine) {
    device_.configFile.clear();
    EXPECT_FALSE(Dialog().Run(Operation::kApplyConfig));
    EXPECT_TRUE(router_.calls.empty());
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, Sjis("構成定義ファイルが見つかりません。"));
    EXPECT_FALSE(std::filesystem::exists(dir / "log" / "Osaka-1.log"));
    EXPECT_EQ(waiter_.plain, 0);
}

TEST_F(MaintenanceLogicTest, FailureStampsNothing) {
    router_.succeed = false;
    EXPECT_FALSE(Dialog().Run(Operation::kCollectLog));
    EXPECT_EQ(device_.lastLogCollection, 0);
    EXPECT_EQ(saves_, 0);
    EXPECT_EQ(DeviceLog(),
              "2017/12/25 10:00:00,Osaka-1," + Sjis("ログ採取を開始しました。") + "\r\n");
}

TEST_F(MaintenanceLogicTest, SoftwareUpdateIsStampedOnlyWhenDone) {
    for (OutcomeKind kind :
         {OutcomeKind::kNothingToDo, OutcomeKind::kDeclined, OutcomeKind::kFailed}) {
        router_.update = {kind};
        EXPECT_FALSE(Dialog().Run(Operation::kUpdateFirmware)) << ToString(kind);
    }
    EXPECT_EQ(device_.lastFirmwareUpdate, 0);
    router_.update = {};
    EXPECT_TRUE(Dialog().Run(Operation::kUpdateFirmwareAt, "1712251030"));
    EXPECT_EQ(device_.lastFirmwareUpdate, 1514196000);
    EXPECT_EQ(router_.calls.back(), "UpdateFirmware Osaka-1 at 1712251030");
}

TEST_F(MaintenanceLogicTest, NoActionStartsInsideAScheduledPass) {
    BusyFlag::Guard pass(busy_);
    EXPECT_FALSE(Dialog().Run(Operation::kCollectLog));
    EXPECT_TRUE(router_.calls.empty());
}

TEST_F(MaintenanceLogicTest, RegisteringThirtyMinutesThreeTimes) {
    auto logic = Dialog();
    logic.ToggleSchedule("30分おき", "3回");
    EXPECT_EQ(device_.logInterval, 1800);
    EXPECT_EQ(device_.logRepeatCount, 3);
    EXPECT_EQ(device_.nextLogCollection, 1514196000 + 1800);
    EXPECT_EQ(logic.nextRunText(), "2017/12/25 10:30:00");
    EXPECT_EQ(logic.scheduleButtonText(), Sjis("スケジュール削除"));
    EXPECT_EQ(logic.intervalIndex(), 2);
    EXPECT_EQ(logic.countIndex(), 2);
    EXPECT_EQ(saves_, 1);
    EXPECT_EQ(boxes_.shown.back().text, Sjis("ログ採取のスケジュール実行を終了しました。"));
    EXPECT_TRUE(router_.calls.empty()) << "nothing runs at registration";

    device_.logRepeatCount = 2;  // after one run
    EXPECT_EQ(Dialog().countIndex(), 1);
    device_.logInterval = 7 * 60;  // not in the table: the list stays as it is
    EXPECT_EQ(Dialog().intervalIndex(), std::nullopt);
}

TEST_F(MaintenanceLogicTest, DeletingAsksFirst) {
    device_.logInterval = 600;
    device_.logRepeatCount = 2;
    device_.nextLogCollection = 1514196600;
    boxes_.answers = {MsgAnswer::No};
    Dialog().ToggleSchedule("", "");
    EXPECT_EQ(device_.logInterval, 600) << "No keeps the schedule";
    EXPECT_EQ(boxes_.shown.back().text,
              Sjis("ログ採取のスケジュールを削除します。よろしいですか？"));
    EXPECT_EQ(boxes_.shown.back().defaultButton, MsgAnswer::No);
    boxes_.answers = {MsgAnswer::Yes};
    Dialog().ToggleSchedule("", "");
    EXPECT_EQ(device_.logInterval, 0);
    EXPECT_EQ(device_.logRepeatCount, 0);
    EXPECT_EQ(device_.nextLogCollection, 0);
    EXPECT_EQ(boxes_.shown.back().text, Sjis("ログ採取のスケジュールを削除しました。"));
    EXPECT_NE(DeviceLog().find(Sjis("ログ採取のスケジュールを削除しました。")), std::string::npos);
}

class SchedulerTest : public MaintenanceLogicTest {
protected:
    CBase& Add(const std::string& name, std::int64_t next, int interval, int count) {
        CBase d;
        d.row = static_cast<int>(devices_.size()) + 1;
        d.name = name;
        d.address = "127.0.0.9";
        d.nextLogCollection = next;
        d.logInterval = interval;
        d.logRepeatCount = count;
        devices_.push_back(d);
        return devices_.back();
    }
    LogScheduler Scheduler() {
        return LogScheduler(book_, runner_, busy_, [this] {
            ++saves_;
            return true;
        });
    }
    DeviceBook book_{(dir / "base.db").string(), 0};
    CList<CBase>& devices_ = book_.devices();
};

TEST_F(SchedulerTest, PastSchedulesAreCancelledAtStartUp) {
    devices_.reserve(3);
    Add("past", 1514195000, 600, 3);
    Add("future", 1514197000, 600, 3);
    Add("", 1514195000, 600, 3);  // a row without a name takes no part
    Scheduler().DropExpiredSchedules();
    EXPECT_EQ(devices_[0].logInterval, 0);
    EXPECT_EQ(devices_[0].nextLogCollection, 0);
    EXPECT_EQ(devices_[0].logRepeatCount, 0);
    EXPECT_EQ(devices_[1].logInterval, 600);
    EXPECT_EQ(devices_[2].logInterval, 600);
    EXPECT_EQ(saves_, 1);
    Scheduler().DropExpiredSchedules();
    EXPECT_EQ(saves_, 1) << "nothing changed, nothing saved";
}

TEST_F(SchedulerTest, DueDevicesRunEarliestFirstThenInRowOrder) {
    devices_.reserve(4);
    Add("c", 1514196000, 600, 2);
    Add("b", 1514195990, 600, 2);
    Add("a", 1514196000, 600, 2);
    Add("later", 1514196001, 600, 2);
    Scheduler().RunDueLogCollections();
    EXPECT_EQ(waiter_.deviceWaits, (std::vector<std::string>{"b", "c", "a"}));
    EXPECT_EQ(waiter_.lastMessage, Sjis("ログ採取スケジュール実行中。しばらくお待ちください ･･･"));
    EXPECT_EQ(saves_, 3);
}

TEST_F(SchedulerTest, ThirtyMinutesThreeTimesThenNoSchedule) {
    CBase& d = Add("Osaka-1", 1514196000 + 1800, 1800, 3);
    auto scheduler = Scheduler();
    std::vector<std::int64_t> runs;
    for (int second = 0; second <= 2 * 3600; ++second) {
        clock_.Set(1514196000 + second);
        std::int64_t before = d.lastLogCollection;
        scheduler.RunDueLogCollections();
        if (d.lastLogCollection != before)
            runs.push_back(d.lastLogCollection);
    }
    EXPECT_EQ(runs, (std::vector<std::int64_t>{1514197800, 1514199600, 1514201400}));
    EXPECT_EQ(d.logInterval, 0);
    EXPECT_EQ(d.nextLogCollection, 0);
    EXPECT_EQ(d.logRepeatCount, 0);
    const std::string log = DeviceLog();
    EXPECT_NE(log.find("2017/12/25 10:30:00,Osaka-1," +
                       Sjis("[スケジュール実行] ログ採取を開始しました。")),
              std::string::npos);
    EXPECT_NE(log.find("2017/12/25 11:30:00,Osaka-1," +
                       Sjis("[スケジュール実行] ログ採取を終了しました。")),
              std::string::npos);
}

TEST_F(SchedulerTest, MissedRunsAreCaughtUpOnePerTick) {
    CBase& d = Add("r", 1514196000 + 600, 600, 5);
    clock_.Set(1514196000 + 25 * 60);  // after a 25-minute action
    auto scheduler = Scheduler();
    scheduler.RunDueLogCollections();
    EXPECT_EQ(d.nextLogCollection, 1514196000 + 1200) << "advances from the planned time";
    clock_.Advance(1);
    scheduler.RunDueLogCollections();
    EXPECT_EQ(d.nextLogCollection, 1514196000 + 1800);
    clock_.Advance(1);
    scheduler.RunDueLogCollections();
    EXPECT_EQ(d.logRepeatCount, 3) << "two runs; the next time is now in the future";
    EXPECT_EQ(d.nextLogCollection, 1514196000 + 1800);
}

TEST_F(SchedulerTest, DeviceWithoutAddressUsesUpItsRepetitions) {
    CBase& d = Add("noaddr", 1514196000, 600, 2);
    d.address.clear();
    auto scheduler = Scheduler();
    scheduler.RunDueLogCollections();
    clock_.Advance(600);
    scheduler.RunDueLogCollections();
    EXPECT_EQ(d.logInterval, 0);
    EXPECT_EQ(d.lastLogCollection, 1514196600);
    const std::string log = DeviceLog("noaddr");
    EXPECT_NE(log.find(Sjis("IPアドレスが設定されていません。")), std::string::npos);
    EXPECT_EQ(log.find(Sjis("[スケジュール実行] ログ採取を終了しました。")), std::string::npos);
    EXPECT_TRUE(boxes_.shown.empty()) << "scheduled runs never show a box";
}

TEST_F(SchedulerTest, ZeroCountKeepsRunningWithANegativeCount) {
    CBase& d = Add("r", 1514196000, 600, 0);
    Scheduler().RunDueLogCollections();
    EXPECT_EQ(d.logRepeatCount, -1);
    EXPECT_EQ(d.logInterval, 600);
}

TEST_F(SchedulerTest, APassDoesNotStartWhileAnActionIsInFlight) {
    Add("r", 1514196000, 600, 2);
    BusyFlag::Guard action(busy_);
    Scheduler().RunDueLogCollections();
    EXPECT_TRUE(router_.calls.empty());
}

class MultiMaintenanceTest : public SchedulerTest {
protected:
    MultiMaintenanceLogic Multi() {
        std::vector<CBase*> selected;
        for (CBase& d : devices_)
            selected.push_back(&d);
        return MultiMaintenanceLogic(selected, runner_, questions_, reporter_, busy_,
                                     [this] { ++saves_; });
    }
    void AddThree() {
        devices_.reserve(5);
        Add("r1", 0, 0, 0);
        Add("r2", 0, 0, 0).address.clear();
        Add("r3", 0, 0, 0);
    }
};

TEST_F(MultiMaintenanceTest, NoToTheFirstQuestionChangesNothing) {
    AddThree();
    boxes_.answers = {MsgAnswer::No};
    EXPECT_FALSE(Multi().Run(Operation::kCollectLog));
    EXPECT_TRUE(router_.calls.empty());
    EXPECT_EQ(saves_, 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "log"));
    EXPECT_EQ(boxes_.shown.at(0).text, Sjis("複数装置の操作を行うため、処理に時間がかかる場合があり"
                                            "ます。\r\n実行してよろしいですか？"));
}

TEST_F(MultiMaintenanceTest, DeviceWithoutAddressFailsButTheOthersAreStamped) {
    AddThree();
    boxes_.answers = {MsgAnswer::Yes};
    ASSERT_TRUE(Multi().Run(Operation::kCollectLog));
    EXPECT_EQ(devices_[0].lastLogCollection, 1514196000);
    EXPECT_EQ(devices_[1].lastLogCollection, 0);
    EXPECT_EQ(devices_[2].lastLogCollection, 1514196000);
    EXPECT_EQ(saves_, 1) << "base.db is written once for the run";
    EXPECT_EQ(boxes_.shown.back().text, Sjis("処理に失敗した装置があります。"));
    EXPECT_EQ(boxes_.shown.size(), 2u) << "no box per device";
    EXPECT_EQ(DeviceLog("r2"), "2017/12/25 10:00:00,r2," + Sjis("ログ採取を開始しました。") +
                                   "\r\n2017/12/25 10:00:00,r2," +
                                   Sjis("IPアドレスが設定されていません。") + "\r\n");
    EXPECT_NE(DeviceLog("r3").find(Sjis("ログ採取を終了しました。")), std::string::npos);
    EXPECT_EQ(waiter_.deviceWaits, (std::vector<std::string>{"r1", "r2", "r3"}));
}

TEST_F(MultiMaintenanceTest, NoNewerSoftwareAnywhereIsNeitherSuccessNorFailure) {
    devices_.reserve(2);
    Add("r1", 0, 0, 0);
    Add("r2", 0, 0, 0);
    router_.update = {OutcomeKind::kNothingToDo};
    boxes_.answers = {MsgAnswer::Yes};
    ASSERT_TRUE(Multi().Run(Operation::kUpdateFirmware));
    EXPECT_EQ(devices_[0].lastFirmwareUpdate, 0);
    EXPECT_EQ(boxes_.shown.back().text, Sjis("複数装置のソフトウェア更新を終了しました。"));
}

TEST_F(MultiMaintenanceTest, ScheduledRunGivesEveryDeviceTheSameTime) {
    devices_.reserve(2);
    Add("r1", 0, 0, 0);
    Add("r2", 0, 0, 0);
    devices_[0].configFile = devices_[1].configFile = device_.configFile;
    boxes_.answers = {MsgAnswer::Yes};
    ASSERT_TRUE(Multi().Run(Operation::kApplyConfigAt, "1712251030"));
    EXPECT_EQ(router_.calls, (std::vector<std::string>{"ApplyConfig r1 at 1712251030",
                                                       "ApplyConfig r2 at 1712251030"}));
    EXPECT_EQ(boxes_.shown.back().text, Sjis("複数装置の構成定義スケジュール反映を終了しました。"));
}

TEST_F(MultiMaintenanceTest, ScheduleOnFiveDevicesRunsThemInRowOrder) {
    devices_.reserve(5);
    for (int i = 1; i <= 5; ++i)
        Add("r" + std::to_string(i), 0, 0, 0);
    clock_.Set(1514192400);  // 09:00:00
    boxes_.answers = {MsgAnswer::Yes};
    Multi().RegisterSchedule("10分おき", "2回");
    for (const CBase& d : devices_) {
        EXPECT_EQ(d.nextLogCollection, 1514192400 + 600);
        EXPECT_EQ(d.logRepeatCount, 2);
    }
    EXPECT_EQ(boxes_.shown.back().text, Sjis("複数装置のログ採取スケジュール実行を終了しました。"));
    EXPECT_NE(DeviceLog("r4").find(Sjis("ログ採取のスケジュール実行を終了しました。")),
              std::string::npos);
    auto scheduler = Scheduler();
    for (int second = 0; second <= 1500; ++second) {
        clock_.Set(1514192400 + second);
        scheduler.RunDueLogCollections();
    }
    EXPECT_EQ(waiter_.deviceWaits, (std::vector<std::string>{"r1", "r2", "r3", "r4", "r5", "r1",
                                                             "r2", "r3", "r4", "r5"}));
    for (const CBase& d : devices_)
        EXPECT_EQ(d.logInterval, 0);
}

TEST_F(MultiMaintenanceTest, DeletingTouchesEveryDevice) {
    devices_.reserve(2);
    Add("r1", 1514196600, 600, 2);
    Add("r2", 0, 0, 0);
    boxes_.answers = {MsgAnswer::Yes};
    Multi().DeleteSchedule();
    EXPECT_EQ(devices_[0].logInterval, 0);
    EXPECT_NE(DeviceLog("r2").find(Sjis("ログ採取のスケジュールを削除しました。")),
              std::string::npos);
    EXPECT_EQ(boxes_.shown.back().text, Sjis("複数装置のログ採取スケジュールを削除しました。"));
}

}  // namespace
}  // namespace quellin::console
