// The alert hold-off in the receive pipeline (AlertHoldSeconds), on the
// pipeline's clock: an entry that alerted for a source stays quiet for that
// source, rows and log lines never wait, and the next alert after the
// hold-off says how many matches were held back.
#include "receive_pipeline.h"

#include "clock.h"
#include "codec.h"
#include "log_file.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace quellin::syslogd {
namespace {

using quellin::testing::ReadFile;
using quellin::testing::Sjis;
using quellin::testing::TempDirTest;

class AlertHoldOffTest : public TempDirTest {
protected:
    AlertHoldOffTest() {
        settings.logWriteFlag = true;
        settings.logPath = cp932::FromPath(dir / "syslogd.txt");
        settings.mailSendFlag = true;
        settings.alertHoldSeconds = 60;
        settings.searchTable[0].keyStr = "LINK-DOWN";
        settings.searchTable[0].mailFlag = true;
        settings.searchTable[0].toStr = "ops@example.jp";
        settings.searchTable[1].keyStr = "FAN";
        pipeline = std::make_unique<ReceivePipeline>(
            clock, std::make_shared<const SyslogdSettings>(settings), queue);
    }

    void Send(const std::string& datagram, const std::string& source = "172.16.0.9") {
        pipeline->Handle(datagram, source);
        pipeline->EndBatch();
        WindowQueue::Delivery delivery = queue.Take(1000000);
        for (auto& item : delivery.items) {
            if (item.row)
                ++rows;
            if (item.alert)
                alerts.push_back(*item.alert);
        }
    }

