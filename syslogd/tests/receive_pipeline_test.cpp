#include "receive_pipeline.h"

#include "clock.h"
#include "codec.h"
#include "log_file.h"
#include "store_reader.h"
#include "syslog_presenter.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace quellin::syslogd {
namespace {

using quellin::testing::ReadFile;
using quellin::testing::Sjis;
using quellin::testing::TempDirTest;

class ReceivePipelineTest : public TempDirTest {
protected:
    ReceivePipelineTest() {
        settings.logWriteFlag = true;
        settings.logPath = cp932::FromPath(dir / "syslogd.txt");
        // Every datagram with PRI 13 or 11 matches.
        settings.searchTable[0].keyStr = "<13>";
        settings.searchTable[1].keyStr = "<11>";
    }

    ReceivePipeline& Pipeline() {
        if (!pipeline)
            pipeline = std::make_unique<ReceivePipeline>(
                clock, std::make_shared<const SyslogdSettings>(settings), queue, Options());
        return *pipeline;
    }

    // One datagram as a batch of its own; what the window got is collected.
    void Send(const std::string& datagram) {
        Pipeline().Handle(datagram, "172.16.0.9");
        Pipeline().EndBatch();
        Collect();
    }
    void Collect() {
        WindowQueue::Delivery delivery = queue.Take(1000000);
        for (auto& item : delivery.items) {
            if (item.row)
                rows.push_back((*item.row)[4]);
            if (item.alert)
                alerts.push_back(*item.alert);
        }
        heldBackRows += delivery.heldBackRows;
        heldBackAlerts += delivery.heldBackAlerts;
        if (delivery.logStatus)
            statuses.push_back(*delivery.logStatus);
        if (delivery.storeStatus)
            storeStatuses.push_back(*delivery.storeStatus);
    }
    std::vector<std::string> LogLines() const { return SplitLines(ReadFile(dir / "syslogd.txt")); }

    // A removed or renamed log file is noticed at the next flush.
    static ReceivePipeline::Options Options() {
        ReceivePipeline::Options options;
        options.log.checkInterval = std::chrono::milliseconds(0);
        return options;
    }

    FakeClock clock{MakeLocalTime(2024, 7, 5, 12, 0, 0)};
    SyslogdSettings settings;
    WindowQueue queue;
    std::unique_ptr<ReceivePipeline> pipeline;
    std::vector<std::string> rows;
    std::vector<AlertOrder> alerts;
    std::vector<LogWriteStatus> statuses;
    std::vector<syslogstore::StoreWriteStatus> storeStatuses;
    std::uint64_t heldBackRows = 0, heldBackAlerts = 0;
};

TEST_F(ReceivePipelineTest, OneMessageGivesItsRowItsAlertAndItsLogLine) {
    Send("<13>hello");
    EXPECT_EQ(rows, std::vector<std::string>{"hello"});
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].entryIndex, 0u);
    EXPECT_TRUE(alerts[0].showPopup);
    EXPECT_EQ(alerts[0].popupText, "Jul 05 12:00:00   From 172.16.0.9\r\nhello");
    EXPECT_EQ(alerts[0].sound, AlertSound::Beep);
    EXPECT_FALSE(alerts[0].sendMail);
    EXPECT_EQ(ReadFile(dir / "syslogd.txt"), "Jul 05 12:00:00,172.16.0.9,User,Notice,hello\r\n");
}

TEST_F(ReceivePipelineTest, LogLinesInArrivalOrderWithoutTabsOrLineBreaks) {
    const std::vector<std::string> datagrams = {
        "<13>Jul  5 00:43:58 tarn02 " + Sjis("回線断") + ",\t" + Sjis("再接続"),
        "<191>plain\r\nsecond line", "<120>dropped", "<0>  spaced",
        "<11>" + std::string(65000, 'x')};
    for (const auto& d : datagrams)
        Pipeline().Handle(d, "172.16.0.9");
    Pipeline().EndBatch();
    EXPECT_EQ(ReadFile(dir / "syslogd.txt"),
              "Jul  5 00:43:58,172.16.0.9,User,Notice,tarn02 " + Sjis("回線断") + ",," +
                  Sjis("再接続") +
                  "\r\nJul 05 12:00:00,172.16.0.9,Local7,Debug,plain  second line\r\n"
                  "Jul 05 12:00:00,172.16.0.9,Kern,Emergency,spaced\r\n"
                  "Jul 05 12:00:00,172.16.0.9,User,Error," +
                  std::string(65000, 'x') + "\r\n");
}

