#include "receive_handler.h"

#include "clock.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace quellin::syslogd {
namespace {

// Records what each stage was given; the display stage lists what the filter
// passes, as the real one does.
class RecordingStages final : public MessageStages {
public:
    explicit RecordingStages(const SyslogdSettings& settings) : settings_(settings) {}

    bool AddRow(const ReceivedMessage& m) override {
        order.push_back("display");
        if (throwInDisplay)
            throw std::runtime_error("list failed");
        DisplayFilter f{settings_.dispFilter, settings_.filterLevel, settings_.filterFacility};
        if (!PassesDisplayFilter(f, m.levelBit, m.facilityBit))
            return false;
        rows.push_back(m.body);
        return true;
    }
    void Alert(const ReceivedMessage& m) override {
        order.push_back("alert");
        if (throwInAlert)
            throw std::runtime_error("popup failed");
        alerts.push_back(m.body);
    }
    void WriteLog(const ReceivedMessage& m) override {
        order.push_back("log");
        logs.push_back(m.logLine);
    }

    std::vector<std::string> order, rows, alerts, logs;
    bool throwInDisplay = false;
    bool throwInAlert = false;

private:
    const SyslogdSettings& settings_;
};

class ReceiveHandlerTest : public ::testing::Test {
protected:
    ReceiveHandlerTest() { settings.logWriteFlag = true; }

    void Send(const std::string& datagram) { handler.Handle(datagram, "172.16.0.9"); }

    FakeClock clock{MakeLocalTime(2024, 7, 5, 12, 0, 0)};
    SyslogdSettings settings;
    RecordingStages stages{settings};
    ReceiveHandler handler{clock, stages, settings};
};

TEST_F(ReceiveHandlerTest, StagesRunInFixedOrder) {
    Send("<13>hello");
    EXPECT_EQ(stages.order, (std::vector<std::string>{"display", "alert", "log"}));
    ASSERT_EQ(stages.logs.size(), 1u);
    EXPECT_EQ(stages.logs[0], "Jul 05 12:00:00,172.16.0.9,User,Notice,hello");
}

TEST_F(ReceiveHandlerTest, TwelfthDatagramOfASecondIsAlertedAndLoggedNotListed) {
    for (int i = 1; i <= 12; ++i)
        Send("<13>m" + std::to_string(i));
    EXPECT_EQ(stages.rows.size(), 11u);
    EXPECT_EQ(stages.rows.back(), "m11");
    EXPECT_EQ(stages.alerts.size(), 12u);
    EXPECT_EQ(stages.logs.size(), 12u);

    clock.Advance(1);
    Send("<13>next second");
    EXPECT_EQ(stages.rows.back(), "next second");
}

TEST_F(ReceiveHandlerTest, MalformedDatagramsCountTowardsTheRate) {
    Send("<13>listed");
    for (int i = 0; i < 10; ++i)
        Send("garbage");
    Send("<13>held back");
    EXPECT_EQ(stages.rows, std::vector<std::string>{"listed"});
    EXPECT_EQ(stages.alerts.size(), 2u);
}

TEST_F(ReceiveHandlerTest, DroppedDatagramLeavesNoTrace) {
    Send("<120>facility 15");
    Send("no bracket");
    EXPECT_TRUE(stages.order.empty());
}

TEST_F(ReceiveHandlerTest, DisplayStoppedStillAlertsAndLogs) {
    handler.SetDisplayRunning(false);
    Send("<13>while stopped");
    EXPECT_EQ(stages.order, (std::vector<std::string>{"alert", "log"}));
    handler.SetDisplayRunning(true);
    Send("<13>running again");
    EXPECT_EQ(stages.rows, std::vector<std::string>{"running again"});
}

TEST_F(ReceiveHandlerTest, LoggingOffSkipsLogStageAndLine) {
    settings.logWriteFlag = false;
    Send("<13>x");
    EXPECT_EQ(stages.order, (std::vector<std::string>{"display", "alert"}));
}

TEST_F(ReceiveHandlerTest, FailingStagesDoNotStopTheOthers) {
    stages.throwInDisplay = true;
    stages.throwInAlert = true;
    Send("<13>x");
    EXPECT_EQ(stages.order, (std::vector<std::string>{"display", "alert", "log"}));
    EXPECT_EQ(stages.logs.size(), 1u);
}

TEST_F(ReceiveHandlerTest, FilteredRowsDoNotUseUpTheSecond) {
    settings.dispFilter = 2 + 8;
    settings.filterLevel = 8;  // Error only
    for (int i = 0; i < 20; ++i)
        Send("<13>notice");
    Send("<11>error");
    EXPECT_EQ(stages.rows, std::vector<std::string>{"error"});
    EXPECT_EQ(stages.alerts.size(), 21u);
}

}  // namespace
}  // namespace quellin::syslogd
