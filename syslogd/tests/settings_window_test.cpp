// The settings window offscreen: what each tab shows, when its controls take
// input, the checks of OK in their order, the file OK writes (owner-only
// with a password), the search entries, the colours, and the settings
// reached from the main window's menu.
#include "settings_window.h"

#include "color_dialog.h"
#include "colors.h"
#include "main_window.h"
#include "popup_window.h"
#include "program_folder.h"
#include "search_input_dialog.h"
#include "test_support.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>

namespace quellin::syslogd {
namespace {

using quellin::testing::PrintTo;
using quellin::testing::ReadFile;
using quellin::testing::RowName;
using quellin::testing::Sjis;
using quellin::testing::TempDirTest;
using quellin::testing::WriteFile;

template <typename T>
T* Child(QWidget* parent, const char* name) {
    T* child = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
}

// Acts on the next modal dialog of type T once its event loop runs.  The
// action must close the dialog, or the exec() that opened it goes on.
template <typename T>
void WhenOpened(std::function<void(T*)> act) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(5);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, act, tries] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(dialog);
        } else if (++*tries > 2000) {
            ADD_FAILURE() << "no dialog opened";
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

void Click(QWidget* parent, const char* button) {
    QPushButton* b = Child<QPushButton>(parent, button);
    ASSERT_NE(b, nullptr);
    b->click();
}

std::string Text(const char* utf8) {
    return Sjis(utf8);
}

class SettingsWindowTest : public TempDirTest {
public:
    SettingsWindowTest() { SetProgramFolderForTesting(dir.folder()); }
    ~SettingsWindowTest() override { SetProgramFolderForTesting(""); }

    SettingsWindow& Open(SettingsTab tab = SettingsTab::DisplayFilter) {
        SettingsWindow::Services services{&boxes, &files, ini, [this] { ++colorUpdates; }};
        window = std::make_unique<SettingsWindow>(settings, services, tab);
        window->show();
        return *window;
    }

    template <typename T>
    T* Find(const char* name) {
        return Child<T>(window.get(), name);
    }
    void Type(const char* edit, const QString& text) { Find<QLineEdit>(edit)->setText(text); }
    void Type(const char* edit, const char* utf8) { Type(edit, QString::fromUtf8(utf8)); }
    void Check(const char* box, bool on = true) { Find<QAbstractButton>(box)->setChecked(on); }
    void Ok() { Click(window.get(), "cmdOK"); }
    bool Enabled(const char* name) { return Find<QWidget>(name)->isEnabled(); }

    // Fills the entry dialog that 追加 or 変更 opens and confirms it.
    void AnswerEntry(const QString& search, bool mail = false) {
        WhenOpened<SearchInputDialog>([search, mail](SearchInputDialog* d) {
            Child<QLineEdit>(d, "txt_SearchStr")->setText(search);
            Child<QCheckBox>(d, "chk_MailSend")->setChecked(mail);
            if (mail)
                Child<QPlainTextEdit>(d, "txt_To")->setPlainText(QStringLiteral("ops@example.jp"));
            Click(d, "cmdOK");
        });
    }

    // The list's column as UTF-8 texts.
    std::vector<std::string> ListColumn(int column) {
        std::vector<std::string> texts;
        QTreeWidget* list = Find<QTreeWidget>("lst_search");
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            texts.push_back(list->topLevelItem(i)->text(column).toStdString());
        return texts;
    }

    SyslogdSettings settings;
    FakeMessageBoxes boxes;
    FakeListFileDialogs files;
    std::filesystem::path ini = dir / "Syslogd.ini";
    int colorUpdates = 0;
    std::unique_ptr<SettingsWindow> window;
};

// ---- The checks of OK, in their order ----

struct CheckRow {
    std::string name;
    std::function<void(SettingsWindowTest&)> enter;
    const char* message;  // UTF-8
};

class OkCheckTest : public SettingsWindowTest, public ::testing::WithParamInterface<CheckRow> {};

void MailOn(SettingsWindowTest& t, const char* server, const char* port, const char* from);

TEST_P(OkCheckTest, WarnsAndKeepsTheWindowOpen) {
    Open();
    GetParam().enter(*this);
    const SyslogdSettings before = settings;
    Ok();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, Text("設定画面"));
    EXPECT_EQ(boxes.shown[0].text, Text(GetParam().message));
    EXPECT_EQ(boxes.shown[0].icon, MsgIcon::Exclamation);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(settings, before);
    EXPECT_FALSE(std::filesystem::exists(ini));
    EXPECT_EQ(colorUpdates, 0);
}

