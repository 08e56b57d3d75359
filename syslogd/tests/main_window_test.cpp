#include "main_window.h"

#include "clock.h"
#include "codec.h"
#include "colors.h"
#include "popup_window.h"
#include "program_folder.h"
#include "socket_support.h"
#include "test_support.h"
#include "version_dialog.h"

#include <QAction>
#include <QApplication>
#include <QChart>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include <map>

namespace quellin::syslogd {
namespace {

using quellin::testing::ReadFile;
using quellin::testing::Sjis;
using quellin::testing::TempDirTest;
using quellin::testing::WriteFile;

class RecordingMail final : public MailNotifier {
public:
    void Notify(const SyslogdSettings&, const SearchEntry& entry,
                const std::string& text) override {
        subjects.push_back(entry.subjectStr);
        texts.push_back(text);
    }
    void Shutdown() override { ++shutdowns; }
    std::uint64_t heldBack() const override { return held; }
    std::vector<std::string> subjects, texts;
    std::uint64_t held = 0;
    int shutdowns = 0;
};

class MainWindowTest : public TempDirTest {
protected:
    MainWindowTest() {
        QApplication::setQuitOnLastWindowClosed(false);
        settings.soundType = 2;
        SetProgramFolderForTesting(dir.folder());
    }
    ~MainWindowTest() override { SetProgramFolderForTesting(""); }

    // The window and the pipeline that feeds it, made with the settings as
    // the test left them.
    MainWindow& Window() {
        if (!window) {
            // A removed log file is noticed at the next line.
            ReceivePipeline::Options options;
            options.log.checkInterval = std::chrono::milliseconds(0);
            pipeline = std::make_unique<ReceivePipeline>(
                clock, std::make_shared<const SyslogdSettings>(settings), queue, options);
            MainWindow::Services services;
            services.sound = &sound;
            services.messageBoxes = &boxes;
            services.fileDialogs = &files;
            services.mail = &mail;
            services.openHelp = [this](const QString& path) { helpOpened.push_back(path); };
            services.quit = [this] { ++quits; };
            window = std::make_unique<MainWindow>(settings, *pipeline, services);
            window->SetHidesToTray(true);
            window->show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        }
        return *window;
    }

    // Each datagram in a second of its own, clear of the rate limit.
    void Send(const std::string& datagram) {
        clock.Advance(1);
        Receive(datagram);
    }
    // A datagram through the pipeline, then delivered to the window.
    void Receive(const std::string& datagram) {
        Window();
        pipeline->Handle(datagram, "192.0.2.1");
        pipeline->EndBatch();
        Window().DeliverPending();
    }

    std::string Body(int row) { return Window().model()->Row(row)[4]; }
    int Rows() { return Window().model()->rowCount(); }

    template <typename T>
    T* Find(const char* name) {
        return Window().findChild<T*>(QString::fromLatin1(name));
    }

