// The three windows offscreen: their controls, the way from one to the next,
// the refused title-bar close and the installation started from Form2.
#include "codec.h"
#include "desktop_entry.h"
#include "fake_file_dialogs.h"
#include "file_dialogs.h"
#include "installer.h"
#include "message_box.h"
#include "setup_windows.h"
#include "test_medium.h"
#include "test_support.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace quellin::setup {
namespace {
namespace fs = std::filesystem;

QString U(const char* utf8) {
    return QString::fromUtf8(utf8);
}

class NoLauncher final : public ProcessLauncher {
public:
    StartResult Start(const fs::path&, const std::vector<std::string>& arguments) override {
        started = arguments;
        return {4242, 0};
    }
    std::optional<int> Wait(int) override { return 0; }
    std::vector<std::string> started;
};

class SetupWindowsTest : public quellin::testing::TempDirTest {
protected:
    void SetUp() override {
        medium_ = setup::testing::MakeTestMedium(dir.path(), false);
        installer_.emplace(medium_, launcher_, dir / "desk");
        wizard_.emplace(medium_, *installer_, boxes_, files_);
        finished_.emplace(&*wizard_, &SetupWizard::finished);
        wizard_->start();
    }
    void TearDown() override {
        wizard_.reset();
        QApplication::processEvents();
    }