INSTANTIATE_TEST_SUITE_P(
    NineChecks, OkCheckTest,
    ::testing::Values(
        CheckRow{"count_zero", [](SettingsWindowTest& w) { w.Type("txt_DispCNT", "0"); },
                 "リスト表示件数の設定が不正です。"},
        CheckRow{"count_not_a_number", [](SettingsWindowTest& w) { w.Type("txt_DispCNT", "12a"); },
                 "リスト表示件数の設定が不正です。"},
        CheckRow{"count_before_mail",
                 [](SettingsWindowTest& w) {
                     w.Type("txt_DispCNT", "");
                     MailOn(w, "", "", "");
                 },
                 "リスト表示件数の設定が不正です。"},
        CheckRow{"smtp_server", [](SettingsWindowTest& w) { MailOn(w, "", "25", "a@b"); },
                 "SMTPサーバの設定が不正です。"},
        CheckRow{"smtp_port_empty", [](SettingsWindowTest& w) { MailOn(w, "mail", "", "a@b"); },
                 "SMTPポート番号の設定が不正です。"},
        CheckRow{"smtp_port_text", [](SettingsWindowTest& w) { MailOn(w, "mail", "2x5", "a@b"); },
                 "SMTPポート番号の設定が不正です。"},
        CheckRow{"sender_address", [](SettingsWindowTest& w) { MailOn(w, "mail", "25", ""); },
                 "送信元メールアドレスの設定が不正です。"},
        CheckRow{"wave_file",
                 [](SettingsWindowTest& w) {
                     w.Check("opt3");
                     w.Type("txt_wav", "");
                 },
                 "wavファイルの設定が不正です。"},
        CheckRow{"log_path",
                 [](SettingsWindowTest& w) {
                     w.Check("chk_log");
                     w.Type("txt_save", "");
                 },
                 "受信ログの保存先の設定が不正です。"},
        CheckRow{"no_condition", [](SettingsWindowTest& w) { w.Check("DispFilDisp"); },
                 "Display Filter 条件指定を選択して下さい。"},
        CheckRow{"no_level",
                 [](SettingsWindowTest& w) {
                     w.Check("DispFilDisp");
                     w.Check("FilType_Lel");
                 },
                 "Levelの指定がありません。"},
        CheckRow{"level_all_cleared_again",
                 [](SettingsWindowTest& w) {
                     w.Check("DispFilNoDisp");
                     w.Check("FilType_Lel");
                     w.window->allLevelsBox()->setChecked(true);
                     w.window->allLevelsBox()->setChecked(false);
                 },
                 "Levelの指定がありません。"},
        CheckRow{"no_facility",
                 [](SettingsWindowTest& w) {
                     w.Check("DispFilNoDisp");
                     w.Check("FilType_Lel");
                     w.window->levelBox(0)->setChecked(true);
                     w.Check("FilType_Fac");
                 },
                 "Facilityの指定がありません。"}),
    RowName());

void MailOn(SettingsWindowTest& t, const char* server, const char* port, const char* from) {
    t.Check("chk_MailSend");
    t.Type("txt_SMTP_Srv", server);
    t.Type("txt_SMTP_Port", port);
    t.Type("txt_ClientMailAddress", from);
}

// ---- Applying and saving ----

TEST_F(SettingsWindowTest, OkAppliesEveryTabAndWritesTheFile) {
    settings.logPath = "old.log";
    Open(SettingsTab::Operation);
    Type("txt_DispCNT", "1200");
    MailOn(*this, "  smtp.example.jp ", "587", " noc@example.jp ");
    Check("opt3");
    Type("txt_wav", QStringLiteral(" /sounds/alarm.wav "));
    Check("chk_log");
    Type("txt_save", QStringLiteral("/var/log/tarn.log"));
    AnswerEntry(QStringLiteral("回線断"), true);
    Click(window.get(), "cmd_Add");
    Ok();

    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(window->result(), QDialog::Accepted);
    EXPECT_EQ(settings.maxLineCount, 1200);
    EXPECT_TRUE(settings.mailSendFlag);
    EXPECT_EQ(settings.smtpServer, "smtp.example.jp");
    EXPECT_EQ(settings.smtpPort, 587);
    EXPECT_EQ(settings.clientMailAddress, "noc@example.jp");
    EXPECT_EQ(settings.soundType, 3);
    EXPECT_EQ(settings.wavPath, "/sounds/alarm.wav");
    EXPECT_TRUE(settings.logWriteFlag);
    EXPECT_EQ(settings.logPath, "/var/log/tarn.log");
    EXPECT_EQ(settings.searchTable[0].keyStr, Text("回線断"));
    EXPECT_EQ(settings.searchTable[0].toStr, "ops@example.jp");
    EXPECT_EQ(colorUpdates, 1);

    SettingsLoad saved = LoadSettings(ini);
    ASSERT_TRUE(saved.ok());
    EXPECT_EQ(saved.settings, settings);
}

TEST_F(SettingsWindowTest, MailOffChangesOnlyTheFlagAndHidesTheStoredServer) {
    settings.smtpServer = "kept.example.jp";
    settings.clientMailAddress = "kept@example.jp";
    settings.mailSendFlag = false;
    Open(SettingsTab::Operation);
    EXPECT_EQ(Find<QLineEdit>("txt_SMTP_Srv")->text(), QString());
    EXPECT_FALSE(Enabled("txt_SMTP_Srv"));
    EXPECT_FALSE(Enabled("id320"));
    Check("chk_MailSend");
    EXPECT_TRUE(Enabled("txt_SMTP_Port"));
    Check("chk_MailSend", false);
    Ok();
    EXPECT_FALSE(settings.mailSendFlag);
    EXPECT_EQ(settings.smtpServer, "kept.example.jp");
    EXPECT_EQ(settings.clientMailAddress, "kept@example.jp");
}

TEST_F(SettingsWindowTest, CancelLeavesSettingsAndFileUntouched) {
    WriteFile(ini, "[SETUP]\r\nMaxLineCount=300\r\n");
    settings.maxLineCount = 300;
    const SyslogdSettings before = settings;
    Open();
    Type("txt_DispCNT", "5");
    Check("chk_log");
    Check("DispFilDisp");
    Check("FilType_Lel");
    window->allLevelsBox()->setChecked(true);
    Click(window.get(), "cmdExit");
    EXPECT_EQ(window->result(), QDialog::Rejected);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(settings, before);
    EXPECT_EQ(ReadFile(ini), "[SETUP]\r\nMaxLineCount=300\r\n");
    EXPECT_EQ(colorUpdates, 0);

    // The next opening shows the stored filter again.
    Open();
    EXPECT_TRUE(Find<QRadioButton>("DispNoFil")->isChecked());
    EXPECT_FALSE(window->allLevelsBox()->isChecked());
}

