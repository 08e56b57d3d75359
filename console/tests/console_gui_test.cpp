#include "about_dialog.h"
#include "console_window_test.h"
#include "device_list_model.h"
#include "device_settings_dialog.h"
#include "elided_label.h"
#include "environment_dialog.h"
#include "fake_file_dialogs.h"
#include "fake_processes.h"
#include "fake_service_manager.h"
#include "file_dialogs.h"
#include "main_window.h"
#include "maintenance_dialog.h"
#include "multi_maintenance_dialog.h"
#include "qt_operation_waiter.h"
#include "scripted_maintenance.h"
#include "wait_dialogs.h"

#include "codec.h"
#include "test_support.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>

#include <gtest/gtest.h>

namespace quellin::console {
namespace {

using testing::ReadFile;
using testing::Sjis;
using testing::WriteFile;

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Runs `act` on the modal dialog that is about to open (once its loop runs).
template <typename Dialog>
void OnNextDialog(std::function<void(Dialog*)> act) {
    QTimer::singleShot(0, [act] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        act(dialog);
    });
}

void CloseNextDialog() {
    OnNextDialog<QDialog>([](QDialog* d) { d->reject(); });
}

class MainWindowTest : public ConsoleWindowTest {
protected:
    void SetUp() override {
        WriteFile(dir / "base.db", "branch01,10.0.0.1,,,,,0,0,0,0,0,0\r\n,,,,,,0,0,0,0,0,0\r\n" +
                                       Sjis("本社") + ",10.0.0.3,,,,,0,0,0,0,0,0\r\n");
        OpenConsole();
    }