// What an alert asks for follows its entry and the settings; the no-popup
// flag suppresses only the popup.
TEST_F(ReceivePipelineTest, AlertAsksForWhatItsEntryAndTheSettingsSay) {
    struct Case {
        bool mailSendFlag, mailFlag, noPopMail;
        std::int16_t soundType;
        bool showPopup;
        AlertSound sound;
        bool sendMail;
    };
    const Case cases[] = {{false, false, false, 2, true, AlertSound::Beep, false},
                          {false, false, false, 1, true, AlertSound::None, false},
                          {false, false, false, 3, true, AlertSound::WaveFile, false},
                          {false, false, false, 7, true, AlertSound::None, false},
                          {true, true, false, 2, true, AlertSound::Beep, true},
                          {false, true, false, 2, true, AlertSound::Beep, false},
                          {true, false, false, 2, true, AlertSound::Beep, false},
                          {true, true, true, 2, false, AlertSound::Beep, true}};
    for (const Case& c : cases) {
        settings.mailSendFlag = c.mailSendFlag;
        settings.soundType = c.soundType;
        settings.searchTable[0].mailFlag = c.mailFlag;
        settings.searchTable[0].noPopMail = c.noPopMail;
        Pipeline().SetSettings(std::make_shared<const SyslogdSettings>(settings));
        alerts.clear();
        Send("<13>link down");
        ASSERT_EQ(alerts.size(), 1u) << &c - cases;
        EXPECT_EQ(alerts[0].showPopup, c.showPopup) << &c - cases;
        EXPECT_EQ(alerts[0].sound, c.sound) << &c - cases;
        EXPECT_EQ(alerts[0].sendMail, c.sendMail) << &c - cases;
    }
}

TEST_F(ReceivePipelineTest, TwelfthDatagramOfASecondIsAlertedAndLoggedNotListed) {
    for (int i = 1; i <= 12; ++i)
        Send("<13>m" + std::to_string(i));
    EXPECT_EQ(rows.size(), 11u);
    EXPECT_EQ(rows.back(), "m11");
    EXPECT_EQ(alerts.size(), 12u);
    EXPECT_EQ(LogLines().size(), 12u);

    clock.Advance(1);
    Send("<13>next second");
    EXPECT_EQ(rows.back(), "next second");
}

TEST_F(ReceivePipelineTest, MalformedDatagramsCountTowardsTheRate) {
    Send("<13>listed");
    for (int i = 0; i < 10; ++i)
        Send("garbage");
    Send("<13>held back");
    EXPECT_EQ(rows, std::vector<std::string>{"listed"});
    EXPECT_EQ(alerts.size(), 2u);
}

TEST_F(ReceivePipelineTest, DroppedDatagramLeavesNoTrace) {
    Send("<120>facility 15");
    Send("no bracket");
    Send("<1234>long pri");
    EXPECT_TRUE(rows.empty());
    EXPECT_TRUE(alerts.empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "syslogd.txt"));
}

TEST_F(ReceivePipelineTest, DisplayStoppedStillAlertsAndLogs) {
    Pipeline().SetDisplayRunning(false);
    Send("<13>while stopped");
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(alerts.size(), 1u);
    EXPECT_EQ(LogLines().size(), 1u);
    Pipeline().SetDisplayRunning(true);
    Send("<13>running again");
    EXPECT_EQ(rows, std::vector<std::string>{"running again"});
}

TEST_F(ReceivePipelineTest, LoggingOffWritesNothing) {
    settings.logWriteFlag = false;
    Send("<13>x");
    EXPECT_EQ(rows.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir / "syslogd.txt"));
}