TEST_F(SettingsWindowTest, EscapeCancels) {
    Open();
    Type("txt_DispCNT", "7");
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(window->result(), QDialog::Rejected);
    EXPECT_EQ(settings.maxLineCount, SyslogdSettings().maxLineCount);
    EXPECT_FALSE(std::filesystem::exists(ini));
}

TEST_F(SettingsWindowTest, UnwritableFileIsReportedAfterApplying) {
    ini = dir / "missing" / "Syslogd.ini";
    Open();
    Type("txt_DispCNT", "42");
    Ok();
    EXPECT_EQ(settings.maxLineCount, 42);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, Text("保存処理に失敗しました。"));
    EXPECT_FALSE(window->isVisible());
}

// ---- The display filter tab ----

struct FilterRow {
    std::string name;
    const char* mode;
    bool level;
    bool facility;
    std::vector<int> levels;      // single boxes; -1 is ALL
    std::vector<int> facilities;  // single boxes; -1 is ALL
    int dispFilter;
    int filterLevel;
    std::int32_t filterFacility;
};

class FilterValueTest : public SettingsWindowTest,
                        public ::testing::WithParamInterface<FilterRow> {};

TEST_P(FilterValueTest, StoredAsTheModeAndConditionsSay) {
    const FilterRow& row = GetParam();
    // Bits of a condition that ends up unchecked are not kept.
    settings.filterLevel = 0x40;
    settings.filterFacility = 0x2;
    Open();
    Check(row.mode);
    Check("FilType_Lel", row.level);
    Check("FilType_Fac", row.facility);
    for (int i : row.levels)
        (i < 0 ? window->allLevelsBox() : window->levelBox(i))->setChecked(true);
    for (int i : row.facilities)
        (i < 0 ? window->allFacilitiesBox() : window->facilityBox(i))->setChecked(true);
    Ok();
    ASSERT_TRUE(boxes.shown.empty()) << boxes.shown[0].text;
    EXPECT_EQ(settings.dispFilter, row.dispFilter);
    EXPECT_EQ(settings.filterLevel, row.filterLevel);
    EXPECT_EQ(settings.filterFacility, row.filterFacility);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FilterValueTest,
    ::testing::Values(
        FilterRow{"no_filter", "DispNoFil", false, false, {}, {}, 1, 0, 0},
        FilterRow{"show_by_level", "DispFilDisp", true, false, {3}, {}, 10, 0x48, 0},
        FilterRow{"hide_by_facility", "DispFilNoDisp", false, true, {}, {22}, 20, 0, 0x400002},
        FilterRow{"show_all_of_both", "DispFilDisp", true, true, {-1}, {-1}, 26, 255, 0x7FFFFF},
        FilterRow{"hide_by_both", "DispFilNoDisp", true, true, {0}, {0}, 28, 0x41, 0x3}),
    RowName());

TEST_F(SettingsWindowTest, AllBoxesSetClearAndLockTheSingleBoxes) {
    settings.dispFilter = 2 | 8 | 16;
    settings.filterLevel = 255;
    settings.filterFacility = 0x5;
    Open();
    QCheckBox* allLevels = window->allLevelsBox();
    QCheckBox* allFacilities = window->allFacilitiesBox();
    EXPECT_TRUE(allLevels->isChecked());
    for (int i = 0; i < kLevelCount; ++i) {
        EXPECT_TRUE(window->levelBox(i)->isChecked()) << i;
        EXPECT_FALSE(window->levelBox(i)->isEnabled()) << i;
    }
    EXPECT_FALSE(allFacilities->isChecked());
    EXPECT_TRUE(window->facilityBox(0)->isChecked());
    EXPECT_FALSE(window->facilityBox(1)->isChecked());
    EXPECT_TRUE(window->facilityBox(2)->isChecked());
    EXPECT_TRUE(window->facilityBox(1)->isEnabled());

    allLevels->setChecked(false);
    EXPECT_EQ(window->form().levelBits, 0);
    for (int i = 0; i < kLevelCount; ++i) {
        EXPECT_FALSE(window->levelBox(i)->isChecked()) << i;
        EXPECT_TRUE(window->levelBox(i)->isEnabled()) << i;
    }
    window->levelBox(7)->setChecked(true);
    EXPECT_EQ(window->form().levelBits, 128);

    allFacilities->setChecked(true);
    EXPECT_EQ(window->form().facilityBits, 0x7FFFFF);
    EXPECT_TRUE(window->facilityBox(22)->isChecked());
    EXPECT_FALSE(window->facilityBox(22)->isEnabled());
}

TEST_F(SettingsWindowTest, FilterModeAndConditionsEnableTheirFrames) {
    Open();
    EXPECT_FALSE(Enabled("id350"));
    Check("DispFilNoDisp");
    EXPECT_TRUE(Enabled("id350"));
    EXPECT_FALSE(Enabled("id351"));
    EXPECT_FALSE(Enabled("id352"));
    Check("FilType_Fac");
    EXPECT_TRUE(Enabled("id352"));
    EXPECT_FALSE(Enabled("id351"));
    Check("DispNoFil");
    EXPECT_FALSE(window->facilityBox(0)->isEnabled());
}