    template <typename T>
    T* Child(const char* name) const {
        T* child = window_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    QTableView* List() const { return Child<QTableView>("id1004"); }
    void Click(const char* button) {
        QTest::mouseClick(Child<QPushButton>(button), Qt::LeftButton);
    }
    std::vector<std::string> Shown() const {
        std::vector<std::string> texts;
        for (const auto& box : boxes_.shown)
            texts.push_back(box.text);
        return texts;
    }
};

TEST_F(MainWindowTest, ShowsEveryRowWithItsColumns) {
    EXPECT_EQ(window_->windowTitle(), U("Quellin Server"));
    QAbstractItemModel* model = List()->model();
    ASSERT_EQ(model->rowCount(), 300);
    EXPECT_EQ(model->headerData(0, Qt::Horizontal).toString(), U("No."));
    EXPECT_EQ(model->headerData(1, Qt::Horizontal).toString(), U("装置名"));
    EXPECT_EQ(model->headerData(2, Qt::Horizontal).toString(), U("IPアドレス"));
    EXPECT_EQ(List()->horizontalHeader()->sectionSize(0), 40);
    EXPECT_EQ(List()->horizontalHeader()->sectionSize(1), 300);
    EXPECT_EQ(List()->horizontalHeader()->sectionSize(2), 90);
    EXPECT_EQ(model->index(0, 0).data().toString(), U("1"));
    EXPECT_EQ(model->index(2, 1).data().toString(), U("本社"));
    EXPECT_EQ(model->index(2, 2).data().toString(), U("10.0.0.3"));
    EXPECT_EQ(model->index(299, 0).data().toString(), U("300"));
    EXPECT_EQ(List()->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(List()->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(window_->selectedRows(), std::vector<int>{0});
}

TEST_F(MainWindowTest, ControlsCarryTheirTexts) {
    EXPECT_EQ(Child<QGroupBox>("groupDevices")->title(), U("装置一覧"));
    EXPECT_EQ(Child<QPushButton>("id1006")->text(), U("設定"));
    EXPECT_EQ(Child<QPushButton>("id1007")->text(), U("メンテナンス"));
    EXPECT_TRUE(Child<QPushButton>("id1007")->isDefault());
    EXPECT_EQ(Child<QPushButton>("id2")->text(), U("終了"));
    EXPECT_EQ(Child<QLabel>("id1029")->text(), U("システムログサーバ状態 ："));
    EXPECT_EQ(Child<QLabel>("id1031")->text(), U("停止中"));
    EXPECT_TRUE(Child<QLabel>("id1031")->font().bold());
}

TEST_F(MainWindowTest, MenuHasEveryItemWithItsState) {
    struct Item {
        int id;
        const char* text;
        bool enabled;
    };
    for (const Item& item :
         {Item{142, "終了(&X)", true}, Item{134, "環境設定(&E)", true},
          Item{137, "システムログ起動(&L)", true}, Item{138, "システムログ停止(&K)", false},
          Item{32771, "ヘルプ(&H)", true}, Item{140, "バージョン情報(&A)", true},
          Item{32772, "装置インベントリ(&I)...", true}}) {
        QAction* action = window_->menuAction(item.id);
        ASSERT_NE(action, nullptr) << item.id;
        EXPECT_EQ(action->text(), U(item.text));
        EXPECT_EQ(action->isEnabled(), item.enabled) << item.id;
    }
    QStringList titles;
    for (QAction* menu : Child<QMenuBar>("id133")->actions())
        titles << menu->text();
    EXPECT_EQ(titles,
              (QStringList{U("ファイル(&F)"), U("設定(&C)"), U("ツール(&T)"), U("ヘルプ(&H)")}));
    // The inventory comes after the original items of ツール.
    QStringList tools;
    for (QAction* action : Child<QMenuBar>("id133")->actions()[2]->menu()->actions())
        tools << (action->isSeparator() ? U("-") : action->objectName());
    EXPECT_EQ(tools, (QStringList{U("cmd137"), U("cmd138"), U("-"), U("cmd32772")}));
}

TEST_F(MainWindowTest, SettingsButtonChecksTheSelection) {
    QSignalSpy opened(window_.get(), &CNEXORADlg::deviceSettingsRequested);
    window_->selectRows({});
    Click("id1006");
    window_->selectRows({0, 2});
    Click("id1006");
    EXPECT_EQ(opened.count(), 0);
    window_->selectRows({1});
    CloseNextDialog();
    Click("id1006");
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened.at(0).at(0).toInt(), 1);
    EXPECT_EQ(Shown(), (std::vector<std::string>{Sjis("装置が選択されていません。"),
                                                 Sjis("複数の装置が選択されています。")}));
}

TEST_F(MainWindowTest, DoubleClickOpensSettings) {
    QSignalSpy opened(window_.get(), &CNEXORADlg::deviceSettingsRequested);
    QTableView* list = List();
    QRect cell = list->visualRect(list->model()->index(2, 1));
    // An item view acts on a double click only after the press that starts it.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    CloseNextDialog();
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened.at(0).at(0).toInt(), 2);
}

TEST_F(MainWindowTest, MaintenanceButtonNeedsNamedDevices) {
    QSignalSpy opened(window_.get(), &CNEXORADlg::maintenanceRequested);
    window_->selectRows({1});
    Click("id1007");
    window_->selectRows({0, 1});
    Click("id1007");
    EXPECT_EQ(opened.count(), 0);
    window_->selectRows({2, 0});
    QString title;
    OnNextDialog<QDialog>([&](QDialog* d) {
        title = d->windowTitle();
        d->reject();
    });
    Click("id1007");
    EXPECT_EQ(title, U("複数装置メンテナンス"));
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened.at(0).at(0).value<std::vector<int>>(), (std::vector<int>{0, 2}));
    EXPECT_EQ(Shown(), (std::vector<std::string>{Sjis("未設定の装置が選択されています。"),
                                                 Sjis("未設定の装置が選択されています。")}));
}

TEST_F(MainWindowTest, MaintenanceOpensTheDialogOfTheDevice) {
    window_->selectRows({2});
    QString title;
    OnNextDialog<QDialog>([&](QDialog* d) {
        title = d->windowTitle();
        d->reject();
    });
    Click("id1007");
    EXPECT_EQ(title, U("メンテナンス   < 本社 >"));
}

TEST_F(MainWindowTest, SaveAndRefreshSelectionRedrawsAndWrites) {
    window_->selectRows({1});
    session_->book().device(1).name = "new";
    session_->book().device(1).address = "10.0.0.2";
    window_->SaveAndRefreshSelection();
    EXPECT_EQ(List()->model()->index(1, 1).data().toString(), U("new"));
    EXPECT_EQ(ReadFile(dir / "base.db").substr(0, 65),
              "branch01,10.0.0.1,,,,,0,0,0,0,0,0\r\nnew,10.0.0.2,,,,,0,0,0,0,0,0\r\n");
}

TEST_F(MainWindowTest, HelpOpensThePageBesideTheProgram) {
    QString opened;
    window_->setHelpOpener([&](const QString& path) { opened = path; });
    window_->menuAction(kCmdHelp)->trigger();
    EXPECT_EQ(opened, QString::fromStdString(dir.folder() + "/Quellin_tool.html"));
}

TEST_F(MainWindowTest, AboutBoxShowsProductAndVersion) {
    QString title, product;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        ASSERT_NE(about, nullptr);
        title = about->windowTitle();
        product = about->findChild<QLabel*>(QStringLiteral("productLabel"))->text();
        QTest::mouseClick(about->findChild<QPushButton*>(QStringLiteral("id1")), Qt::LeftButton);
    });
    window_->menuAction(kCmdAbout)->trigger();
    EXPECT_EQ(title, U("バージョン情報"));
    EXPECT_EQ(product, U("Quellin Server Version 1.1"));
}