    FakeClock clock{MakeLocalTime(2024, 7, 5, 12, 0, 0)};
    SyslogdSettings settings;
    FakeSoundPlayer sound;
    FakeMessageBoxes boxes;
    FakeListFileDialogs files;
    RecordingMail mail;
    std::vector<QString> helpOpened;
    int quits = 0;
    WindowQueue queue;
    std::unique_ptr<ReceivePipeline> pipeline;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, ListLayout) {
    QTableView* list = Find<QTableView>("LogList");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(Window().objectName(), QStringLiteral("Main"));
    EXPECT_EQ(Window().windowTitle(), QStringLiteral("Syslogd"));
    const QStringList headers = {QStringLiteral("時刻"), QStringLiteral("送信元IPアドレス"),
                                 QStringLiteral("Facility"), QStringLiteral("Level"),
                                 QStringLiteral("Message")};
    ASSERT_EQ(list->model()->columnCount(), 5);
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(list->model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(),
                  headers[c]);
    EXPECT_EQ(list->horizontalHeader()->sectionSize(0), TwipsToPixels(list, 1400));
    EXPECT_EQ(list->horizontalHeader()->sectionSize(2), TwipsToPixels(list, 900));
    EXPECT_EQ(list->horizontalHeader()->sectionSize(3), TwipsToPixels(list, 1200));
    EXPECT_GE(Window().width(), TwipsToPixels(list, 10470));
    EXPECT_GE(Window().height(), TwipsToPixels(list, 6660));
}

TEST_F(MainWindowTest, RowShowsTheFiveColumns) {
    Send("<13>Jul  5 00:43:58 tarn01 " + Sjis("回線断"));
    ASSERT_EQ(Rows(), 1);
    auto* model = Window().model();
    EXPECT_EQ(model->data(model->index(0, 0), Qt::DisplayRole).toString(),
              QStringLiteral("Jul  5 00:43:58"));
    EXPECT_EQ(model->data(model->index(0, 1), Qt::DisplayRole).toString(),
              QStringLiteral("192.0.2.1"));
    EXPECT_EQ(model->data(model->index(0, 2), Qt::DisplayRole).toString(), QStringLiteral("User"));
    EXPECT_EQ(model->data(model->index(0, 3), Qt::DisplayRole).toString(),
              QStringLiteral("Notice"));
    EXPECT_EQ(model->data(model->index(0, 4), Qt::DisplayRole).toString(),
              QStringLiteral("tarn01 回線断"));
    EXPECT_EQ(model->data(model->index(0, 4), Qt::TextAlignmentRole).value<Qt::Alignment>(),
              Qt::AlignLeft | Qt::AlignVCenter);
}

TEST_F(MainWindowTest, MaxLineCountTrimsTheOldestRow) {
    settings.maxLineCount = 5;
    for (int i = 1; i <= 5; ++i)
        Send("<13>m" + std::to_string(i));
    EXPECT_EQ(Rows(), 5);
    Send("<13>m6");
    ASSERT_EQ(Rows(), 5);
    EXPECT_EQ(Body(0), "m2");
    EXPECT_EQ(Body(4), "m6");
}

TEST_F(MainWindowTest, FollowsNewRowsOnlyWhileAtTheEnd) {
    settings.maxLineCount = 60;
    for (int i = 1; i <= 60; ++i)
        Send("<13>m" + std::to_string(i));
    QTableView* list = Window().list();
    QScrollBar* bar = list->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 10) << "the list must be longer than the view";
    EXPECT_EQ(bar->value(), bar->maximum());

    Send("<13>m61");
    EXPECT_EQ(Rows(), 60);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(Body(list->rowAt(list->viewport()->height() - 1)), "m61");

    // Scrolled away from the end, the same rows stay in view.
    bar->setValue(10);
    const std::string top = Body(list->rowAt(0));
    Send("<13>m62");
    Send("<13>m63");
    EXPECT_EQ(Rows(), 60);
    EXPECT_EQ(Body(list->rowAt(0)), top);
    EXPECT_LT(bar->value(), bar->maximum());

    // Back at the end, following resumes.
    bar->setValue(bar->maximum());
    Send("<13>m64");
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(Body(list->rowAt(list->viewport()->height() - 1)), "m64");
}

TEST_F(MainWindowTest, DisplayFilterHoldsRowsBack) {
    settings.dispFilter = 2 + 8;
    settings.filterLevel = 8;  // Error only
    Send("<13>notice");
    Send("<11>error");
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Body(0), "error");
}

TEST_F(MainWindowTest, TwelfthDatagramOfOneSecondIsNotListed) {
    settings.searchTable[0].keyStr = "burst";
    Window();
    for (int i = 1; i <= 12; ++i)
        Receive("<13>burst " + std::to_string(i));
    EXPECT_EQ(Rows(), 11);
    EXPECT_EQ(sound.played.size(), 12u);
}