    FakeClock clock{MakeLocalTime(2024, 7, 5, 12, 0, 0)};
    SyslogdSettings settings;
    WindowQueue queue;
    std::unique_ptr<ReceivePipeline> pipeline;
    int rows = 0;
    std::vector<AlertOrder> alerts;
};

TEST_F(AlertHoldOffTest, StormFromOneSourceAlertsOnceAndLogsEveryLine) {
    for (int i = 0; i < 100; ++i)
        Send("<11>LINK-DOWN lan1 #" + std::to_string(i));
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_TRUE(alerts[0].showPopup);
    EXPECT_TRUE(alerts[0].sendMail);
    EXPECT_EQ(alerts[0].heldBack, 0u);
    EXPECT_EQ(alerts[0].mailText, "Jul 05 12:00:00   From 172.16.0.9\r\nLINK-DOWN lan1 #0");
    // The display rate limit lists 11 of one second; the hold-off takes none.
    EXPECT_EQ(rows, 11);
    EXPECT_EQ(SplitLines(ReadFile(dir / "syslogd.txt")).size(), 100u);

    // Still within the hold-off.
    clock.Advance(59);
    Send("<11>LINK-DOWN lan1 #100");
    EXPECT_EQ(alerts.size(), 1u);

    clock.Advance(1);
    Send("<11>LINK-DOWN lan1 #101");
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_EQ(alerts[1].heldBack, 100u);
    const std::string notice = Sjis("前回の通知から 100 件の通知を抑止しました。");
    EXPECT_EQ(alerts[1].popupText,
              "Jul 05 12:01:00   From 172.16.0.9\r\nLINK-DOWN lan1 #101\r\n" + notice);
    EXPECT_EQ(alerts[1].mailText, alerts[1].popupText);

    // A new hold-off began with that alert; its count starts from nothing.
    Send("<11>LINK-DOWN lan1 #102");
    clock.Advance(60);
    Send("<11>LINK-DOWN lan1 #103");
    ASSERT_EQ(alerts.size(), 3u);
    EXPECT_EQ(alerts[2].heldBack, 1u);
    EXPECT_EQ(SplitLines(ReadFile(dir / "syslogd.txt")).size(), 104u);
}

TEST_F(AlertHoldOffTest, HeldPerSourceAndPerEntry) {
    Send("<11>LINK-DOWN lan1", "172.16.0.9");
    Send("<11>LINK-DOWN lan1", "172.16.0.10");
    Send("<11>FAN stopped", "172.16.0.9");
    Send("<11>LINK-DOWN lan2", "172.16.0.9");
    Send("<11>FAN stopped", "172.16.0.10");
    ASSERT_EQ(alerts.size(), 4u);
    EXPECT_NE(alerts[1].popupText.find("From 172.16.0.10\r\n"), std::string::npos);
    EXPECT_EQ(alerts[2].entryIndex, 1u);
}

TEST_F(AlertHoldOffTest, ZeroAlertsEveryMatch) {
    settings.alertHoldSeconds = 0;
    pipeline->SetSettings(std::make_shared<const SyslogdSettings>(settings));
    for (int i = 0; i < 5; ++i)
        Send("<11>LINK-DOWN lan1");
    EXPECT_EQ(alerts.size(), 5u);
    for (const AlertOrder& alert : alerts)
        EXPECT_EQ(alert.popupText.find(Sjis("抑止")), std::string::npos);
}

// A long message cut for the popup still shows the count; the mail keeps
// the whole message and the count after it.
TEST_F(AlertHoldOffTest, CountFollowsACutPopupText) {
    const std::string longBody = "LINK-DOWN " + std::string(5000, 'x');
    Send("<11>" + longBody);
    Send("<11>" + longBody);
    clock.Advance(60);
    Send("<11>" + longBody);
    ASSERT_EQ(alerts.size(), 2u);
    const std::string notice = "\r\n" + Sjis("前回の通知から 1 件の通知を抑止しました。");
    EXPECT_TRUE(alerts[1].popupText.ends_with(Sjis("…") + notice));
    EXPECT_LT(alerts[1].popupText.size(), 1200u);
    EXPECT_TRUE(alerts[1].mailText.ends_with(longBody + notice));
}

TEST_F(AlertHoldOffTest, NewSearchTableStartsAfresh) {
    Send("<11>LINK-DOWN lan1");
    Send("<11>LINK-DOWN lan1");
    settings.searchTable[0].keyStr = "LINK";
    pipeline->SetSettings(std::make_shared<const SyslogdSettings>(settings));
    Send("<11>LINK-DOWN lan1");
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_EQ(alerts[1].heldBack, 0u);

    // Colours alone leave the holds as they are.
    settings.mainBackColor = 0xFF;
    pipeline->SetSettings(std::make_shared<const SyslogdSettings>(settings));
    Send("<11>LINK-DOWN lan1");
    EXPECT_EQ(alerts.size(), 2u);
}

// A clock set back an hour does not hold alerts back for an hour.
TEST_F(AlertHoldOffTest, ClockSetBackEndsTheHold) {
    Send("<11>LINK-DOWN lan1");
    clock.Advance(-3600);
    Send("<11>LINK-DOWN lan1");
    EXPECT_EQ(alerts.size(), 2u);
    clock.Advance(30);
    Send("<11>LINK-DOWN lan1");
    EXPECT_EQ(alerts.size(), 2u);
}

TEST(AlertHoldOff, FloodOfSourcesStaysBounded) {
    AlertHoldOff holds;
    std::uint64_t heldBack = 0;
    for (std::size_t i = 0; i < AlertHoldOff::kMaxHolds + 10; ++i)
        EXPECT_TRUE(holds.Admit(0, "10.0." + std::to_string(i), 100, 60, heldBack));
    EXPECT_EQ(holds.size(), AlertHoldOff::kMaxHolds);
    // Once the holds have expired they make room again.
    EXPECT_TRUE(holds.Admit(0, "192.0.2.1", 200, 60, heldBack));
    EXPECT_EQ(holds.size(), 1u);
    EXPECT_FALSE(holds.Admit(0, "192.0.2.1", 201, 60, heldBack));
}

}  // namespace
}  // namespace quellin::syslogd