TEST_F(SettingsWindowTest, FacilityCaptionsFollowTheirBits) {
    Open();
    EXPECT_EQ(window->facilityBox(13)->text(), QStringLiteral("log audit"));
    EXPECT_EQ(window->facilityBox(15)->text(), QStringLiteral("local0"));
    EXPECT_EQ(window->levelBox(4)->text(), QStringLiteral("warning"));
}

// ---- Tabs ----

TEST_F(SettingsWindowTest, OpensOnTheRequestedTabWithTheFilterTabOnlyFromItsMenu) {
    auto tabs = [&](SettingsTab tab) {
        Open(tab);
        return Find<QTabWidget>("id300");
    };
    for (SettingsTab tab : {SettingsTab::Operation, SettingsTab::Screen, SettingsTab::Log}) {
        QTabWidget* t = tabs(tab);
        EXPECT_EQ(t->currentIndex(), static_cast<int>(tab));
        EXPECT_FALSE(t->isTabVisible(3));
    }
    QTabWidget* t = tabs(SettingsTab::DisplayFilter);
    EXPECT_EQ(t->currentIndex(), 3);
    EXPECT_TRUE(t->isTabVisible(3));
    EXPECT_EQ(t->tabText(0), QStringLiteral("動作設定"));
    EXPECT_EQ(t->tabText(3), QStringLiteral("表示フィルタ設定"));
}

// ---- Search rows ----

TEST_F(SettingsWindowTest, RowsAreAddedEditedAndDeletedInAWorkingCopy) {
    using Texts = std::vector<std::string>;
    settings.searchMaxKensu = 2;
    settings.searchTable = std::vector<SearchEntry>(2);
    Open(SettingsTab::Operation);
    EXPECT_TRUE(Enabled("cmd_Add"));
    EXPECT_FALSE(Enabled("cmd_Del"));
    EXPECT_FALSE(Enabled("cmd_Edit_Search"));

    AnswerEntry(QStringLiteral("down"));
    Click(window.get(), "cmd_Add");
    AnswerEntry(QStringLiteral("up"), true);
    Click(window.get(), "cmd_Add");
    EXPECT_EQ(ListColumn(1), (Texts{"down", "up"}));
    EXPECT_EQ(ListColumn(2),
              (Texts{"<Syslogメッセージを表示する>", "<Syslogメッセージを表示する>"}));
    EXPECT_EQ(ListColumn(3), (Texts{"無し", "有り"}));
    EXPECT_FALSE(Enabled("cmd_Add"));
    EXPECT_TRUE(Enabled("cmd_Del"));
    EXPECT_TRUE(settings.searchTable[0].keyStr.empty());

    // 変更 works on the selected row and starts from its values.
    QTreeWidget* list = Find<QTreeWidget>("lst_search");
    list->setCurrentItem(list->topLevelItem(0));
    QString shown;
    WhenOpened<SearchInputDialog>([&shown](SearchInputDialog* d) {
        shown = Child<QLineEdit>(d, "txt_SearchStr")->text();
        Child<QLineEdit>(d, "txt_SearchStr")->setText(QStringLiteral("link down"));
        Click(d, "cmdOK");
    });
    Click(window.get(), "cmd_Edit_Search");
    EXPECT_EQ(shown, QStringLiteral("down"));
    EXPECT_EQ(ListColumn(1), (Texts{"link down", "up"}));

    Click(window.get(), "cmd_Del");
    EXPECT_EQ(ListColumn(1), (Texts{"up"}));
    EXPECT_TRUE(Enabled("cmd_Add"));
    Click(window.get(), "cmd_Del");
    EXPECT_TRUE(ListColumn(1).empty());
    EXPECT_FALSE(Enabled("cmd_Del"));
    EXPECT_FALSE(Enabled("cmd_Edit_Search"));

    AnswerEntry(QStringLiteral("again"));
    Click(window.get(), "cmd_Add");
    Ok();
    EXPECT_EQ(settings.searchTable[0].keyStr, "again");
    EXPECT_TRUE(settings.searchTable[1].keyStr.empty());
}