TEST_F(MainWindowTest, ExitButtonLogsAndCloses) {
    Click("id2");
    EXPECT_FALSE(window_->isVisible());
    EXPECT_NE(ReadFile(dir / "log" / "Quellin_tool.log")
                  .find(",Quellin_tool," + Sjis("ツールを終了しました。") + "\r\n"),
              std::string::npos);
}

TEST_F(MainWindowTest, EscapeAndCloseBoxExitOnce) {
    QTest::keyClick(List(), Qt::Key_Escape);
    EXPECT_FALSE(window_->isVisible());
    window_->close();
    std::string log = ReadFile(dir / "log" / "Quellin_tool.log");
    std::string exit = Sjis("ツールを終了しました。");
    EXPECT_EQ(log.find(exit), log.rfind(exit)) << "the exit line is written once";
}

TEST_F(MainWindowTest, DeviceSettingsDialogRegistersARowAndRedrawsIt) {
    window_->selectRows({1});
    OnNextDialog<CBaseDlg>([](CBaseDlg* d) {
        EXPECT_EQ(d->windowTitle(), U("装置設定"));
        EXPECT_TRUE(d->findChild<QLineEdit*>(QStringLiteral("id1008"))->isReadOnly());
        EXPECT_FALSE(d->findChild<QPushButton*>(QStringLiteral("id3"))->isVisible());
        // Typed through an input method; QTest only types ASCII keys.
        d->findChild<QLineEdit*>(QStringLiteral("id1016"))->insert(U("支店02"));
        QTest::keyClicks(d->findChild<QLineEdit*>(QStringLiteral("id1018")), U("10.0.0.2"));
        QTest::keyClicks(d->findChild<QLineEdit*>(QStringLiteral("id1019")), U("acc02"));
        // The passwords show only while asked to.
        auto* password = d->findChild<QLineEdit*>(QStringLiteral("id1021"));
        EXPECT_EQ(password->echoMode(), QLineEdit::Password);
        EXPECT_EQ(d->findChild<QLineEdit*>(QStringLiteral("id1020"))->echoMode(),
                  QLineEdit::Password);
        auto* show = d->findChild<QCheckBox*>(QStringLiteral("id1058"));
        QTest::mouseClick(show, Qt::LeftButton);
        EXPECT_EQ(password->echoMode(), QLineEdit::Normal);
        QTest::mouseClick(show, Qt::LeftButton);
        EXPECT_EQ(password->echoMode(), QLineEdit::Password);
        QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("id1")), Qt::LeftButton);
    });
    Click("id1006");
    EXPECT_EQ(List()->model()->index(1, 1).data().toString(), U("支店02"));
    EXPECT_EQ(List()->model()->index(1, 2).data().toString(), U("10.0.0.2"));
    EXPECT_NE(ReadFile(dir / "base.db").find(Sjis("支店02") + ",10.0.0.2,,acc02,"),
              std::string::npos);
}