TEST_F(MainWindowTest, FirstOfTwoMatchingEntriesActs) {
    settings.searchTable[0] = {"link", Sjis("リンク"), false, "", "", "", "", false};
    settings.searchTable[1] = {"down", Sjis("ダウン"), false, "", "", "", "", false};
    Send("<13>Jul  5 00:43:58 link down");
    ASSERT_TRUE(Window().popupShown());
    EXPECT_EQ(Window().popup()->Text(), QStringLiteral("Jul  5 00:43:58   From 192.0.2.1\nリンク"));
    EXPECT_EQ(Window().popup()->windowTitle(), QStringLiteral("Infomation"));
    EXPECT_EQ(Window().popup()->objectName(), QStringLiteral("frmMsg"));
    EXPECT_EQ(sound.played, std::vector<AlertSound>{AlertSound::Beep});
}

TEST_F(MainWindowTest, SecondMatchReplacesThePopup) {
    settings.searchTable[0].keyStr = "down";
    Send("<13>first down");
    Send("<13>second down");
    QApplication::processEvents();
    auto popups = Window().findChildren<PopupWindow*>();
    ASSERT_EQ(popups.size(), 1);
    EXPECT_TRUE(popups[0]->isVisible());
    EXPECT_TRUE(popups[0]->Text().endsWith(QStringLiteral("second down")));
}