TEST_F(SettingsWindowTest, TypedLineBreaksInRecipientsAndMailTextReachTheFileAndComeBack) {
    settings.mailSendFlag = true;
    settings.smtpServer = "127.0.0.1";
    settings.clientMailAddress = "syslogd@example.jp";
    Open(SettingsTab::Operation);
    bool stayedOpen = false;
    WhenOpened<SearchInputDialog>([&stayedOpen](SearchInputDialog* d) {
        QTest::keyClicks(Child<QLineEdit>(d, "txt_SearchStr"), QStringLiteral("down"));
        Child<QCheckBox>(d, "chk_MailSend")->setChecked(true);
        // Enter starts a new line in these two boxes instead of pressing OK.
        auto* to = Child<QPlainTextEdit>(d, "txt_To");
        QTest::keyClicks(to, QStringLiteral("ops@example.jp"));
        QTest::keyClick(to, Qt::Key_Return);
        QTest::keyClicks(to, QStringLiteral("noc@example.jp"));
        auto* data = Child<QPlainTextEdit>(d, "txt_Data");
        QTest::keyClicks(data, QStringLiteral("first line"));
        QTest::keyClick(data, Qt::Key_Enter);
        QTest::keyClicks(data, QStringLiteral("second line"));
        stayedOpen = d->isVisible() && d->result() == 0;
        Click(d, "cmdOK");
    });
    Click(window.get(), "cmd_Add");
    EXPECT_TRUE(stayedOpen);
    Ok();

    const std::string file = ReadFile(ini);
    EXPECT_NE(file.find("\r\nToStr1=ops@example.jpVBCRLFnoc@example.jp\r\n"), std::string::npos)
        << file;
    EXPECT_NE(file.find("\r\nDataStr1=first lineVBCRLFsecond line\r\n"), std::string::npos) << file;

    // Read back from the file, the entry dialog shows the two lines again.
    SettingsLoad load = LoadSettings(ini);
    ASSERT_TRUE(load.ok());
    EXPECT_EQ(load.settings.searchTable[0].toStr, "ops@example.jp\r\nnoc@example.jp");
    EXPECT_EQ(load.settings.searchTable[0].dataStr, "first line\r\nsecond line");
    settings = load.settings;
    Open(SettingsTab::Operation);
    QTreeWidget* list = Find<QTreeWidget>("lst_search");
    list->setCurrentItem(list->topLevelItem(0));
    QString to, data;
    WhenOpened<SearchInputDialog>([&to, &data](SearchInputDialog* d) {
        to = Child<QPlainTextEdit>(d, "txt_To")->toPlainText();
        data = Child<QPlainTextEdit>(d, "txt_Data")->toPlainText();
        Click(d, "cmdOK");
    });
    Click(window.get(), "cmd_Edit_Search");
    EXPECT_EQ(to, QStringLiteral("ops@example.jp\nnoc@example.jp"));
    EXPECT_EQ(data, QStringLiteral("first line\nsecond line"));
    Ok();
    EXPECT_EQ(LoadSettings(ini).settings.searchTable[0], load.settings.searchTable[0]);
}

TEST_F(SettingsWindowTest, CancelledEntryDialogAddsNothing) {
    Open(SettingsTab::Operation);
    WhenOpened<SearchInputDialog>([](SearchInputDialog* d) { Click(d, "cmdExit"); });
    Click(window.get(), "cmd_Add");
    EXPECT_TRUE(ListColumn(1).empty());
}

// ---- The search-entry dialog ----

class SearchInputDialogTest : public ::testing::Test {
protected:
    SearchInputDialog& Open(const SearchEntry& entry = {}) {
        dialog = std::make_unique<SearchInputDialog>(boxes, entry);
        dialog->show();
        return *dialog;
    }
    template <typename T>
    T* Find(const char* name) {
        return Child<T>(dialog.get(), name);
    }

    FakeMessageBoxes boxes;
    std::unique_ptr<SearchInputDialog> dialog;
};

TEST_F(SearchInputDialogTest, EmptySearchStringAndRecipientAreRefused) {
    Open();
    Click(dialog.get(), "cmdOK");
    Find<QLineEdit>("txt_SearchStr")->setText(QStringLiteral("x"));
    Find<QCheckBox>("chk_MailSend")->setChecked(true);
    Click(dialog.get(), "cmdOK");
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].caption, Sjis("検索文字列設定"));
    EXPECT_EQ(boxes.shown[0].text, Sjis("検索文字列の設定は省略できません。"));
    EXPECT_EQ(boxes.shown[1].text, Sjis("宛先の設定は省略できません。"));
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(SearchInputDialogTest, MailOffStoresTheMailFieldsEmpty) {
    SearchEntry entry;
    entry.keyStr = "fan";
    entry.dispStr = Sjis("ファン異常");
    entry.mailFlag = true;
    entry.subjectStr = "s";
    entry.toStr = "t@example.jp";
    entry.dataStr = "d";
    entry.fromStr = "f";
    entry.noPopMail = true;
    Open(entry);
    EXPECT_EQ(Find<QLineEdit>("txt_DispStr")->text(), QStringLiteral("ファン異常"));
    EXPECT_TRUE(Find<QLineEdit>("txt_Subject")->isEnabled());
    Find<QCheckBox>("chk_MailSend")->setChecked(false);
    EXPECT_FALSE(Find<QLineEdit>("txt_Subject")->isEnabled());
    EXPECT_FALSE(Find<QCheckBox>("chk_NoPopMail")->isEnabled());
    Click(dialog.get(), "cmdOK");
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    SearchEntry stored = dialog->entry();
    EXPECT_EQ(stored.keyStr, "fan");
    EXPECT_EQ(stored.dispStr, Sjis("ファン異常"));
    EXPECT_FALSE(stored.mailFlag);
    EXPECT_EQ(stored.subjectStr, "");
    EXPECT_EQ(stored.toStr, "");
    EXPECT_FALSE(stored.noPopMail);
}

TEST_F(SearchInputDialogTest, DefaultDisplayTextReplacesATypedOne) {
    SearchEntry entry;
    entry.keyStr = "k";
    entry.dispStr = ShowMessageItselfText();
    Open(entry);
    EXPECT_TRUE(Find<QCheckBox>("chk_Default")->isChecked());
    EXPECT_FALSE(Find<QLineEdit>("txt_DispStr")->isEnabled());
    EXPECT_EQ(Find<QLineEdit>("txt_DispStr")->text(), QString());
    Find<QCheckBox>("chk_Default")->setChecked(false);
    Find<QLineEdit>("txt_DispStr")->setText(QStringLiteral("typed"));
    Find<QCheckBox>("chk_Default")->setChecked(true);
    Click(dialog.get(), "cmdOK");
    EXPECT_EQ(dialog->entry().dispStr, ShowMessageItselfText());
}

// ---- Colours ----