TEST_F(MainWindowTest, DeviceSettingsBrowseAndInitialize) {
    window_->selectRows({0});
    files_.answers = {QStringLiteral("/etc/branch01.cfg"), QString()};
    OnNextDialog<CBaseDlg>([](CBaseDlg* d) {
        auto* browse = d->findChild<QPushButton*>(QStringLiteral("id1017"));
        QTest::mouseClick(browse, Qt::LeftButton);
        EXPECT_EQ(d->findChild<QLineEdit*>(QStringLiteral("id1008"))->text(),
                  U("/etc/branch01.cfg"));
        QTest::mouseClick(browse, Qt::LeftButton);  // cancelled: the choice stays
        EXPECT_EQ(d->findChild<QLineEdit*>(QStringLiteral("id1008"))->text(),
                  U("/etc/branch01.cfg"));
        QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("id4")), Qt::LeftButton);
        EXPECT_TRUE(d->findChild<QLineEdit*>(QStringLiteral("id1016"))->text().isEmpty());
        EXPECT_TRUE(d->findChild<QLineEdit*>(QStringLiteral("id1008"))->text().isEmpty());
        d->reject();
    });
    Click("id1006");
    ASSERT_EQ(files_.requests.size(), 2u);
    EXPECT_EQ(files_.requests[0].kind, U("open"));
    EXPECT_EQ(session_->book().device(0).name, "branch01") << "キャンセル stores nothing";
}

TEST_F(MainWindowTest, EnvironmentDialogKeepsTheTextWhenTheChooserIsCancelled) {
    files_.answers = {QString(), QStringLiteral("/srv/logs")};
    OnNextDialog<CConfigDlg>([](CConfigDlg* d) {
        EXPECT_EQ(d->windowTitle(), U("環境設定"));
        auto* firm = d->findChild<QLineEdit*>(QStringLiteral("id1010"));
        const QString before = firm->text();
        QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("id1011")), Qt::LeftButton);
        EXPECT_EQ(firm->text(), before);
        QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("id1013")), Qt::LeftButton);
        EXPECT_EQ(d->findChild<QLineEdit*>(QStringLiteral("id1012"))->text(), U("/srv/logs"));
        QTest::mouseClick(d->findChild<QPushButton*>(QStringLiteral("id1")), Qt::LeftButton);
    });
    window_->menuAction(kCmdEnvironment)->trigger();
    ASSERT_EQ(files_.requests.size(), 2u);
    EXPECT_EQ(files_.requests[0].title, U("ソフトウェア格納フォルダを選択してください"));
    EXPECT_EQ(files_.requests[0].filterOrStart, QString::fromStdString(dir.folder() + "firmware"));
    EXPECT_EQ(files_.requests[1].title, U("ログファイル格納フォルダを選択してください"));
    EXPECT_EQ(session_->app().settings().logDir, "/srv/logs");
    EXPECT_NE(ReadFile(dir / "NEXORA.INI").find("LOGDIR=/srv/logs\r\n"), std::string::npos);
}