TEST_F(MainWindowTest, PopupClosesWithOk) {
    settings.searchTable[0].keyStr = "down";
    Send("<13>down");
    ASSERT_TRUE(Window().popupShown());
    auto* ok = Window().popup()->findChild<QPushButton*>(QStringLiteral("OKbutton"));
    ASSERT_NE(ok, nullptr);
    QTest::mouseClick(ok, Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_FALSE(Window().popupShown());
}

TEST_F(MainWindowTest, PopupSizeFollowsItsText) {
    PopupWindow popup;
    popup.SetText(QStringLiteral("x"));
    EXPECT_EQ(popup.width(), TwipsToPixels(&popup, 4000));
    popup.SetText(QString(400, QLatin1Char('w')));
    auto* label = popup.findChild<QLabel*>(QStringLiteral("PopMsg"));
    EXPECT_EQ(popup.width(), label->width() + TwipsToPixels(&popup, 500));
    auto* ok = popup.findChild<QPushButton*>(QStringLiteral("OKbutton"));
    EXPECT_EQ(ok->x(), popup.width() / 2 - ok->width() / 2);
}

TEST_F(MainWindowTest, DisplayStoppedStillAlertsAndMails) {
    settings.mailSendFlag = true;
    settings.searchTable[0] = {"down", "", true, "subject", "", "ops@example.jp", "", false};
    QAction* stop = Find<QAction>("DispStop");
    ASSERT_NE(stop, nullptr);
    stop->trigger();
    EXPECT_TRUE(stop->isChecked());
    EXPECT_FALSE(Window().displayRunning());

    Send("<13>link down");
    EXPECT_EQ(Rows(), 0);
    EXPECT_TRUE(Window().popupShown());
    EXPECT_EQ(sound.played.size(), 1u);
    ASSERT_EQ(mail.texts.size(), 1u);
    EXPECT_EQ(mail.subjects[0], "subject");
    EXPECT_EQ(mail.texts[0], "Jul 05 12:00:01   From 192.0.2.1\r\nlink down");

    Find<QAction>("DispRestart")->trigger();
    EXPECT_FALSE(stop->isChecked());
    Send("<13>again");
    EXPECT_EQ(Rows(), 1);
}

TEST_F(MainWindowTest, NoPopupEntryStillSoundsAndMails) {
    settings.mailSendFlag = true;
    settings.soundType = 3;
    settings.wavPath = "/sounds/alert.wav";
    settings.searchTable[0] = {"down", "", true, "", "", "ops@example.jp", "", true};
    Send("<13>down");
    EXPECT_FALSE(Window().popupShown());
    EXPECT_EQ(sound.played, std::vector<AlertSound>{AlertSound::WaveFile});
    EXPECT_EQ(sound.paths, std::vector<std::string>{"/sounds/alert.wav"});
    EXPECT_EQ(mail.texts.size(), 1u);
}

TEST_F(MainWindowTest, ClearEmptiesTheList) {
    Send("<13>a");
    Find<QAction>("DispClear")->trigger();
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(Window().model()->columnCount(), 5);
}

TEST_F(MainWindowTest, LogStageAppendsOneLinePerMessage) {
    settings.logWriteFlag = true;
    settings.logPath = cp932::FromPath(dir / "syslogd.txt");
    Send("<13>Jul  5 00:43:58 a,b");
    Send("<191>" + Sjis("日本語"));
    EXPECT_EQ(ReadFile(dir / "syslogd.txt"),
              "Jul  5 00:43:58,192.0.2.1,User,Notice,a,b\r\n"
              "Jul 05 12:00:02,192.0.2.1,Local7,Debug," +
                  Sjis("日本語") + "\r\n");
}

TEST_F(MainWindowTest, UnwritableLogFileDoesNotStopTheOtherStages) {
    settings.logWriteFlag = true;
    settings.logPath = cp932::FromPath(dir / "missing" / "syslogd.txt");
    settings.searchTable[0].keyStr = "x";
    Send("<13>x");
    EXPECT_EQ(Rows(), 1);
    EXPECT_TRUE(Window().popupShown());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(MainWindowTest, UnwritableLogFileIsReportedInTheStatusAreaUntilALineGoesThrough) {
    settings.logWriteFlag = true;
    settings.logPath = cp932::FromPath(dir / "missing" / "syslogd.txt");
    Send("<13>first");
    EXPECT_EQ(Rows(), 1);
    QStatusBar* status = Window().statusBar();
    EXPECT_TRUE(status->isVisible());
    const QString notice = Window().notice();
    EXPECT_TRUE(notice.startsWith(QStringLiteral("受信ログを書き込めません: ")))
        << notice.toStdString();
    EXPECT_TRUE(notice.contains(QString::fromStdString((dir / "missing").string())));
    Send("<13>second");
    EXPECT_EQ(Window().notice(), notice);
    EXPECT_TRUE(boxes.shown.empty());

    // The folder appears: the line is written; the lines the log lacks stay said.
    std::filesystem::create_directory(dir / "missing");
    Send("<13>third");
    EXPECT_EQ(Window().notice(), QStringLiteral("受信ログに書き込めなかった行 2 件"));
    EXPECT_EQ(ReadFile(dir / "missing" / "syslogd.txt"),
              "Jul 05 12:00:03,192.0.2.1,User,Notice,third\r\n");
    EXPECT_EQ(Rows(), 3);
}

// Forwarding to a TCP collector that is not there: the status area says so.
TEST_F(MainWindowTest, ForwardingFailureIsShownInTheStatusArea) {
    const std::uint16_t port = quellin::testing::UnusedLoopbackPort();
    settings.forwardFlag = true;
    settings.forwardHost = "127.0.0.1";
    settings.forwardPort = port;
    settings.forwardProtocol = kForwardTcp;
    Send("<13>to the collector");
    const QString expected =
        QStringLiteral("転送先 127.0.0.1:%1 (TCP) に送れません (接続を拒否されました)").arg(port);
    EXPECT_TRUE(QTest::qWaitFor([&] { return Window().notice().contains(expected); }, 5000))
        << Window().notice().toStdString();
}

TEST_F(MainWindowTest, AlertsHeldBackByAFullHandOverAreCountedInTheStatusArea) {
    settings.searchTable[0].keyStr = "down";
    mail.held = 3;
    WindowQueue small(WindowQueue::Limits{4, 1u << 20});
    ReceivePipeline limited(clock, std::make_shared<const SyslogdSettings>(settings), small);
    MainWindow::Services services;
    services.sound = &sound;
    services.messageBoxes = &boxes;
    services.mail = &mail;
    MainWindow main(settings, limited, services);
    for (int i = 0; i < 30; ++i)
        limited.Handle("<13>down " + std::to_string(i), "192.0.2.1");
    limited.EndBatch();
    main.DeliverPending();
    EXPECT_EQ(main.model()->rowCount(), 4);
    EXPECT_TRUE(main.popupShown());
    EXPECT_TRUE(main.popup()->Text().endsWith(QStringLiteral("down 3")));
    EXPECT_EQ(main.notice(),
              QStringLiteral("送信を待つメールが多すぎるため、メール 3 件を送りませんでした。  "
                             "表示が追いつかず、警告 26 件と一覧の行 7 件を省きました。"));
    EXPECT_FALSE(main.statusBar()->isHidden());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(MainWindowTest, SaveAndOpenRoundTripKeepsCommasInTheBody) {
    Send("<13>Jul  5 00:43:58 tarn01 a,b,,c");
    Send("<11>Jul  6 01:02:03 " + Sjis("回線断,再接続"));
    const auto path = dir / "list.txt";
    files.answers.push_back(QString::fromStdString(path.string()));
    Find<QAction>("FileSave")->trigger();
    ASSERT_EQ(files.asked.size(), 1u);
    EXPECT_EQ(files.asked[0].folder, QString::fromStdString(dir.folder()));
    EXPECT_EQ(ReadFile(path),
              "Jul  5 00:43:58,192.0.2.1,User,Notice,tarn01 a,b,,c\r\n"
              "Jul  6 01:02:03,192.0.2.1,User,Error," +
                  Sjis("回線断,再接続") + "\r\n");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, Sjis("保存処理が終了しました。"));
    EXPECT_EQ(boxes.shown[0].caption, "Syslogd");
    EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Information);

    const auto saved = Window().model()->Rows();
    Find<QAction>("DispClear")->trigger();
    files.answers.push_back(QString::fromStdString(path.string()));
    Find<QAction>("FileRead")->trigger();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].text,
              Sjis("表示するログデータ数は、2 件です。") + "\r\n" + Sjis("表示しますか？"));
    EXPECT_EQ(boxes.shown[1].caption, "Syslogd");
    EXPECT_EQ(boxes.shown[1].buttons, MsgButtons::OkCancel);
    EXPECT_EQ(Window().model()->Rows(), saved);
    EXPECT_EQ(Body(0), "tarn01 a,b,,c");
}

