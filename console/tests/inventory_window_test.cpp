// The inventory window offscreen, opened from the main window's ツール menu
// on a console whose routers are simulated (tarnsim): rows arrive one by one
// while the window keeps answering, the table sorts, stops, exports its CSV
// and opens the maintenance dialog of the selected device.
#include "inventory_window.h"
#include "codec.h"
#include "console_window_test.h"
#include "fake_file_dialogs.h"
#include "fake_message_boxes.h"
#include "fake_processes.h"
#include "fake_service_manager.h"
#include "file_dialogs.h"
#include "main_window.h"
#include "tarnsim_client.h"
#include "test_support.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <set>
#include <sstream>

namespace quellin::console {
namespace {

namespace fs = std::filesystem;
namespace sim = quellin::tarn::testing;
using testing::ReadFile;
using testing::Sjis;
using testing::WriteFile;

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

int Port() {
    return sim::OwnPort(28000, 2000);
}

class InventoryWindowTest : public ConsoleWindowTest {
protected:
    void SetUp() override {
        block_ = sim::OwnAddressBlock(57);
        fs::create_directory(dir / "firmware");
        fs::create_directory(dir / "log");
        ASSERT_EQ(
            sim::RunProgram(sim::BinPath("tarnimage"), {"--model", "Tarn-90", "--version", "V30.10",
                                                        (dir / "firmware" / "tarn90.bin").string()})
                .status,
            0);
        WriteFile(dir / "NEXORA.INI", "[Config]\r\nFIRMDIR=" + dir.folder() +
                                          "firmware\r\nLOGDIR=" + dir.folder() +
                                          "log\r\nMAXROWS=10\r\n");
        // Six routers that take longer and longer to answer (a pause in the
        // middle of every answer, shorter than the receive timeout), and
        // one address where nothing listens.
        std::string fleet = "defaults password=pw telnet-port=" + std::to_string(Port()) +
                            " ftp-port=" + std::to_string(Port() + 1) + "\n";
        std::string registry;
        for (int i = 1; i <= 6; ++i) {
            const std::string address = block_ + std::to_string(10 + i);
            fleet += "router name=r" + std::to_string(i) + " address=" + address +
                     " model=Tarn-90 version=" + (i % 2 == 0 ? "V30.10" : "V30.01") +
                     " fault=" + (fault_.empty() ? "silence:" + std::to_string(120 * i) : fault_) +
                     "\n";
            registry += "r" + std::to_string(i) + "," + address + ",pw,,,,0,0,0,0,0,0\r\n";
        }
        registry += Sjis("不在") + "," + block_ + "19,pw,,,,0,0,0,0,0,0\r\n";
        WriteFile(dir / "base.db", registry);
        fleet_ = sim::StartFleet(dir.path(), fleet);
        ASSERT_TRUE(fleet_->ready());

        RouterTimings timings;
        timings.telnet.port = static_cast<std::uint16_t>(Port());
        timings.telnet.initialSleep = std::chrono::milliseconds(0);
        // A dialogue takes at least this long: a window thread held by one
        // would stop its timers for that long.
        timings.telnet.receiveTimeout = std::chrono::milliseconds(1000);
        OpenConsole(timings);
    }
    // The window and its session go before the routers they talk to.
    void TearDown() override {
        window_.reset();
        session_.reset();
    }

    CInventoryDlg* Open() {
        window_->menuAction(kCmdInventory)->trigger();
        CInventoryDlg* inventory = window_->inventoryWindow();
        EXPECT_NE(inventory, nullptr);
        return inventory;
    }
    template <typename T>
    T* Child(QWidget* parent, const char* name) const {
        T* child = parent->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    // Runs the event loop until the condition holds (at most 20 s).
    bool Until(const std::function<bool()>& condition) {
        QElapsedTimer waited;
        waited.start();
        while (!condition()) {
            if (waited.elapsed() > 20000)
                return false;
            QTest::qWait(10);
        }
        return true;
    }
    QString Cell(CInventoryDlg* inventory, int row, int column) {
        QAbstractItemModel* model = Child<QTableView>(inventory, "id1050")->model();
        return model->index(row, column).data().toString();
    }

    std::string fault_;  // every router's, instead of the pauses
    std::string block_;
    std::unique_ptr<sim::TarnsimProcess> fleet_;
};

// Routers that never fall silent hold a dialogue until its deadline.
class InventoryClosingTest : public InventoryWindowTest {
protected:
    InventoryClosingTest() { fault_ = "trickle:200"; }
};

TEST_F(InventoryWindowTest, RowsArriveWhileTheWindowAnswers) {
    CInventoryDlg* inventory = Open();
    ASSERT_NE(inventory, nullptr);
    EXPECT_TRUE(inventory->isVisible());
    EXPECT_FALSE(inventory->isModal());
    EXPECT_EQ(inventory->windowTitle(), U("装置インベントリ"));
    auto* table = Child<QTableView>(inventory, "id1050");
    auto* progress = Child<QProgressBar>(inventory, "id1051");
    auto* status = Child<QLabel>(inventory, "id1052");
    QAbstractItemModel* model = table->model();
    EXPECT_EQ(model->columnCount(), 8);
    EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), U("装置名"));
    EXPECT_EQ(model->headerData(6, Qt::Horizontal).toString(), U("判定"));