class MaintenanceDialogTest : public testing::TempDirTest {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        clock_.Set(1514196000);  // 2017/12/25 10:00:00
        SetClockForTesting(&clock_);
        device_.name = "Osaka-1";
        device_.address = "127.0.0.2";
    }
    void TearDown() override { SetClockForTesting(nullptr); }

    template <typename T>
    T* Child(QWidget* dialog, const char* name) {
        T* child = dialog->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    FakeClock clock_;
    FakeMessageBoxes boxes_;
    Reporter reporter_{dir.folder(), boxes_};
    MessageBoxQuestions questions_{reporter_};
    ScriptedRouter router_;
    QWidget owner_;
    QtOperationWaiter waiter_{&owner_};
    MaintenanceRunner runner_{router_, reporter_, questions_, waiter_};
    BusyFlag busy_;
    CBase device_;
    int saves_ = 0;
};

TEST_F(MaintenanceDialogTest, OpensWithTheDeviceState) {
    MaintenanceDialogLogic logic(device_, runner_, questions_, reporter_, busy_, [] {});
    CMainteDlg dialog(logic);
    EXPECT_EQ(dialog.windowTitle(), U("メンテナンス   < Osaka-1 >"));
    for (const char* edit : {"id1026", "id1027", "id1028"})
        EXPECT_EQ(Child<QLineEdit>(&dialog, edit)->text(), U("未実施")) << edit;
    EXPECT_EQ(Child<QLineEdit>(&dialog, "id1031")->text(), U("未登録"));
    EXPECT_EQ(Child<QPushButton>(&dialog, "id1037")->text(), U("スケジュール実行"));
    EXPECT_EQ(Child<QPushButton>(&dialog, "id1025")->text(), U("即時実行\n（１回のみ）"));
    EXPECT_EQ(Child<QTimeEdit>(&dialog, "id1022")->displayFormat(), U("HH:mm"));
    auto* intervals = Child<QComboBox>(&dialog, "id1034");
    ASSERT_EQ(intervals->count(), 6);
    EXPECT_EQ(intervals->itemText(5), U("60分おき"));
    EXPECT_EQ(Child<QComboBox>(&dialog, "id1035")->count(), 10);
}

TEST_F(MaintenanceDialogTest, RegistersAScheduleFromTheLists) {
    MaintenanceDialogLogic logic(device_, runner_, questions_, reporter_, busy_,
                                 [this] { ++saves_; });
    CMainteDlg dialog(logic);
    Child<QComboBox>(&dialog, "id1034")->setCurrentIndex(2);
    Child<QComboBox>(&dialog, "id1035")->setCurrentIndex(2);
    QTest::mouseClick(Child<QPushButton>(&dialog, "id1037"), Qt::LeftButton);
    EXPECT_EQ(device_.logInterval, 1800);
    EXPECT_EQ(device_.logRepeatCount, 3);
    EXPECT_EQ(Child<QLineEdit>(&dialog, "id1031")->text(), U("2017/12/25 10:30:00"));
    EXPECT_EQ(Child<QPushButton>(&dialog, "id1037")->text(), U("スケジュール削除"));

    device_.logRepeatCount = 2;
    CMainteDlg reopened(logic);
    EXPECT_EQ(Child<QComboBox>(&reopened, "id1034")->currentText(), U("30分おき"));
    EXPECT_EQ(Child<QComboBox>(&reopened, "id1035")->currentText(), U("2回"));
}

TEST_F(MaintenanceDialogTest, OperationRunsOffTheWindowThreadAndLeavesNoWaitWindow) {
    MaintenanceDialogLogic logic(device_, runner_, questions_, reporter_, busy_,
                                 [this] { ++saves_; });
    CMainteDlg dialog(logic);
    QTest::mouseClick(Child<QPushButton>(&dialog, "id1025"), Qt::LeftButton);
    EXPECT_EQ(router_.calls.back(), "CollectLog Osaka-1");
    EXPECT_NE(router_.collectThread, std::this_thread::get_id());
    EXPECT_EQ(CurrentWaitDialog(), nullptr);
    EXPECT_EQ(Child<QLineEdit>(&dialog, "id1028")->text(), U("2017/12/25 10:00:00"));
    EXPECT_EQ(saves_, 1);

    router_.succeed = false;
    clock_.Advance(60);
    QTest::mouseClick(Child<QPushButton>(&dialog, "id1025"), Qt::LeftButton);
    EXPECT_EQ(CurrentWaitDialog(), nullptr);
    EXPECT_EQ(Child<QLineEdit>(&dialog, "id1028")->text(), U("2017/12/25 10:00:00"));
}

