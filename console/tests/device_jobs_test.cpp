// One way through many devices: the maintenance operations as device jobs
// over scripted work on the routers (outcomes, stamps, each device's lines
// in order, devices sharing a configuration file taking turns), and the
// run itself (N at once, stopped, cancelled).
#include "device_jobs.h"
#include "clock.h"
#include "codec.h"
#include "operation_log.h"
#include "test_support.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

namespace quellin::console {
namespace {

using testing::ReadFile;
using testing::Sjis;
using testing::WriteFile;

// The run itself.

std::vector<CBase*> Pointers(CList<CBase>& devices) {
    std::vector<CBase*> pointers;
    for (CBase& device : devices)
        pointers.push_back(&device);
    return pointers;
}

TEST(DeviceJobsRunTest, RunsUpToJobsDevicesAtOnceAndTellsEveryEnd) {
    CList<CBase> devices(12);
    std::mutex lock;
    int busy = 0;
    int most = 0;
    std::set<std::size_t> ended;
    const auto outcomes = RunJobs(
        Pointers(devices), 4,
        [&](std::size_t i, CBase&, std::stop_token) {
            {
                std::lock_guard guard(lock);
                most = std::max(most, ++busy);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            std::lock_guard guard(lock);
            --busy;
            return i == 5 ? Outcome::Failed("x") : Outcome{};
        },
        [&](const DeviceResult& r) { ended.insert(r.index); });
    EXPECT_LE(most, 4);
    EXPECT_GE(most, 2);
    EXPECT_EQ(ended.size(), 12u);
    ASSERT_EQ(outcomes.size(), 12u);
    EXPECT_EQ(outcomes[5].kind, OutcomeKind::kFailed);
    EXPECT_TRUE(outcomes[4].done());
}

// A stop lets the devices under way finish and starts no more; a cancel
// also tells those under way to give up.
TEST(DeviceJobsRunTest, StopStartsNoMoreAndCancelCutsShort) {
    CList<CBase> devices(20);
    std::atomic<int> started{0};
    std::atomic<int> cut{0};
    std::atomic<bool> finished{false};
    DeviceJobs run(Pointers(devices), 2);
    run.Start(
        [&](std::size_t, CBase&, std::stop_token stop) {
            ++started;
            for (int i = 0; i < 500 && !stop.stop_requested(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            cut += stop.stop_requested();
            return Outcome{};
        },
        {}, [&] { finished = true; });
    while (started < 2)
        std::this_thread::yield();
    run.Stop();
    run.Cancel();
    run.Wait();
    EXPECT_TRUE(finished);
    EXPECT_EQ(started.load(), 2);
    EXPECT_EQ(cut.load(), 2);
    EXPECT_EQ(run.finished(), 2u);
}

// The maintenance operations as device jobs.

class ScriptedRouter final : public RouterOperations {
public:
    struct Shared {
        std::atomic<int> running{0};
        std::atomic<int> mostAtOnce{0};
        std::atomic<int> overlapsOnOneFile{0};
        std::mutex lock;
        std::set<std::string> filesInUse;
        OutcomeKind update = OutcomeKind::kDone;
    };
    explicit ScriptedRouter(Shared& shared) : shared_(shared) {}

    Outcome ApplyConfig(const OperationContext& c, bool) override {
        {
            std::lock_guard guard(shared_.lock);
            if (!shared_.filesInUse.insert(c.target.configFile).second)
                ++shared_.overlapsOnOneFile;
        }
        Busy();
        std::lock_guard guard(shared_.lock);
        shared_.filesInUse.erase(c.target.configFile);
        return {};
    }
    Outcome UpdateFirmware(const OperationContext&, bool) override {
        if (shared_.update == OutcomeKind::kNothingToDo)
            return {OutcomeKind::kNothingToDo,
                    cp932::Jp("新しいソフトウェアファイルはありません。")};
        return {};
    }
    Outcome CollectLog(const OperationContext& c) override {
        c.log("step 1");
        Busy();
        c.log("step 2");
        return {};
    }

private:
    void Busy() {
        const int now = ++shared_.running;
        int seen = shared_.mostAtOnce.load();
        while (now > seen && !shared_.mostAtOnce.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        --shared_.running;
    }
    Shared& shared_;
};

class DeviceJobsTest : public testing::TempDirTest {
protected:
    std::vector<OutcomeKind> RunScripted(Operation operation, int jobs, CList<CBase>& devices) {
        FakeMessageBoxes boxes;
        Reporter reporter(home, boxes);
        MessageBoxQuestions questions(reporter);
        ScriptedRouter router(shared);
        OperationWaiter waiter;
        const MaintenanceRunner runner(router, reporter, questions, waiter);
        std::vector<CBase*> selected;
        for (CBase& device : devices)
            selected.push_back(&device);
        std::vector<OutcomeKind> kinds;
        for (const Outcome& outcome :
             RunOnEach(runner, selected, operation, RunMode::kUnattended, {}, jobs))
            kinds.push_back(outcome.kind);
        EXPECT_TRUE(boxes.shown.empty());
        return kinds;
    }
    CList<CBase> Named(int count, const std::string& configFile = {}) {
        const std::string file = configFile.empty() ? (dir / "a.cfg").string() : configFile;
        WriteFile(file, "hostname a\r\n");
        CList<CBase> devices(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            devices[i].row = i + 1;
            devices[i].name = "dev" + std::to_string(i + 1);
            devices[i].address = "127.0.0.1";
            devices[i].configFile = file;
        }
        return devices;
    }
    std::string Log(const std::string& name) { return ReadFile(dir / "log" / (name + ".log")); }
    std::vector<std::string> LogMessages(const std::string& name) {
        return testing::LogMessages(dir / "log" / (name + ".log"), name);
    }

    const std::string home = dir.folder();
    ScriptedRouter::Shared shared;
    FakeClock clock{1513000000};
    void SetUp() override { SetClockForTesting(&clock); }
    void TearDown() override { SetClockForTesting(nullptr); }
};

TEST_F(DeviceJobsTest, DeviceWithoutAddressFailsTheRunButOthersAreStamped) {
    auto devices = Named(3);
    devices[1].address.clear();
    EXPECT_EQ(RunScripted(Operation::kCollectLog, 1, devices),
              (std::vector{OutcomeKind::kDone, OutcomeKind::kFailed, OutcomeKind::kDone}));
    EXPECT_EQ(devices[0].lastLogCollection, 1513000000);
    EXPECT_EQ(devices[1].lastLogCollection, 0);
    EXPECT_EQ(devices[2].lastLogCollection, 1513000000);
    EXPECT_EQ(
        Log("dev2"),
        FormatOperationLogLine(1513000000, "dev2", Sjis("ログ採取を開始しました。")) +
            FormatOperationLogLine(1513000000, "dev2", Sjis("IPアドレスが設定されていません。")));
    EXPECT_EQ(LogMessages("dev1"),
              (std::vector<std::string>{Sjis("ログ採取を開始しました。"), "step 1", "step 2",
                                        Sjis("ログ採取を終了しました。")}));
}

TEST_F(DeviceJobsTest, NoNewerSoftwareIsNeitherStampedNorAFailure) {
    shared.update = OutcomeKind::kNothingToDo;
    auto devices = Named(2);
    EXPECT_EQ(RunScripted(Operation::kUpdateFirmware, 2, devices),
              (std::vector{OutcomeKind::kNothingToDo, OutcomeKind::kNothingToDo}));
    EXPECT_EQ(devices[0].lastFirmwareUpdate, 0);
    EXPECT_EQ(LogMessages("dev1"),
              (std::vector<std::string>{Sjis("ソフトウェア更新を開始しました。"),
                                        Sjis("新しいソフトウェアファイルはありません。")}));
}

TEST_F(DeviceJobsTest, JobsRunDevicesAtOnceEachInItsOwnOrder) {
    auto devices = Named(8);
    const auto kinds = RunScripted(Operation::kCollectLog, 4, devices);
    EXPECT_EQ(kinds, std::vector<OutcomeKind>(8, OutcomeKind::kDone));
    EXPECT_GT(shared.mostAtOnce.load(), 1);
    EXPECT_LE(shared.mostAtOnce.load(), 4);
    for (const auto& d : devices) {
        EXPECT_EQ(d.lastLogCollection, 1513000000);
        EXPECT_EQ(LogMessages(d.name),
                  (std::vector<std::string>{Sjis("ログ採取を開始しました。"), "step 1", "step 2",
                                            Sjis("ログ採取を終了しました。")}));
    }
}

TEST_F(DeviceJobsTest, DevicesSharingAConfigFileTakeTurns) {
    auto devices = Named(4, (dir / "shared.cfg").string());
    devices[3].configFile = (dir / "." / "shared.cfg").string();  // same file, other spelling
    EXPECT_EQ(RunScripted(Operation::kApplyConfig, 4, devices),
              std::vector<OutcomeKind>(4, OutcomeKind::kDone));
    EXPECT_EQ(shared.overlapsOnOneFile.load(), 0);
    EXPECT_EQ(devices[3].lastConfigTransfer, 1513000000);
}

}  // namespace
}  // namespace quellin::console