TEST_F(ReceivePipelineTest, FilteredRowsDoNotUseUpTheSecond) {
    settings.dispFilter = 2 + 8;
    settings.filterLevel = 8;  // Error only
    for (int i = 0; i < 20; ++i)
        Send("<13>notice");
    Send("<11>error");
    EXPECT_EQ(rows, std::vector<std::string>{"error"});
    EXPECT_EQ(alerts.size(), 21u);
}

TEST_F(ReceivePipelineTest, NewSettingsApplyFromTheNextBatch) {
    Send("<13>before");
    auto changed = std::make_shared<SyslogdSettings>(settings);
    changed->logPath = cp932::FromPath(dir / "other.txt");
    changed->searchTable[0].keyStr = "after";
    changed->dispFilter = 2 + 8;
    changed->filterLevel = 8;
    Pipeline().SetSettings(changed);
    clock.Advance(1);
    Send("<13>after");
    EXPECT_EQ(rows, std::vector<std::string>{"before"});
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_EQ(alerts[1].entry().keyStr, "after");
    // The snapshot an alert was made under stays with it.
    EXPECT_EQ(alerts[0].entry().keyStr, "<13>");
    EXPECT_EQ(LogLines().size(), 1u);
    EXPECT_EQ(SplitLines(ReadFile(dir / "other.txt")).size(), 1u);
}

TEST_F(ReceivePipelineTest, PopupGetsABoundedHeadAndMailTheWholeText) {
    settings.mailSendFlag = true;
    settings.searchTable[0].mailFlag = true;
    const std::string body = std::string(5000, 'y') + Sjis("末尾");
    Send("<13>" + body);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_TRUE(alerts[0].sendMail);
    EXPECT_EQ(alerts[0].mailText, "Jul 05 12:00:00   From 172.16.0.9\r\n" + body);
    EXPECT_LE(alerts[0].popupText.size(), 1024u + 3u);
    EXPECT_TRUE(alerts[0].popupText.starts_with("Jul 05 12:00:00   From 172.16.0.9\r\nyyy"));
    EXPECT_TRUE(alerts[0].popupText.ends_with(Sjis("…")));
    EXPECT_EQ(rows, std::vector<std::string>{body});
    EXPECT_EQ(SplitLogLine(LogLines()[0])[4], body);

    // Many short lines are cut by lines.
    std::string lines;
    for (int i = 0; i < 100; ++i)
        lines += "line\n";
    Send("<13>" + lines);
    EXPECT_EQ(std::count(alerts[1].popupText.begin(), alerts[1].popupText.end(), '\n'), 29);
}

TEST_F(ReceivePipelineTest, NoPopupEntryWithoutMailOrSoundLeavesNothingToDo) {
    settings.soundType = 1;
    settings.searchTable[0].noPopMail = true;
    Send("<13>quiet");
    EXPECT_TRUE(alerts.empty());
    EXPECT_EQ(rows.size(), 1u);
}

TEST_F(ReceivePipelineTest, FullQueueHoldsBackAndCounts) {
    WindowQueue small(WindowQueue::Limits{5, 1u << 20});
    ReceivePipeline limited(clock, std::make_shared<const SyslogdSettings>(settings), small);
    for (int i = 0; i < 20; ++i)
        limited.Handle("<13>m" + std::to_string(i), "172.16.0.9");
    limited.EndBatch();
    WindowQueue::Delivery delivery = small.Take(3);
    EXPECT_EQ(delivery.items.size(), 3u);
    EXPECT_TRUE(delivery.more);
    EXPECT_EQ(delivery.heldBackAlerts, 15u);
    EXPECT_EQ(delivery.heldBackRows, 6u);  // 11 rows in the second, 5 handed over
    delivery = small.Take(3);
    EXPECT_EQ(delivery.items.size(), 2u);
    EXPECT_FALSE(delivery.more);
    EXPECT_EQ(delivery.heldBackAlerts, 0u);
    // Every message was logged all the same.
    EXPECT_EQ(LogLines().size(), 20u);
}