// Message boxes that let the test look at the dialog while one is up.
class PeekingMessageBoxes final : public MessageBoxes {
public:
    MsgAnswer Show(const MessageBoxRequest& request) override {
        shown.push_back(request.text);
        if (onShow)
            onShow();
        return request.defaultButton;
    }
    std::function<void()> onShow;
    std::vector<std::string> shown;
};

TEST_F(MaintenanceDialogTest, NewTimeIsShownAndSavedBeforeTheClosingMessage) {
    PeekingMessageBoxes boxes;
    Reporter reporter(dir.folder(), boxes);
    MessageBoxQuestions questions(reporter);
    MaintenanceRunner runner(router_, reporter, questions, waiter_);
    device_.configFile = (dir / "osaka-1.cfg").string();
    WriteFile(device_.configFile, "hostname osaka-1\r\n");
    MaintenanceDialogLogic logic(device_, runner, questions, reporter, busy_, [this] { ++saves_; });
    CMainteDlg dialog(logic);
    struct Row {
        const char* button;
        const char* edit;
        const char* closing;
    };
    const Row rows[] = {{"id1020", "id1026", "即時反映を終了しました。"},
                        {"id1024", "id1027", "ソフトウェア更新を終了しました。"},
                        {"id1025", "id1028", "ログ採取を終了しました。"}};
    int expectedSaves = 0;
    for (const Row& row : rows) {
        QString shownTime;
        int savesThen = -1;
        boxes.onShow = [&] {
            shownTime = Child<QLineEdit>(&dialog, row.edit)->text();
            savesThen = saves_;
        };
        EXPECT_EQ(Child<QLineEdit>(&dialog, row.edit)->text(), U("未実施")) << row.button;
        QTest::mouseClick(Child<QPushButton>(&dialog, row.button), Qt::LeftButton);
        ASSERT_FALSE(boxes.shown.empty());
        EXPECT_EQ(boxes.shown.back(), Sjis(row.closing));
        EXPECT_EQ(shownTime, U("2017/12/25 10:00:00")) << row.button;
        EXPECT_EQ(savesThen, ++expectedSaves) << row.button;
    }
}

TEST_F(MaintenanceDialogTest, MultiDeviceDialogLayout) {
    MultiMaintenanceLogic logic({&device_}, runner_, questions_, reporter_, busy_, [] {});
    CMainteDlgMulti dialog(logic);
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), U("複数装置メンテナンス"));
    EXPECT_FALSE(Child<QLineEdit>(&dialog, "id1026")->isVisible());
    EXPECT_EQ(dialog.findChild<QLineEdit*>(QStringLiteral("id1031")), nullptr);
    EXPECT_EQ(Child<QPushButton>(&dialog, "id1037")->text(), U("スケジュール実行"));
    EXPECT_EQ(Child<QPushButton>(&dialog, "id1038")->text(), U("スケジュール削除"));
    EXPECT_EQ(Child<QComboBox>(&dialog, "id1034")->currentText(), U("10分おき"));
    EXPECT_EQ(Child<QComboBox>(&dialog, "id1035")->currentText(), U("1回"));
    boxes_.answers = {MsgAnswer::Yes};
    QTest::mouseClick(Child<QPushButton>(&dialog, "id1025"), Qt::LeftButton);
    EXPECT_EQ(router_.calls.back(), "CollectLog Osaka-1 unattended");
    EXPECT_EQ(CurrentDeviceWaitDialog(), nullptr);
}

