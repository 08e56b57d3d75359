#include "console_app.h"
#include "console_session.h"
#include "device_book.h"
#include "fake_processes.h"
#include "fake_service_manager.h"
#include "report.h"

#include "clock.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace quellin::console {
namespace {

using testing::ReadFile;
using testing::Sjis;
using testing::WriteFile;

using testing::Repeat;

class ConsoleCoreTest : public testing::TempDirTest {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        SetClockForTesting(&clock_);
    }
    void TearDown() override { SetClockForTesting(nullptr); }

    std::string ToolLog() const { return ReadFile(dir / "log" / "Quellin_tool.log"); }

    // The console's device book, loaded as at start-up.
    DeviceBook Loaded(const ConsoleApp& app) {
        Reporter reporter(app.programFolder(), boxes_);
        DeviceBook book(app.registryPath(), app.settings().maxRows);
        book.Load(reporter, app.maxRowsOverLimit());
        return book;
    }

    FakeClock clock_{1491039000};  // 2017/04/01 09:30:00 UTC
    FakeMessageBoxes boxes_;
};

TEST_F(ConsoleCoreTest, ReportLogsAndShowsAsAskedFor) {
    Reporter reporter(dir.folder(), boxes_);
    reporter.Report("r1", "only-log", MSG_LOG);
    reporter.Report("r1", "only-box", MSG_BOX);
    reporter.Report("r1", "both", MSG_LOG | MSG_BOX);
    EXPECT_EQ(ReadFile(dir / "log" / "r1.log"),
              "2017/04/01 09:30:00,r1,only-log\r\n2017/04/01 09:30:00,r1,both\r\n");
    ASSERT_EQ(boxes_.shown.size(), 2u);
    EXPECT_EQ(boxes_.shown[0].caption, "Quellin Server");
    EXPECT_EQ(boxes_.shown[0].text, "only-box");
    EXPECT_EQ(boxes_.shown[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(boxes_.shown[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(boxes_.shown[1].text, "both");
}

TEST_F(ConsoleCoreTest, QuestionsUseTheQuestionIcon) {
    Reporter reporter(dir.folder(), boxes_);
    boxes_.answers.push_back(MsgAnswer::Yes);
    EXPECT_EQ(reporter.Ask("q", MsgButtons::YesNo, MsgAnswer::No), MsgAnswer::Yes);
    EXPECT_EQ(boxes_.shown[0].icon, MsgIcon::Question);
    EXPECT_EQ(boxes_.shown[0].defaultButton, MsgAnswer::No);
}

TEST_F(ConsoleCoreTest, StartUpReadsSettingsLoadsTableAndLogs) {
    WriteFile(dir / "firmifconvert.db", "Tarn-90A,Tarn-90\r\n");
    ConsoleApp app(dir.folder());
    EXPECT_EQ(app.settings().maxRows, 300);
    EXPECT_EQ(app.settings().firmDir, dir.folder() + "firmware");
    EXPECT_EQ(app.settings().loginId, "admin");
    EXPECT_EQ(LookUpConversion(app.conversionTable(), "Tarn-90A"), "Tarn-90");
    EXPECT_EQ(ToolLog(),
              "2017/04/01 09:30:00,Quellin_tool," + Sjis("ツールを起動しました。") + "\r\n");
}

TEST_F(ConsoleCoreTest, FreshFolderGivesThreeHundredNumberedRows) {
    ConsoleApp app(dir.folder());
    DeviceBook book = Loaded(app);
    ASSERT_EQ(book.rowCount(), 300);
    EXPECT_EQ(book.devices().front().row, 1);
    EXPECT_EQ(book.devices().back().row, 300);
    EXPECT_EQ(ReadFile(dir / "base.db"), Repeat(",,,,,,0,0,0,0,0,0\r\n", 300));
}

TEST_F(ConsoleCoreTest, NegativeMaxRowsBehavesAsThreeHundred) {
    WriteFile(dir / "NEXORA.INI", "[Config]\r\nMAXROWS=-5\r\n");
    ConsoleApp app(dir.folder());
    EXPECT_EQ(Loaded(app).rowCount(), 300);
}

TEST_F(ConsoleCoreTest, UnreadableRegistryStillGivesAFullList) {
    std::filesystem::create_directory(dir / "base.db");  // a folder cannot be read as a file
    WriteFile(dir / "NEXORA.INI", "[Config]\r\nMAXROWS=5\r\n");
    ConsoleApp app(dir.folder());
    DeviceBook book = Loaded(app);
    ASSERT_EQ(book.rowCount(), 5);
    EXPECT_EQ(book.devices()[4].row, 5);
}

TEST_F(ConsoleCoreTest, MaxRowsAboveTheLimitIsCappedAndSaidOnce) {
    WriteFile(dir / "NEXORA.INI", "[Config]\r\nMAXROWS=99999999999999\r\n");
    ConsoleApp app(dir.folder());
    EXPECT_TRUE(app.maxRowsOverLimit());
    DeviceBook book = Loaded(app);
    EXPECT_EQ(book.rowCount(), 100000);
    const std::string said =
        Sjis("最大装置数(MAXROWS)が上限の100000を超えているため、100000として扱います。");
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, said);
    EXPECT_EQ(boxes_.shown[0].caption, "Quellin Server");
    EXPECT_EQ(ToolLog(), "2017/04/01 09:30:00,Quellin_tool," + Sjis("ツールを起動しました。") +
                             "\r\n2017/04/01 09:30:00,Quellin_tool," + said + "\r\n");
    ASSERT_TRUE(book.Save());
    EXPECT_EQ(boxes_.shown.size(), 1u);
}

// Twenty-four devices registered, MAXROWS lowered to four: the twenty
// beyond are neither shown nor lost.
TEST_F(ConsoleCoreTest, DevicesBeyondMaxRowsAreKeptAndSaidOnce) {
    WriteFile(dir / "NEXORA.INI", "[Config]\r\nMAXROWS=4\r\n");
    std::string rows;
    for (int i = 1; i <= 24; ++i)
        rows += "branch" + std::to_string(i) + ",10.0.0." + std::to_string(i) + ",p,id" +
                std::to_string(i) + ",x,,0,0,0,0,0,0\r\n";
    rows += Repeat(",,,,,,0,0,0,0,0,0\r\n", 6);
    WriteFile(dir / "base.db", rows);
    ConsoleApp app(dir.folder());
    DeviceBook book = Loaded(app);
    ASSERT_EQ(book.rowCount(), 4);
    EXPECT_EQ(book.devices()[3].name, "branch4");
    const std::string said = Sjis(
        "最大装置数(MAXROWS)を超える行に登録された装置が20台あります。"
        "これらの装置は表示されませんが、登録は保持されます。");
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, said);
    EXPECT_NE(ToolLog().find(",Quellin_tool," + said + "\r\n"), std::string::npos);

    // Every save writes them back after the four rows shown.
    book.device(1) = CBase{2};
    ASSERT_TRUE(book.Save());
    ASSERT_TRUE(book.Save());
    const std::string expected =
        rows.substr(0, rows.find("branch2,")) + ",,,,,,0,0,0,0,0,0\r\n" +
        rows.substr(rows.find("branch3,"), rows.find(",,,,,,0") - rows.find("branch3,"));
    EXPECT_EQ(ReadFile(dir / "base.db"), expected);
    EXPECT_EQ(boxes_.shown.size(), 1u);
}

class SelectionTest : public ConsoleCoreTest {
protected:
    void SetUp() override {
        ConsoleCoreTest::SetUp();
        WriteFile(dir / "NEXORA.INI", "[Config]\r\nMAXROWS=4\r\n");
        WriteFile(dir / "base.db",
                  "a,,,,,,0,0,0,0,0,0\r\n,,,,,,0,0,0,0,0,0\r\nc,,,,,,0,0,0,0,0,0\r\n");
        session_.emplace(dir.folder(), ConsoleSeams{boxes_, waiter_, processes_, services_});
        session_->Start();
    }
    std::vector<std::string> Shown() const {
        std::vector<std::string> texts;
        for (const auto& box : boxes_.shown)
            texts.push_back(box.text);
        return texts;
    }

    OperationWaiter waiter_;
    FakeProcessControl processes_;
    FakeServiceManager services_;
    std::optional<ConsoleSession> session_;
};

TEST_F(SelectionTest, SettingsNeedsExactlyOneRow) {
    EXPECT_EQ(session_->RowForSettings({}), std::nullopt);
    EXPECT_EQ(session_->RowForSettings({0, 2}), std::nullopt);
    EXPECT_EQ(session_->RowForSettings({1}), 1);  // an empty row opens: that is how one registers
    EXPECT_EQ(Shown(), (std::vector<std::string>{Sjis("装置が選択されていません。"),
                                                 Sjis("複数の装置が選択されています。")}));
}

TEST_F(SelectionTest, MaintenanceNeedsNamedDevices) {
    EXPECT_TRUE(session_->RowsForMaintenance({}).empty());
    EXPECT_TRUE(session_->RowsForMaintenance({1}).empty());
    EXPECT_TRUE(session_->RowsForMaintenance({0, 1}).empty());
    EXPECT_EQ(session_->RowsForMaintenance({0}), std::vector<int>{0});
    EXPECT_EQ(session_->RowsForMaintenance({2, 0}), (std::vector<int>{0, 2}));
    EXPECT_EQ(Shown(), (std::vector<std::string>{Sjis("装置が選択されていません。"),
                                                 Sjis("未設定の装置が選択されています。"),
                                                 Sjis("未設定の装置が選択されています。")}));
    // Selection messages are shown only, never logged.
    EXPECT_FALSE(std::filesystem::exists(dir / "log" / ".log"));
}

TEST_F(SelectionTest, SaveWritesEveryRow) {
    session_->book().device(1).name = Sjis("支店");
    ASSERT_TRUE(session_->book().Save());
    EXPECT_EQ(ReadFile(dir / "base.db"), "a,,,,,,0,0,0,0,0,0\r\n" + Sjis("支店") +
                                             ",,,,,,0,0,0,0,0,0\r\nc,,,,,,0,0,0,0,0,0\r\n"
                                             ",,,,,,0,0,0,0,0,0\r\n");
}

TEST_F(SelectionTest, ExitIsLogged) {
    session_->Exit();
    EXPECT_NE(ToolLog().find(",Quellin_tool," + Sjis("ツールを終了しました。") + "\r\n"),
              std::string::npos);
}

// The console's start-up work, done by the session before any window
// exists: base.db padded and loaded, a left-over web service removed, past
// schedules dropped, in that order in the log.
TEST_F(ConsoleCoreTest, SessionStartDoesTheStartUpWork) {
    WriteFile(dir / "NEXORA.INI", "[Config]\r\nMAXROWS=3\r\n");
    WriteFile(dir / "base.db", "r1,10.0.0.1,,,,,0,0,0,1491038000,600,2\r\n");
    OperationWaiter waiter;
    FakeProcessControl processes;
    FakeServiceManager services;
    ConsoleSession session(dir.folder(), {boxes_, waiter, processes, services});
    services.services["NXR_HTTPD"] = {session.webService().runServiceCommand()};
    session.webService().setSleep([](std::chrono::milliseconds) {});
    EXPECT_EQ(session.book().rowCount(), 0) << "nothing is loaded before the start";
    session.Start();
    ASSERT_EQ(session.book().rowCount(), 3);
    EXPECT_EQ(session.book().devices()[0].logInterval, 0) << "the past schedule is dropped";
    EXPECT_TRUE(services.services.empty());
    EXPECT_EQ(ReadFile(dir / "base.db"),
              "r1,10.0.0.1,,,,,0,0,0,0,0,0\r\n,,,,,,0,0,0,0,0,0\r\n,,,,,,0,0,0,0,0,0\r\n");
    EXPECT_EQ(ToolLog(), "2017/04/01 09:30:00,Quellin_tool," + Sjis("ツールを起動しました。") +
                             "\r\n2017/04/01 09:30:00,Quellin_tool," +
                             Sjis("[ツール起動時にサービス検知] 導入サーバを停止しました。") +
                             "\r\n");
    session.Exit();
    EXPECT_NE(ToolLog().find(Sjis("ツールを終了しました。")), std::string::npos);
}

}  // namespace
}  // namespace quellin::console