TEST_F(ReceivePipelineTest, QueueWakesTheWindowOnceUntilItTakes) {
    int wakes = 0;
    queue.SetWaker([&wakes] { ++wakes; });
    Pipeline().Handle("<13>a", "172.16.0.9");
    Pipeline().EndBatch();
    Pipeline().Handle("<13>b", "172.16.0.9");
    Pipeline().EndBatch();
    EXPECT_EQ(wakes, 1);
    queue.Take(1);
    Pipeline().Handle("<13>c", "172.16.0.9");
    Pipeline().EndBatch();
    EXPECT_EQ(wakes, 2);
}

TEST_F(ReceivePipelineTest, UnwritableLogIsReportedOnceAndAgainAfterASuccess) {
    settings.logPath = cp932::FromPath(dir / "missing" / "syslogd.txt");
    Send("<13>first");
    Send("<13>second");
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_TRUE(statuses[0].failing);
    EXPECT_EQ(statuses[0].path, settings.logPath);
    EXPECT_FALSE(statuses[0].reason.empty());
    EXPECT_EQ(rows.size(), 2u);

    std::filesystem::create_directory(dir / "missing");
    Send("<13>third");
    ASSERT_EQ(statuses.size(), 2u);
    EXPECT_FALSE(statuses[1].failing);
    std::filesystem::remove_all(dir / "missing");
    Send("<13>fourth");
    ASSERT_EQ(statuses.size(), 3u);
    EXPECT_TRUE(statuses[2].failing);
}

}  // namespace
}  // namespace quellin::syslogd

namespace quellin::syslogd {
namespace {

// Every accepted message goes into the store with its full receive time,
// while the log file stays byte for byte what it is without a store.
TEST_F(ReceivePipelineTest, StoreKeepsTheYearBesideAnUnchangedLogAndMovesADamagedFileAside) {
    auto sendAcrossNewYear = [&] {
        clock.Set(MakeLocalTime(2024, 12, 31, 23, 59, 59));
        Send("<11>Dec 31 23:59:59 r1 " + Sjis("ファン異常"));
        clock.Set(MakeLocalTime(2025, 1, 1, 0, 0, 1));
        Send("<166>new year");
    };
    sendAcrossNewYear();
    const std::string logWithoutStore = ReadFile(dir / "syslogd.txt");
    EXPECT_FALSE(std::filesystem::exists(dir / "syslogd-store.db"));

    std::filesystem::remove(dir / "syslogd.txt");
    testing::WriteFile(dir / "s.db", std::string(8192, 'x'));
    settings.store = {true, dir / "s.db", 0, 0};
    pipeline.reset();
    sendAcrossNewYear();
    ASSERT_TRUE(Pipeline().FlushStore(std::chrono::seconds(20)));
    EXPECT_EQ(ReadFile(dir / "syslogd.txt"), logWithoutStore);

    auto reader = syslogstore::SyslogStoreReader::Open(dir / "s.db");
    ASSERT_TRUE(reader) << reader.error().detail;
    syslogstore::Query query;
    query.descending = false;
    auto page = reader->Search(query, std::nullopt, 10);
    ASSERT_TRUE(page);
    ASSERT_EQ(page->rows.size(), 2u);
    EXPECT_EQ(page->rows[0].receivedAt, MakeLocalTime(2024, 12, 31, 23, 59, 59));
    EXPECT_EQ(page->rows[1].receivedAt, MakeLocalTime(2025, 1, 1, 0, 0, 1));
    EXPECT_EQ(page->rows[0].text, "r1 ファン異常");
    EXPECT_EQ(page->rows[0].source, "172.16.0.9");
    EXPECT_EQ((std::pair{page->rows[1].facility, page->rows[1].level}), (std::pair{20, 6}));

    // The window is told once where the damaged file went.
    // (The writer's thread says it when it happens, maybe between two sends.)
    Collect();
    SyslogPresenter presenter;
    for (const auto& status : storeStatuses) {
        WindowQueue::Delivery delivery;
        delivery.storeStatus = status;
        presenter.Present(std::move(delivery), 0);
    }
    EXPECT_NE(presenter.notice().find(Sjis("壊れた検索用データベースを ") + dir.folder() +
                                      "s.db.damaged-"),
              std::string::npos)
        << presenter.notice();
}

}  // namespace
}  // namespace quellin::syslogd