    // A timer of the window's thread keeps firing while the routers are
    // asked; the rows come one after the other, each shown at once.
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0;
    qint64 longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - lastTick);
        lastTick = clock.elapsed();
    });
    ticker.start(20);
    std::vector<int> counts;
    ASSERT_TRUE(Until([&] {
        if (counts.empty() || counts.back() != model->rowCount())
            counts.push_back(model->rowCount());
        return !inventory->logic().running();
    }));
    ticker.stop();
    EXPECT_TRUE(std::any_of(counts.begin(), counts.end(), [](int n) { return n > 0 && n < 7; }))
        << "the rows came all at once";
    EXPECT_LT(longestGap, 700) << "the window thread was held";
    ASSERT_EQ(model->rowCount(), 7);
    EXPECT_EQ(status->text(), U("完了 7/7 台"));
    EXPECT_EQ(progress->value(), 7);
    EXPECT_EQ(progress->maximum(), 7);
    EXPECT_FALSE(Child<QPushButton>(inventory, "id1053")->isEnabled());
    EXPECT_TRUE(Child<QPushButton>(inventory, "id1054")->isEnabled());

    // In row order, with the verdicts.
    EXPECT_EQ(Cell(inventory, 0, 0), U("r1"));
    EXPECT_EQ(Cell(inventory, 0, 3), U("V30.01")) << Cell(inventory, 0, 7).toStdString();
    EXPECT_EQ(Cell(inventory, 0, 5), U("tarn90.bin (V30.10)"));
    EXPECT_EQ(Cell(inventory, 0, 6), U("更新あり V30.10"));
    EXPECT_EQ(Cell(inventory, 1, 6), U("最新"));
    EXPECT_EQ(Cell(inventory, 6, 0), U("不在"));
    EXPECT_EQ(Cell(inventory, 6, 6), U("接続不可"));
    EXPECT_TRUE(Cell(inventory, 6, 7).startsWith(U("装置情報の取得に失敗しました。")));

    // A click on the verdict heading sorts by verdict; again, the other way.
    table->horizontalHeader()->setSortIndicator(6, Qt::AscendingOrder);
    EXPECT_EQ(Cell(inventory, 0, 6), U("最新"));
    EXPECT_EQ(Cell(inventory, 6, 6), U("接続不可"));
    table->horizontalHeader()->setSortIndicator(6, Qt::DescendingOrder);
    EXPECT_EQ(Cell(inventory, 0, 6), U("接続不可"));

    // Closed and opened again: the same window with its table.
    inventory->close();
    EXPECT_EQ(Open(), inventory);
    EXPECT_EQ(model->rowCount(), 7);
}

// The window's run tells what quellin inventory tells: one failure for the
// address where nothing listens, an update for each router behind.
TEST_F(InventoryWindowTest, TheRunTellsFailuresAndUpdatesLikeTheCommand) {
    const fs::path told = dir / "told.txt";
    const std::string hook = "/bin/sh -c \"echo $QUELLIN_EVENT >> " + told.string() + "\"";
    WriteFile(dir / "NEXORA.INI", ReadFile(dir / "NEXORA.INI") + "HookOnFailure=" + hook +
                                      "\r\nHookOnUpdate=" + hook + "\r\n");
    CInventoryDlg* inventory = Open();
    ASSERT_NE(inventory, nullptr);
    ASSERT_TRUE(Until([&] { return !inventory->logic().running(); }));
    std::istringstream lines(ReadFile(told));  // in the order the rows arrived
    std::multiset<std::string> events(std::istream_iterator<std::string>(lines), {});
    EXPECT_EQ(events, (std::multiset<std::string>{"failure", "update", "update", "update"}));
}