TEST_F(MainWindowTest, SyslogServerStartsAndStopsFromTheMenu) {
    window_->menuAction(kCmdStartSyslog)->trigger();
    ASSERT_EQ(processes_.started.size(), 1u);
    EXPECT_EQ(processes_.started[0], dir.folder() + "syslog/Syslogd");
    EXPECT_FALSE(window_->menuAction(kCmdStartSyslog)->isEnabled());
    EXPECT_TRUE(window_->menuAction(kCmdStopSyslog)->isEnabled());
    // The status follows at the next tick of the one-second timer.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return Child<QLabel>("id1031")->text() == U("起動中"); }, 5000));
    EXPECT_EQ(Child<QLabel>("id1031")->palette().color(QPalette::WindowText), QColor(0, 0, 255));

    window_->menuAction(kCmdStopSyslog)->trigger();
    EXPECT_EQ(processes_.quitRequests, std::vector<int>{4242});
    EXPECT_TRUE(window_->menuAction(kCmdStartSyslog)->isEnabled());
    EXPECT_FALSE(window_->menuAction(kCmdStopSyslog)->isEnabled());
    const std::string log = ReadFile(dir / "log" / "Quellin_tool.log");
    EXPECT_LT(log.find(Sjis("システムログサーバを起動しました。")),
              log.find(Sjis("システムログサーバを停止しました。")));
}

TEST_F(MainWindowTest, SyslogdClosedByOtherMeansIsSeenWithinATick) {
    processes_.running[dir.folder() + "syslog/Syslogd"] = 777;
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return Child<QLabel>("id1031")->text() == U("起動中"); }, 5000));
    EXPECT_TRUE(window_->menuAction(kCmdStopSyslog)->isEnabled());
    processes_.running.clear();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return Child<QLabel>("id1031")->text() == U("停止中"); }, 5000));
    EXPECT_TRUE(window_->menuAction(kCmdStartSyslog)->isEnabled());
}

// A Syslogd that started from the menu and ended before the next check:
// the status follows the check.
TEST_F(MainWindowTest, SyslogdThatEndedBetweenTwoTicksShowsStopped) {
    auto* timer = window_->findChild<QTimer*>(QStringLiteral("timer1"));
    ASSERT_NE(timer, nullptr);
    QSignalSpy ticks(timer, &QTimer::timeout);
    window_->menuAction(kCmdStartSyslog)->trigger();
    ASSERT_EQ(processes_.started.size(), 1u);
    processes_.running.clear();
    ASSERT_TRUE(ticks.wait(5000));
    EXPECT_EQ(Child<QLabel>("id1031")->text(), U("停止中"));
    EXPECT_EQ(Child<QLabel>("id1031")->palette().color(QPalette::WindowText), QColor(0, 0, 0));
    EXPECT_TRUE(window_->menuAction(kCmdStartSyslog)->isEnabled());
    EXPECT_FALSE(window_->menuAction(kCmdStopSyslog)->isEnabled());

    // Started again, it is seen running at the next tick.
    window_->menuAction(kCmdStartSyslog)->trigger();
    ASSERT_TRUE(ticks.wait(5000));
    EXPECT_EQ(Child<QLabel>("id1031")->text(), U("起動中"));
    EXPECT_TRUE(window_->menuAction(kCmdStopSyslog)->isEnabled());
}

TEST_F(MainWindowTest, ExitStopsSyslogdBeforeItsOwnLine) {
    window_->menuAction(kCmdStartSyslog)->trigger();
    Click("id2");
    const std::string log = ReadFile(dir / "log" / "Quellin_tool.log");
    auto stopped = log.find(Sjis("システムログサーバを停止しました。"));
    ASSERT_NE(stopped, std::string::npos);
    EXPECT_LT(stopped, log.find(Sjis("ツールを終了しました。")));
}

TEST_F(MainWindowTest, FailedStartIsLoggedAndShown) {
    processes_.startSucceeds = false;
    window_->menuAction(kCmdStartSyslog)->trigger();
    EXPECT_EQ(Shown(), std::vector<std::string>{Sjis("システムログサーバの起動に失敗しました。")});
    EXPECT_TRUE(window_->menuAction(kCmdStartSyslog)->isEnabled());
}