TEST(ColorDialogTest, FramesThePaletteCellOfTheCurrentColour) {
    ColorDialog dialog(0x00FFFF);
    ASSERT_EQ(dialog.framedCell(), std::optional<std::size_t>(19));
    EXPECT_EQ(dialog.cell(19)->objectName(), QStringLiteral("id529"));
    dialog.show();
    Click(&dialog, "cmdOK");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.selection(), 0x00FFFF);
}

TEST(ColorDialogTest, ColourOutsideThePaletteHasNoFrameAndIsKept) {
    const std::int32_t systemColor = static_cast<std::int32_t>(0x80000005u);
    ColorDialog dialog(systemColor);
    EXPECT_FALSE(dialog.framedCell());
    EXPECT_EQ(dialog.selection(), systemColor);
    dialog.cell(47)->click();
    EXPECT_EQ(dialog.framedCell(), std::optional<std::size_t>(47));
    EXPECT_EQ(dialog.selection(), 0x400040);
}

TEST_F(SettingsWindowTest, ColoursAreKeptPerWindowAndShownInThePreview) {
    settings.popBackColor = 0xC0C0C0;
    settings.popForeColor = 0x000000;
    settings.mainBackColor = 0xFFFFFF;
    settings.mainForeColor = 0xFF0000;
    Open(SettingsTab::Screen);
    auto backOf = [&](const char* name) {
        return Find<QLabel>(name)->palette().color(QPalette::Window);
    };
    EXPECT_EQ(backOf("id333"), QColor(0xC0, 0xC0, 0xC0));

    // Pick red as the popup's background; the dialog starts framed on the
    // current colour.
    std::optional<std::size_t> framed;
    WhenOpened<ColorDialog>([&framed](ColorDialog* d) {
        framed = d->framedCell();
        d->cell(17)->click();
        Click(d, "cmdOK");
    });
    Click(window.get(), "cmd_Edit");
    EXPECT_EQ(framed, std::optional<std::size_t>(16));
    EXPECT_EQ(window->form().popBackColor, 0x0000FF);
    EXPECT_EQ(backOf("id330"), QColor(Qt::red));
    EXPECT_EQ(backOf("id333"), QColor(Qt::red));

    Find<QComboBox>("cmb_select")->setCurrentIndex(1);
    EXPECT_EQ(window->colorWindow(), ColorWindow::Main);
    EXPECT_EQ(backOf("id331"), QColor(Qt::blue));
    EXPECT_EQ(Find<QLabel>("id333")->palette().color(QPalette::WindowText), QColor(Qt::blue));

    // キャンセル in the colour dialog changes nothing.
    WhenOpened<ColorDialog>([](ColorDialog* d) {
        d->cell(0)->click();
        Click(d, "cmdExit");
    });
    Click(window.get(), "id332");
    EXPECT_EQ(window->form().mainForeColor, 0xFF0000);

    Click(window.get(), "cmd_Default");
    const SyslogdSettings defaults;
    EXPECT_EQ(window->form().mainBackColor, defaults.mainBackColor);
    EXPECT_EQ(window->form().popBackColor, defaults.popBackColor);
    EXPECT_EQ(window->form().popForeColor, defaults.popForeColor);
}

// ---- File choosers ----

TEST_F(SettingsWindowTest, FileChoosersStartInTheProgramFolder) {
    Open(SettingsTab::Operation);
    Check("opt3");
    files.answers = {QStringLiteral("/sounds/a.wav"), QString(), QStringLiteral("/logs/new.log")};
    Click(window.get(), "cmd_wav");
    Check("chk_log");
    Type("txt_save", QStringLiteral("typed.log"));
    Click(window.get(), "cmd_Ref");  // cancelled: the typed path stays
    EXPECT_EQ(Find<QLineEdit>("txt_save")->text(), QStringLiteral("typed.log"));
    Click(window.get(), "cmd_Ref");

    ASSERT_EQ(files.asked.size(), 3u);
    EXPECT_EQ(files.asked[0].title, QStringLiteral("ファイルの指定"));
    EXPECT_EQ(files.asked[0].filter, QStringLiteral("wavﾌｧｲﾙ (*.wav)"));
    EXPECT_TRUE(files.asked[0].mustExist);
    EXPECT_EQ(files.asked[2].title, QStringLiteral("保存先の指定"));
    EXPECT_FALSE(files.asked[2].mustExist);
    EXPECT_EQ(files.asked[2].folder, QString::fromStdString(dir.folder()));
    EXPECT_EQ(Find<QLineEdit>("txt_wav")->text(), QStringLiteral("/sounds/a.wav"));
    EXPECT_EQ(Find<QLineEdit>("txt_save")->text(), QStringLiteral("/logs/new.log"));
}

TEST_F(SettingsWindowTest, WaveFileControlsFollowTheThirdOption) {
    settings.soundType = 1;
    Open(SettingsTab::Operation);
    EXPECT_TRUE(Find<QRadioButton>("opt1")->isChecked());
    EXPECT_FALSE(Enabled("txt_wav"));
    EXPECT_FALSE(Enabled("cmd_wav"));
    Check("opt3");
    EXPECT_TRUE(Enabled("txt_wav"));
    Check("opt2");
    EXPECT_FALSE(Enabled("cmd_wav"));
    Ok();
    EXPECT_EQ(settings.soundType, 2);
}

// ---- From the main window ----

// ---- The mail transport, the alert hold-off, rotation and forwarding ----