TEST_F(InventoryWindowTest, ExportWritesTheTableAsCsv) {
    CInventoryDlg* inventory = Open();
    ASSERT_NE(inventory, nullptr);
    ASSERT_TRUE(Until([&] { return !inventory->logic().running(); }));

    const fs::path cp932 = dir / "inventory.csv";
    files_.answers = {QString::fromStdString(cp932.string())};
    QTest::mouseClick(Child<QPushButton>(inventory, "id1055"), Qt::LeftButton);
    ASSERT_EQ(files_.requests.size(), 1u);
    EXPECT_EQ(files_.requests[0].kind, U("save"));
    const std::string text = ReadFile(cp932);
    EXPECT_EQ(text.rfind(Sjis("装置名,IPアドレス,機種,バージョン,起動構成,ソフトウェアファイル,"
                              "判定,詳細\r\n"),
                         0),
              0u);
    EXPECT_NE(text.find("\r\nr1," + block_ + "11,Tarn-90,V30.01,config1,tarn90.bin (V30.10)," +
                        Sjis("更新あり V30.10") + ",\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\r\n" + Sjis("不在") + "," + block_ + "19,,,,," + Sjis("接続不可") + ","),
              std::string::npos);

    // UTF-8 on request, marked for spreadsheets.
    Child<QCheckBox>(inventory, "id1056")->setChecked(true);
    const fs::path utf8 = dir / "inventory-utf8.csv";
    files_.answers = {QString::fromStdString(utf8.string())};
    QTest::mouseClick(Child<QPushButton>(inventory, "id1055"), Qt::LeftButton);
    const std::string unicode = ReadFile(utf8);
    EXPECT_EQ(unicode.rfind("\xEF\xBB\xBF装置名,", 0), 0u);
    EXPECT_NE(unicode.find("\r\n不在,"), std::string::npos);

    // A folder that cannot take the file is told.
    files_.answers = {QString::fromStdString((dir / "none" / "x.csv").string())};
    QTest::mouseClick(Child<QPushButton>(inventory, "id1055"), Qt::LeftButton);
    ASSERT_FALSE(boxes_.shown.empty());
    EXPECT_EQ(boxes_.shown.back().text.rfind(Sjis("CSVファイルの書込みに失敗しました。"), 0), 0u);
}

TEST_F(InventoryWindowTest, StopEndsTheRunAndMaintenanceOpensTheDevice) {
    CInventoryDlg* inventory = Open();
    ASSERT_NE(inventory, nullptr);
    ASSERT_TRUE(Until([&] { return !inventory->logic().running(); }));

    // Asked again and stopped: the devices under way still report.
    auto* again = Child<QPushButton>(inventory, "id1054");
    auto* stop = Child<QPushButton>(inventory, "id1053");
    QTest::mouseClick(again, Qt::LeftButton);
    EXPECT_TRUE(stop->isEnabled());
    EXPECT_FALSE(again->isEnabled());
    EXPECT_EQ(Child<QTableView>(inventory, "id1050")->model()->rowCount(), 0);
    QTest::mouseClick(stop, Qt::LeftButton);
    ASSERT_TRUE(Until([&] { return !inventory->logic().running(); }));
    EXPECT_TRUE(Child<QLabel>(inventory, "id1052")->text().startsWith(U("停止しました ")));
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_TRUE(again->isEnabled());

    QTest::mouseClick(again, Qt::LeftButton);
    ASSERT_TRUE(Until([&] { return !inventory->logic().running(); }));

    // Nothing selected: the operator is told; a selected device opens its
    // maintenance dialog.
    QTest::mouseClick(Child<QPushButton>(inventory, "id1057"), Qt::LeftButton);
    ASSERT_FALSE(boxes_.shown.empty());
    EXPECT_EQ(boxes_.shown.back().text, Sjis("装置が選択されていません。"));
    Child<QTableView>(inventory, "id1050")->selectRow(2);
    QString title;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        title = dialog->windowTitle();
        qobject_cast<QDialog*>(dialog)->reject();
    });
    QTest::mouseClick(Child<QPushButton>(inventory, "id1057"), Qt::LeftButton);
    EXPECT_EQ(title, U("メンテナンス   < r3 >"));
    EXPECT_EQ(window_->selectedRows(), std::vector<int>{2});
}

// Closing the console does not wait for the dialogues under way: they are
// cut short, and the console ends at once.
TEST_F(InventoryClosingTest, ClosingTheConsoleCutsTheDialoguesUnderWay) {
    ASSERT_NE(Open(), nullptr);
    ASSERT_TRUE(Until([&] {
        return ReadFile(dir / "sim" / "journal.jsonl").find("\"trickle\"") != std::string::npos;
    }));
    const auto closing = std::chrono::steady_clock::now();
    window_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(5));
}

}  // namespace
}  // namespace quellin::console