TEST_F(MainWindowTest, SessionEndStopsSyslogdAndRemovesTheService) {
    window_->menuAction(kCmdStartSyslog)->trigger();
    services_.services["NXR_HTTPD"] = {session_->webService().runServiceCommand()};
    window_->onSessionEnd();
    EXPECT_TRUE(processes_.running.empty());
    EXPECT_TRUE(services_.services.empty());
    const std::string log = ReadFile(dir / "log" / "Quellin_tool.log");
    EXPECT_NE(log.find(Sjis("[Windowsシャットダウン検知] 導入サーバを停止しました。")),
              std::string::npos);
    EXPECT_EQ(log.find(Sjis("ツールを終了しました。")), std::string::npos);
}

class WebServiceTest : public MainWindowTest {
protected:
    void SetUp() override {}  // the window is built by each test, after the service is set up
    void Build() { MainWindowTest::SetUp(); }
};

TEST_F(WebServiceTest, MatchingServiceIsRemovedAtStartUp) {
    services_.services["NXR_HTTPD"] = {"\"" + dir.folder() + "httpd/bin/httpd\" -k runservice"};
    Build();
    EXPECT_TRUE(services_.services.empty());
    EXPECT_NE(ReadFile(dir / "log" / "Quellin_tool.log")
                  .find(Sjis("[ツール起動時にサービス検知] 導入サーバを停止しました。")),
              std::string::npos);
}

TEST_F(WebServiceTest, ServiceWithAnotherCommandIsLeftAlone) {
    services_.services["NXR_HTTPD"] = {"\"/usr/sbin/apache2\" -k runservice"};
    Build();
    EXPECT_EQ(services_.services.size(), 1u);
    EXPECT_EQ(ReadFile(dir / "log" / "Quellin_tool.log").find(Sjis("導入サーバ")),
              std::string::npos);
}

TEST(WaitDialogs, OpenAndCloseWithTheirTexts) {
    QWidget owner;
    ShowWaitDialog(&owner);
    ASSERT_NE(CurrentWaitDialog(), nullptr);
    EXPECT_EQ(CurrentWaitDialog()->windowTitle(), U("処理中"));
    EXPECT_EQ(CurrentWaitDialog()->findChild<QLabel*>(QStringLiteral("idStatic"))->text(),
              U("しばらくお待ちください ･･･"));
    CurrentWaitDialog()->close();  // the operator cannot close it
    EXPECT_TRUE(CurrentWaitDialog()->isVisible());
    CloseWaitDialog();
    EXPECT_EQ(CurrentWaitDialog(), nullptr);
}

TEST(WaitDialogs, DeviceNameEndsWithAnEllipsisWhenTooLong) {
    QWidget owner;
    ShowDeviceWaitDialog(&owner, QString(), U("しばらくお待ちください ･･･"));
    CWaitPluralDlg* wait = CurrentDeviceWaitDialog();
    ASSERT_NE(wait, nullptr);
    EXPECT_EQ(wait->findChild<QLabel*>(QStringLiteral("id1032"))->text(), U("対象装置名 :"));
    UpdateDeviceWaitDialog(QString(64, QLatin1Char('W')), U("ログ採取中"));
    auto* name = wait->findChild<ElidedLabel*>(QStringLiteral("id1031"));
    EXPECT_TRUE(name->shownText().endsWith(QChar(0x2026))) << name->shownText().toStdString();
    UpdateDeviceWaitDialog(U("branch01"), U("ログ採取中"));
    EXPECT_EQ(name->shownText(), U("branch01"));
    EXPECT_EQ(wait->findChild<QLabel*>(QStringLiteral("idMessage"))->text(), U("ログ採取中"));
    CloseDeviceWaitDialog();
    EXPECT_EQ(CurrentDeviceWaitDialog(), nullptr);
}

}  // namespace
}  // namespace quellin::console