    template <typename T>
    static T* Child(QWidget* window, const char* name) {
        EXPECT_NE(window, nullptr) << name;
        if (window == nullptr)
            return nullptr;
        T* child = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    static void Click(QWidget* window, const char* button) {
        QPushButton* b = Child<QPushButton>(window, button);
        ASSERT_NE(b, nullptr);
        QTest::mouseClick(b, Qt::LeftButton);
        QApplication::processEvents();
    }
    void GoToFolderWindow() {
        Click(wizard_->welcomeWindow(), "Command2");
        Click(wizard_->licenseWindow(), "Command2");
        ASSERT_NE(wizard_->folderWindow(), nullptr);
    }
    std::vector<std::string> Shown() const {
        std::vector<std::string> texts;
        for (const auto& box : boxes_.shown)
            texts.push_back(box.text);
        return texts;
    }

    fs::path medium_;
    NoLauncher launcher_;
    FakeMessageBoxes boxes_;
    FakeFileDialogs files_;
    std::optional<CInstaller> installer_;
    std::optional<SetupWizard> wizard_;
    std::optional<QSignalSpy> finished_;
};

TEST_F(SetupWindowsTest, WindowsCarryTheirNamesAndTexts) {
    QWidget* welcome = wizard_->welcomeWindow();
    ASSERT_NE(welcome, nullptr);
    EXPECT_TRUE(welcome->isVisible());
    EXPECT_EQ(welcome->objectName(), U("Form1"));
    EXPECT_EQ(welcome->windowTitle(), U("Quellin Server セットアップ"));
    EXPECT_EQ(Child<QLabel>(welcome, "Label1")->text(),
              U("Quellin Serverのセットアップを開始します。"));
    EXPECT_EQ(Child<QLabel>(welcome, "Label2")->text(), U("画面の指示に従い設定を行って下さい。"));
    EXPECT_EQ(Child<QPushButton>(welcome, "Command2")->text(), U("次へ"));
    EXPECT_EQ(Child<QPushButton>(welcome, "Command1")->text(), U("ｾｯﾄｱｯﾌﾟ中止"));

    Click(welcome, "Command2");
    QWidget* license = wizard_->licenseWindow();
    ASSERT_NE(license, nullptr);
    EXPECT_EQ(license->objectName(), U("frmlisense"));
    EXPECT_EQ(license->windowTitle(), U("Quellin Server セットアップ"));
    EXPECT_EQ(Child<QLabel>(license, "Label1")->text(), U("使用許諾条件"));
    EXPECT_EQ(Child<QLabel>(license, "Label2")->text(),
              U("次の使用許諾条件を注意深くお読みください。"));
    EXPECT_EQ(Child<QLabel>(license, "Label3")->text(), U("上記使用許諾条件に同意しますか？"));
    EXPECT_EQ(Child<QPushButton>(license, "Command2")->text(), U("はい"));
    EXPECT_EQ(Child<QPushButton>(license, "Command1")->text(), U("いいえ"));
    EXPECT_EQ(Child<QPushButton>(license, "Command3")->text(), U("戻る"));
    EXPECT_EQ(Child<QPlainTextEdit>(license, "Text1")->toPlainText(),
              U("第1条 本ソフトウェアの使用を許諾します。\nｶﾀｶﾅ行\n"));
    EXPECT_TRUE(Child<QPlainTextEdit>(license, "Text1")->isReadOnly());

    Click(license, "Command2");
    QWidget* folder = wizard_->folderWindow();
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->objectName(), U("Form2"));
    EXPECT_EQ(folder->windowTitle(), U("Quellin Server セットアップ"));
    EXPECT_EQ(Child<QLabel>(folder, "Label1")->text(), U("セットアップフォルダを指定して下さい。"));
    EXPECT_EQ(Child<QLineEdit>(folder, "txt_setupPath")->text(), U("/opt/Quellin_server"));
    EXPECT_EQ(Child<QPushButton>(folder, "Command3")->text(), U("参照"));
    EXPECT_EQ(Child<QLabel>(folder, "Label2")->text(),
              U("※日本語を含むフォルダの指定はできません。"));
    EXPECT_EQ(Child<QLabel>(folder, "lbl_wait")->text(),
              U("処理中・・・　しばらくお待ちください。"));
    EXPECT_FALSE(Child<QLabel>(folder, "lbl_wait")->isVisible());
    EXPECT_EQ(Child<QPushButton>(folder, "Command2")->text(), U("ｾｯﾄｱｯﾌﾟ開始"));
    EXPECT_EQ(Child<QPushButton>(folder, "Command1")->text(), U("ｾｯﾄｱｯﾌﾟ中止"));
}

TEST_F(SetupWindowsTest, LicenseButtonsLeadBackAndForth) {
    Click(wizard_->welcomeWindow(), "Command2");
    EXPECT_FALSE(wizard_->welcomeWindow()->isVisible());
    QWidget* license = wizard_->licenseWindow();
    ASSERT_TRUE(license != nullptr && license->isVisible());

    Click(license, "Command1");
    EXPECT_EQ(Shown(), std::vector<std::string>{cp932::Jp(kLicenseDeclined)});
    EXPECT_EQ(boxes_.shown.back().icon, MsgIcon::Exclamation);
    EXPECT_EQ(boxes_.shown.back().caption, cp932::Jp(kCaption));
    EXPECT_TRUE(license->isVisible());

    Click(license, "Command3");
    EXPECT_EQ(wizard_->licenseWindow(), nullptr);
    EXPECT_TRUE(wizard_->welcomeWindow()->isVisible());

    Click(wizard_->welcomeWindow(), "Command2");
    ASSERT_NE(wizard_->licenseWindow(), nullptr);
    EXPECT_TRUE(wizard_->licenseWindow()->isVisible());

    Click(wizard_->licenseWindow(), "Command2");
    EXPECT_EQ(wizard_->welcomeWindow(), nullptr);
    EXPECT_EQ(wizard_->licenseWindow(), nullptr);
    EXPECT_TRUE(wizard_->folderWindow()->isVisible());
    EXPECT_EQ(finished_->count(), 0);
}

TEST_F(SetupWindowsTest, TitleBarCloseIsRefusedEverywhere) {
    EXPECT_FALSE(wizard_->welcomeWindow()->close());
    EXPECT_TRUE(wizard_->welcomeWindow()->isVisible());
    Click(wizard_->welcomeWindow(), "Command2");
    EXPECT_FALSE(wizard_->licenseWindow()->close());
    EXPECT_TRUE(wizard_->licenseWindow()->isVisible());
    Click(wizard_->licenseWindow(), "Command2");
    EXPECT_FALSE(wizard_->folderWindow()->close());
    EXPECT_TRUE(wizard_->folderWindow()->isVisible());
    EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(SetupWindowsTest, CancelAsksAndEndsOnlyOnYes) {
    boxes_.answers = {MsgAnswer::No, MsgAnswer::Yes};
    Click(wizard_->welcomeWindow(), "Command1");
    EXPECT_EQ(finished_->count(), 0);
    EXPECT_TRUE(wizard_->welcomeWindow()->isVisible());
    Click(wizard_->welcomeWindow(), "Command1");
    EXPECT_EQ(finished_->count(), 1);
    ASSERT_EQ(boxes_.shown.size(), 2u);
    const MessageBoxRequest& box = boxes_.shown[0];
    EXPECT_EQ(box.caption, cp932::Jp(kCaption));
    EXPECT_EQ(box.text, cp932::Jp(kCancelQuestion));
    EXPECT_EQ(box.icon, MsgIcon::Exclamation);
    EXPECT_EQ(box.buttons, MsgButtons::YesNo);
    EXPECT_EQ(box.defaultButton, MsgAnswer::No);
}

TEST_F(SetupWindowsTest, FolderWindowCancelAsksTheSameQuestion) {
    GoToFolderWindow();
    boxes_.answers = {MsgAnswer::Yes};
    Click(wizard_->folderWindow(), "Command1");
    EXPECT_EQ(Shown(), std::vector<std::string>{cp932::Jp(kCancelQuestion)});
    EXPECT_EQ(finished_->count(), 1);
}

TEST_F(SetupWindowsTest, BrowseReplacesTheFolderUnlessCancelled) {
    GoToFolderWindow();
    QWidget* folder = wizard_->folderWindow();
    QLineEdit* path = Child<QLineEdit>(folder, "txt_setupPath");
    path->setText(U("/typed/here"));
    files_.answers = {QString(), U("/chosen/there")};
    Click(folder, "Command3");
    EXPECT_EQ(path->text(), U("/typed/here"));
    Click(folder, "Command3");
    EXPECT_EQ(path->text(), U("/chosen/there"));
    ASSERT_EQ(files_.requests.size(), 2u);
    EXPECT_EQ(files_.requests[0].kind, U("folder"));
    EXPECT_EQ(files_.requests[0].title, U("セットアップフォルダの指定"));
    EXPECT_EQ(files_.requests[0].filterOrStart, U("/typed/here"));
}

TEST_F(SetupWindowsTest, WrongFoldersWarnAndKeepTheWindowUsable) {
    GoToFolderWindow();
    QWidget* folder = wizard_->folderWindow();
    QLineEdit* path = Child<QLineEdit>(folder, "txt_setupPath");
    for (const char* text : {"", "/opt/日本語", "/opt/\xF0\x9F\x98\x80"}) {
        path->setText(U(text));
        Click(folder, "Command2");
    }
    EXPECT_EQ(Shown(),
              (std::vector<std::string>{cp932::Jp(kFolderWrong), cp932::Jp(kJapaneseInFolder),
                                        cp932::Jp(kFolderWrong)}));
    EXPECT_TRUE(folder->isVisible());
    EXPECT_TRUE(path->isEnabled());
    EXPECT_TRUE(Child<QPushButton>(folder, "Command2")->isEnabled());
    EXPECT_EQ(finished_->count(), 0);
}

TEST_F(SetupWindowsTest, BusyStateLocksTheControls) {
    GoToFolderWindow();
    Form2* folder = wizard_->folderWindow();
    folder->setBusy(true);
    EXPECT_TRUE(Child<QLabel>(folder, "lbl_wait")->isVisible());
    for (const char* name : {"Command1", "Command2", "Command3", "txt_setupPath"})
        EXPECT_FALSE(Child<QWidget>(folder, name)->isEnabled()) << name;
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    folder->setBusy(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    for (const char* name : {"Command1", "Command2", "Command3", "txt_setupPath"})
        EXPECT_TRUE(Child<QWidget>(folder, name)->isEnabled()) << name;
}

TEST_F(SetupWindowsTest, StartInstallsAndEndsWithTheCompletionMessage) {
    GoToFolderWindow();
    const std::string target = (dir / "inst" / "ｸｴﾘﾝ").string();
    Child<QLineEdit>(wizard_->folderWindow(), "txt_setupPath")
        ->setText(QString::fromStdString(target));
    Click(wizard_->folderWindow(), "Command2");
    ASSERT_EQ(Shown(), std::vector<std::string>{cp932::Jp(kCompleted)});
    EXPECT_EQ(boxes_.shown[0].icon, MsgIcon::Information);
    EXPECT_EQ(finished_->count(), 1);
    EXPECT_EQ(wizard_->folderWindow(), nullptr);
    EXPECT_TRUE(fs::exists(dir / "inst" / "ｸｴﾘﾝ" / "Quellin_tool"));
    EXPECT_FALSE(fs::exists(dir / "inst" / "ｸｴﾘﾝ" / "Setup"));
    EXPECT_EQ(launcher_.started,
              (std::vector<std::string>{target + "/httpd/conf/httpd.conf", target, "80"}));
    EXPECT_TRUE(fs::exists(dir / "desk" / kDesktopEntryName));
}

TEST_F(SetupWindowsTest, CopyErrorGivesTheWindowBack) {
    GoToFolderWindow();
    fs::remove_all(medium_);
    QWidget* folder = wizard_->folderWindow();
    Child<QLineEdit>(folder, "txt_setupPath")
        ->setText(QString::fromStdString((dir / "inst").string()));
    Click(folder, "Command2");
    EXPECT_EQ(Shown(), std::vector<std::string>{cp932::Jp(kFolderWrong)});
    EXPECT_TRUE(folder->isVisible());
    EXPECT_FALSE(Child<QLabel>(folder, "lbl_wait")->isVisible());
    EXPECT_TRUE(Child<QPushButton>(folder, "Command1")->isEnabled());
    EXPECT_EQ(finished_->count(), 0);
}

}  // namespace
}  // namespace quellin::setup