TEST_F(MainWindowTest, SavingAnEmptyListWarnsAndWritesNothing) {
    Find<QAction>("FileSave")->trigger();
    EXPECT_TRUE(files.asked.empty());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, Sjis("現在、保存する対象がありません。"));
    EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Exclamation);
}

TEST_F(MainWindowTest, SaveCancelledInTheDialogWritesNothing) {
    Send("<13>a");
    Find<QAction>("FileSave")->trigger();
    EXPECT_EQ(files.asked.size(), 1u);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(MainWindowTest, FailedSaveIsReportedAsSuch) {
    Send("<13>a");
    files.answers.push_back(QString::fromStdString((dir / "missing" / "list.txt").string()));
    Find<QAction>("FileSave")->trigger();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, Sjis("保存処理に失敗しました。"));
}

TEST_F(MainWindowTest, LoadingMoreLinesThanMaxLineCountKeepsThemAll) {
    settings.maxLineCount = 500;
    std::string file;
    for (int i = 1; i <= 2000; ++i)
        file += "Jul  5 00:00:00,10.0.0.1,User,Info,line " + std::to_string(i) + "\r\n";
    WriteFile(dir / "big.txt", file);
    files.answers.push_back(QString::fromStdString((dir / "big.txt").string()));
    Find<QAction>("FileRead")->trigger();
    ASSERT_EQ(Rows(), 2000);

    Send("<13>new");
    ASSERT_EQ(Rows(), 2000);
    EXPECT_EQ(Body(0), "line 2");
    EXPECT_EQ(Body(1999), "new");
}