TEST_F(SettingsWindowTest, ControlsShowTheSettingsAndThePasswordMasked) {
    settings.mailSendFlag = true;
    settings.smtpSecurity = kSmtpImplicitTls;
    settings.smtpAuthFlag = true;
    settings.smtpUser = "ops";
    settings.smtpPassword = "secret";
    settings.alertHoldSeconds = 300;
    settings.logWriteFlag = true;
    settings.logRotateType = kRotateBySize;
    settings.logRotateSizeMB = 20;
    settings.forwardFlag = true;
    settings.forwardHost = "collector";
    settings.forwardProtocol = kForwardTcp;
    Open();
    EXPECT_EQ(Find<QLineEdit>("txt_AlertHold")->text(), QStringLiteral("300"));
    EXPECT_EQ(Find<QComboBox>("cmb_SMTP_Security")->currentIndex(), 2);
    EXPECT_TRUE(Find<QCheckBox>("chk_SMTP_Auth")->isChecked());
    QLineEdit* password = Find<QLineEdit>("txt_SMTP_Password");
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(password->displayText().contains(QStringLiteral("secret")));
    EXPECT_TRUE(Find<QRadioButton>("opt_RotateSize")->isChecked());
    EXPECT_EQ(Find<QLineEdit>("txt_RotateSize")->text(), QStringLiteral("20"));
    EXPECT_EQ(Find<QLineEdit>("txt_KeepCount")->text(), QStringLiteral("7"));
    EXPECT_EQ(Find<QLineEdit>("txt_ForwardHost")->text(), QStringLiteral("collector"));
    EXPECT_EQ(Find<QLineEdit>("txt_ForwardPort")->text(), QStringLiteral("514"));
    EXPECT_TRUE(Find<QRadioButton>("opt_ForwardTcp")->isChecked());

    QTabWidget* tabs = Find<QTabWidget>("id300");
    EXPECT_EQ(tabs->tabText(static_cast<int>(SettingsTab::Mail)), QStringLiteral("メール送信"));
    EXPECT_EQ(tabs->tabText(static_cast<int>(SettingsTab::Forwarding)), QStringLiteral("転送設定"));
}

TEST_F(SettingsWindowTest, ControlsTakeInputOnlyWhenTheyApply) {
    Open();
    for (const char* name :
         {"cmb_SMTP_Security", "chk_SMTP_Auth", "txt_SMTP_CAFile", "cmd_CAFile", "txt_SMTP_User",
          "txt_SMTP_Password", "opt_RotateDaily", "txt_RotateSize", "txt_KeepCount",
          "txt_ForwardHost", "txt_ForwardPort", "opt_ForwardTcp", "cmb_ForwardFormat"})
        EXPECT_FALSE(Enabled(name)) << name;
    EXPECT_TRUE(Enabled("txt_AlertHold"));

    Check("chk_MailSend");
    EXPECT_TRUE(Enabled("cmb_SMTP_Security"));
    EXPECT_TRUE(Enabled("txt_SMTP_CAFile"));
    EXPECT_FALSE(Enabled("txt_SMTP_Password"));
    Check("chk_SMTP_Auth");
    EXPECT_TRUE(Enabled("txt_SMTP_User"));
    EXPECT_TRUE(Enabled("txt_SMTP_Password"));

    Check("chk_log");
    EXPECT_TRUE(Enabled("opt_RotateDaily"));
    EXPECT_FALSE(Enabled("txt_KeepCount"));
    Check("opt_RotateDaily");
    EXPECT_TRUE(Enabled("txt_KeepCount"));
    EXPECT_FALSE(Enabled("txt_RotateSize"));
    Check("opt_RotateSize");
    EXPECT_TRUE(Enabled("txt_RotateSize"));

    Check("chk_Forward");
    EXPECT_TRUE(Enabled("txt_ForwardHost"));
    EXPECT_TRUE(Enabled("opt_ForwardTcp"));
}

TEST_F(SettingsWindowTest, OkChecksTheNewFields) {
    Open();
    MailOn(*this, "smtp.example.jp", "587", "syslogd@example.jp");
    Check("chk_SMTP_Auth");
    Type("txt_SMTP_User", "ops");
    Ok();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, Sjis("SMTP認証を使うときは暗号化を選んで下さい。"));

    Find<QComboBox>("cmb_SMTP_Security")->setCurrentIndex(1);
    Type("txt_SMTP_CAFile", "/nonexistent/ca.pem");
    Ok();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].text, Sjis("CA証明書ファイルが見つかりません。"));

    Type("txt_SMTP_CAFile", "");
    Check("chk_Forward");
    Ok();
    ASSERT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(boxes.shown[2].text, Sjis("転送先ホストの設定が不正です。"));
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(std::filesystem::exists(ini));
}