TEST_F(MainWindowTest, CancelledConfirmationLeavesTheList) {
    Send("<13>kept");
    WriteFile(dir / "other.txt", "a,b,c,d,e\r\n");
    files.answers.push_back(QString::fromStdString((dir / "other.txt").string()));
    boxes.answers.push_back(MsgAnswer::Cancel);
    Find<QAction>("FileRead")->trigger();
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Body(0), "kept");
}

TEST_F(MainWindowTest, UnreadableFileLeavesTheList) {
    Send("<13>kept");
    files.answers.push_back(QString::fromStdString((dir / "missing.txt").string()));
    Find<QAction>("FileRead")->trigger();
    ASSERT_EQ(Rows(), 1);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, Sjis("ファイルの読み込みに失敗しました。"));
}

TEST_F(MainWindowTest, ShortLinesFillTheColumnsTheyReach) {
    WriteFile(dir / "short.txt", "only\r\nt,s\n");
    files.answers.push_back(QString::fromStdString((dir / "short.txt").string()));
    Find<QAction>("FileRead")->trigger();
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Window().model()->Row(0), (ListRow{"only", "", "", "", ""}));
    EXPECT_EQ(Window().model()->Row(1), (ListRow{"t", "s", "", "", ""}));
}

struct MenuItem {
    const char* menu;
    const char* name;
    QString text;
};

TEST_F(MainWindowTest, MenusCarryTheirNamesCaptionsAndAccessKeys) {
    const std::vector<std::pair<const char*, QString>> menus = {
        {"Menu", QStringLiteral("ファイル(&F)")},
        {"File", QStringLiteral("表示(&V)")},
        {"Setting", QStringLiteral("設定(&S)")},
        {"Help", QStringLiteral("ヘルプ(&H)")}};
    QList<QAction*> bar = Window().menuBar()->actions();
    ASSERT_EQ(bar.size(), 4);
    for (int i = 0; i < 4; ++i) {
        QMenu* menu = Find<QMenu>(menus[i].first);
        ASSERT_NE(menu, nullptr) << menus[i].first;
        EXPECT_EQ(menu->title(), menus[i].second);
        EXPECT_EQ(bar[i]->menu(), menu);
    }
    const std::vector<MenuItem> items = {
        {"Menu", "FileRead", QStringLiteral("開く(&O)...")},
        {"Menu", "FileSave", QStringLiteral("保存(&V)")},
        {"Menu", "haihun", QString()},
        {"Menu", "open", QStringLiteral("通常表示に戻す(&R)")},
        {"Menu", "haifun", QString()},
        {"Menu", "end", QStringLiteral("終了(&X)")},
        {"File", "DispRestart", QStringLiteral("表示再開(&R)")},
        {"File", "DispStop", QStringLiteral("表示停止(&S)")},
        {"File", "DispClear", QStringLiteral("表示クリア(&D)")},
        {"Setting", "set_Operate", QStringLiteral("動作設定(&T)...")},
        {"Setting", "set_Disp", QStringLiteral("画面設定(&U)...")},
        {"Setting", "Log_Set", QStringLiteral("ログ設定(&L)...")},
        {"Setting", "Disp_FilSet", QStringLiteral("表示フィルタ設定(&F)...")},
        {"Help", "mokuji", QStringLiteral("目次(&C)...")},
        {"Help", "haihun2", QString()},
        {"Help", "Version", QStringLiteral("バージョン情報(&A)...")}};
    std::map<std::string, int> position;
    for (const MenuItem& item : items) {
        QMenu* menu = Find<QMenu>(item.menu);
        int index = position[item.menu]++;
        ASSERT_LT(index, menu->actions().size()) << item.name;
        QAction* action = menu->actions()[index];
        EXPECT_EQ(action->objectName(), QString::fromLatin1(item.name));
        EXPECT_EQ(action->isSeparator(), item.text.isEmpty()) << item.name;
        if (!item.text.isEmpty()) {
            EXPECT_EQ(action->text(), item.text);
        }
    }
}

TEST_F(MainWindowTest, AltFXRunsTheExitRoutine) {
    settings.searchTable[0].keyStr = "x";
    Send("<13>x");
    Window().activateWindow();
    QApplication::setActiveWindow(&Window());
    QTest::keyClick(&Window(), Qt::Key_F, Qt::AltModifier);
    QMenu* file = Find<QMenu>("Menu");
    ASSERT_TRUE(QTest::qWaitFor([&] { return file->isVisible(); }, 2000));
    QTest::keyClick(file, Qt::Key_X);
    ASSERT_TRUE(QTest::qWaitFor([&] { return quits == 1; }, 2000));
    EXPECT_FALSE(Window().isVisible());
    EXPECT_EQ(mail.shutdowns, 1);
    EXPECT_FALSE(Window().popupShown());
}

TEST_F(MainWindowTest, CloseBoxAndEscHideWithoutExiting) {
    Window().close();
    EXPECT_FALSE(Window().isVisible());
    EXPECT_EQ(quits, 0);

    Window().RestoreWindow();
    EXPECT_TRUE(Window().isVisible());
    QApplication::setActiveWindow(&Window());
    QTest::keyClick(Window().list(), Qt::Key_Escape);
    EXPECT_FALSE(Window().isVisible());
    EXPECT_EQ(quits, 0);

    Find<QAction>("open")->trigger();
    EXPECT_TRUE(Window().isVisible());
}

TEST_F(MainWindowTest, WithoutATrayTheWindowIsMinimisedInstead) {
    Window().SetHidesToTray(false);
    Window().close();
    EXPECT_TRUE(Window().isVisible());
    EXPECT_TRUE(Window().isMinimized());
    Window().RestoreWindow();
    EXPECT_FALSE(Window().isMinimized());
}

TEST_F(MainWindowTest, ColoursComeFromTheSettings) {
    settings.mainBackColor = 0x0000FF;  // 0x00BBGGRR: red
    settings.mainForeColor = 0xFF0000;  // blue
    settings.popBackColor = 0x00FF00;
    settings.popForeColor = 0x808080;
    settings.searchTable[0].keyStr = "x";
    Send("<13>x");
    QPalette list = Window().list()->palette();
    EXPECT_EQ(list.color(QPalette::Base), QColor(255, 0, 0));
    EXPECT_EQ(list.color(QPalette::Text), QColor(0, 0, 255));
    EXPECT_EQ(Window().popup()->palette().color(QPalette::Window), QColor(0, 255, 0));
    auto* label = Window().popup()->findChild<QLabel*>(QStringLiteral("PopMsg"));
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(128, 128, 128));

    // Changed settings reach the list and the open popup at once.
    settings.mainBackColor = 0x00FFFF;
    settings.popBackColor = 0x000000;
    Window().ApplyColors();
    EXPECT_EQ(Window().list()->palette().color(QPalette::Base), QColor(255, 255, 0));
    EXPECT_EQ(Window().popup()->palette().color(QPalette::Window), QColor(0, 0, 0));
}

TEST(ColorFromSetting, SystemColoursFollowThePalette) {
    EXPECT_EQ(ColorFromSetting(kSystemWindowColor), QApplication::palette().color(QPalette::Base));
    EXPECT_EQ(ColorFromSetting(kSystemButtonFace), QApplication::palette().color(QPalette::Button));
    EXPECT_EQ(ColorFromSetting(0x00C0E0FF), QColor(0xFF, 0xE0, 0xC0));
}