// OK writes the password into a file only its owner can read; the window
// never had it on show.
TEST_F(SettingsWindowTest, OkWritesTheFileOwnerOnlyWithThePassword) {
    Open();
    MailOn(*this, "smtp.example.jp", "587", "syslogd@example.jp");
    Find<QComboBox>("cmb_SMTP_Security")->setCurrentIndex(1);
    Check("chk_SMTP_Auth");
    Type("txt_SMTP_User", "ops");
    Type("txt_SMTP_Password", " pa ss ");
    Type("txt_AlertHold", "60");
    Check("chk_log");
    Type("txt_save", (dir / "syslogd.txt").c_str());
    Check("opt_RotateDaily");
    Type("txt_KeepCount", "14");
    Check("chk_Forward");
    Type("txt_ForwardHost", "collector.example.jp");
    Check("opt_ForwardTcp");
    Find<QComboBox>("cmb_ForwardFormat")->setCurrentIndex(kForwardRfc5424);
    Ok();
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown[0].text;
    EXPECT_FALSE(window->isVisible());

    struct stat st {};
    ASSERT_EQ(::stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const SyslogdSettings saved = LoadSettings(ini).settings;
    EXPECT_EQ(saved, settings);
    EXPECT_EQ(saved.smtpSecurity, kSmtpStartTls);
    EXPECT_EQ(saved.smtpPassword, " pa ss ");
    EXPECT_EQ(saved.alertHoldSeconds, 60);
    EXPECT_EQ(saved.logRotateType, kRotateDaily);
    EXPECT_EQ(saved.logKeepCount, 14);
    EXPECT_EQ(saved.forwardHost, "collector.example.jp");
    EXPECT_EQ(saved.forwardProtocol, kForwardTcp);
    EXPECT_EQ(saved.forwardFormat, kForwardRfc5424);
}

TEST_F(SettingsWindowTest, CaFileFromTheFileDialog) {
    Open();
    Check("chk_MailSend");
    files.answers.push_back(QString::fromStdString((dir / "ca.pem").string()));
    Find<QPushButton>("cmd_CAFile")->click();
    EXPECT_EQ(Find<QLineEdit>("txt_SMTP_CAFile")->text().toStdString(), (dir / "ca.pem").string());
    ASSERT_EQ(files.asked.size(), 1u);
    EXPECT_EQ(files.asked[0].title, QStringLiteral("CA証明書ファイルの指定"));
}

// The hidden display-filter tab is passed by with Ctrl+Tab, both ways.
TEST_F(SettingsWindowTest, CtrlTabPassesTheHiddenTab) {
    Open(SettingsTab::Log);
    QTabWidget* tabs = Find<QTabWidget>("id300");
    QTest::keyClick(tabs, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(tabs->currentIndex(), static_cast<int>(SettingsTab::Mail));
    QTest::keyClick(tabs, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(tabs->currentIndex(), static_cast<int>(SettingsTab::Log));
}

class SettingsFromMainWindowTest : public SettingsWindowTest {
protected:
    MainWindow& Main() {
        if (!main) {
            pipeline = std::make_unique<ReceivePipeline>(
                clock, std::make_shared<const SyslogdSettings>(settings), queue);
            MainWindow::Services services;
            services.messageBoxes = &boxes;
            services.fileDialogs = &files;
            services.quit = [] {};
            main = std::make_unique<MainWindow>(settings, *pipeline, services);
            main->SetHidesToTray(true);
            main->show();
        }
        return *main;
    }
    QAction* Action(const char* name) {
        return Main().findChild<QAction*>(QString::fromLatin1(name));
    }
    SystemClock clock;
    WindowQueue queue;
    std::unique_ptr<ReceivePipeline> pipeline;
    std::unique_ptr<MainWindow> main;
};

TEST_F(SettingsFromMainWindowTest, MenuItemsOpenTheirTabs) {
    const std::pair<const char*, int> items[] = {
        {"set_Operate", 0}, {"set_Disp", 1}, {"Log_Set", 2}, {"Disp_FilSet", 3}};
    for (auto [name, index] : items) {
        int shown = -1;
        WhenOpened<SettingsWindow>([&shown](SettingsWindow* w) {
            shown = Child<QTabWidget>(w, "id300")->currentIndex();
            w->reject();
        });
        Action(name)->trigger();
        EXPECT_EQ(shown, index) << name;
    }
}

TEST_F(SettingsFromMainWindowTest, OkSavesBesideTheProgramAndRecoloursListAndPopup) {
    Main();
    settings.searchTable[0].keyStr = "alarm";
    settings.searchTable[0].dispStr = "alarm";
    Main().SettingsApplied();
    pipeline->Handle("<13>alarm", "192.0.2.1");
    pipeline->EndBatch();
    Main().DeliverPending();
    ASSERT_TRUE(Main().popupShown());

    WhenOpened<SettingsWindow>([](SettingsWindow* w) {
        WhenOpened<ColorDialog>([](ColorDialog* d) {
            d->cell(20)->click();  // green
            Click(d, "cmdOK");
        });
        Child<QComboBox>(w, "cmb_select")->setCurrentIndex(1);
        Click(w, "cmd_Edit");
        Child<QComboBox>(w, "cmb_select")->setCurrentIndex(0);
        WhenOpened<ColorDialog>([](ColorDialog* d) {
            d->cell(22)->click();  // blue
            Click(d, "cmdOK");
        });
        Click(w, "id332");
        Click(w, "cmdOK");
    });
    Action("set_Disp")->trigger();

    EXPECT_EQ(settings.mainBackColor, 0x00FF00);
    EXPECT_EQ(settings.popForeColor, 0xFF0000);
    // The reception side works with the new settings from now on.
    EXPECT_EQ(pipeline->settings()->mainBackColor, 0x00FF00);
    EXPECT_EQ(*pipeline->settings(), settings);
    EXPECT_EQ(Main().list()->palette().color(QPalette::Base), QColor(Qt::green));
    QLabel* popupText = Child<QLabel>(Main().popup(), "PopMsg");
    ASSERT_NE(popupText, nullptr);
    EXPECT_EQ(popupText->palette().color(QPalette::WindowText), QColor(Qt::blue));
    SettingsLoad saved = LoadSettings(SettingsFilePath(dir.folder()));
    ASSERT_TRUE(saved.ok());
    EXPECT_EQ(saved.settings.mainBackColor, 0x00FF00);
}

}  // namespace
}  // namespace quellin::syslogd