TEST_F(MainWindowTest, HelpOpensThePageBesideTheProgram) {
    Find<QAction>("mokuji")->trigger();
    ASSERT_EQ(helpOpened.size(), 1u);
    EXPECT_EQ(helpOpened[0], QString::fromStdString(dir.folder() + "syslogd.html"));
}

TEST_F(MainWindowTest, SettingsMenuOpensTheRightTab) {
    std::vector<SettingsTab> opened;
    Window().SetSettingsWindowOpener([&](SettingsTab tab) { opened.push_back(tab); });
    for (const char* name : {"set_Operate", "set_Disp", "Log_Set", "Disp_FilSet"})
        Find<QAction>(name)->trigger();
    EXPECT_EQ(opened, (std::vector<SettingsTab>{SettingsTab::Operation, SettingsTab::Screen,
                                                SettingsTab::Log, SettingsTab::DisplayFilter}));
}

TEST(VersionDialog, ShowsNameAndVersion) {
    VersionDialog dialog;
    EXPECT_EQ(dialog.objectName(), QStringLiteral("frmVersion"));
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("バージョン情報"));
    auto* name = dialog.findChild<QLabel*>(QStringLiteral("id1001"));
    auto* version = dialog.findChild<QLabel*>(QStringLiteral("id1002"));
    ASSERT_NE(name, nullptr);
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(name->text(), QStringLiteral("Syslogd"));
    EXPECT_EQ(version->text(), QStringLiteral("バージョン ： ") + ProgramVersion());
    EXPECT_EQ(ProgramVersion().count(QLatin1Char('.')), 2);
}

}  // namespace
}  // namespace quellin::syslogd

namespace quellin::syslogd {
namespace {

// 検索 opens the search window over the store the pipeline writes: it finds
// what was received, counts it in the chart, shows a whole message and
// writes the results as CSV.
TEST_F(MainWindowTest, SearchWindowFindsChartsShowsAndExportsStoredMessages) {
    settings.store = {true, dir / "s.db", 0, 0};
    Send("<11>tarn02 " + Sjis("回線断 ポート3"));
    Send("<13>tarn02 up");
    ASSERT_TRUE(pipeline->FlushStore(std::chrono::seconds(20)));

    Window().findChild<QAction*>(QStringLiteral("DispSearch"))->trigger();
    SearchWindow* search = Window().searchWindow();
    ASSERT_NE(search, nullptr);
    search->findChild<QComboBox*>(QStringLiteral("cmbRange"))->setCurrentIndex(4);
    search->findChild<QLineEdit*>(QStringLiteral("txtText"))->setText(QString::fromUtf8("回線断"));
    QTest::mouseClick(search->findChild<QPushButton*>(QStringLiteral("cmdSearch")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!search->searching(), 20000);
    EXPECT_EQ(search->rowCount(), 1);
    EXPECT_TRUE(search->summary().startsWith(QString::fromUtf8("1 件 (")))
        << search->summary().toStdString();
    EXPECT_EQ(search->chart()->series().size(), 1);

    search->ShowMessage(0);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].text.ends_with(Sjis("\r\ntarn02 回線断 ポート3")));

    search->findChild<QComboBox*>(QStringLiteral("cmbEncoding"))->setCurrentIndex(1);
    files.answers.push_back(QString::fromStdString((dir / "found.csv").string()));
    search->ExportCsv();
    const std::string csv = ReadFile(dir / "found.csv");
    EXPECT_TRUE(csv.starts_with("\xEF\xBB\xBF\"時刻\"")) << csv;
    EXPECT_TRUE(csv.ends_with(",\"User\",\"Error\",\"tarn02 回線断 ポート3\"\r\n")) << csv;
}

}  // namespace
}  // namespace quellin::syslogd
