// The settings window's controls for the mail transport (tab メール送信),
// the alert hold-off (tab 0), rotation (tab 2) and forwarding (tab 転送設定),
// offscreen: what they show, when they take input, the checks of OK, the
// file they write; and what the main window's status area says when
// forwarding fails.
#include "settings_window.h"

#include "main_window.h"
#include "program_folder.h"
#include "test_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

namespace quellin::syslogd {
namespace {

using quellin::testing::ReadFile;
using quellin::testing::Sjis;
using quellin::testing::TempDirTest;

class SiteSettingsWindowTest : public TempDirTest {
public:
    SiteSettingsWindowTest() { SetProgramFolderForTesting(dir.folder()); }
    ~SiteSettingsWindowTest() override { SetProgramFolderForTesting(""); }

    void Open(SettingsTab tab = SettingsTab::Operation) {
        SettingsWindow::Services services{&boxes, &files, ini, [] {}};
        window = std::make_unique<SettingsWindow>(settings, services, tab);
        window->show();
    }
    template <typename T>
    T* Find(const char* name) {
        T* child = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    void Type(const char* edit, const char* utf8) {
        Find<QLineEdit>(edit)->setText(QString::fromUtf8(utf8));
    }
    void Check(const char* box, bool on = true) { Find<QAbstractButton>(box)->setChecked(on); }
    bool Enabled(const char* name) { return Find<QWidget>(name)->isEnabled(); }
    void Ok() { Find<QPushButton>("cmdOK")->click(); }
    void MailOn() {
        Check("chk_MailSend");
        Type("txt_SMTP_Srv", "smtp.example.jp");
        Type("txt_SMTP_Port", "587");
        Type("txt_ClientMailAddress", "syslogd@example.jp");
    }

    SyslogdSettings settings;
    FakeMessageBoxes boxes;
    FakeListFileDialogs files;
    FakeSoundPlayer sound;
    std::filesystem::path ini = dir / "Syslogd.ini";
    std::unique_ptr<SettingsWindow> window;
};

TEST_F(SiteSettingsWindowTest, ControlsShowTheSettingsAndThePasswordMasked) {
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

TEST_F(SiteSettingsWindowTest, ControlsTakeInputOnlyWhenTheyApply) {
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

TEST_F(SiteSettingsWindowTest, OkChecksTheNewFields) {
    Open();
    MailOn();
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
TEST_F(SiteSettingsWindowTest, OkWritesTheFileOwnerOnlyWithThePassword) {
    Open();
    MailOn();
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

TEST_F(SiteSettingsWindowTest, CaFileFromTheFileDialog) {
    Open();
    Check("chk_MailSend");
    files.answers.push_back(QString::fromStdString((dir / "ca.pem").string()));
    Find<QPushButton>("cmd_CAFile")->click();
    EXPECT_EQ(Find<QLineEdit>("txt_SMTP_CAFile")->text().toStdString(), (dir / "ca.pem").string());
    ASSERT_EQ(files.asked.size(), 1u);
    EXPECT_EQ(files.asked[0].title, QStringLiteral("CA証明書ファイルの指定"));
}

// The hidden display-filter tab is passed by with Ctrl+Tab, both ways.
TEST_F(SiteSettingsWindowTest, CtrlTabPassesTheHiddenTab) {
    Open(SettingsTab::Log);
    QTabWidget* tabs = Find<QTabWidget>("id300");
    QTest::keyClick(tabs, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(tabs->currentIndex(), static_cast<int>(SettingsTab::Mail));
    QTest::keyClick(tabs, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(tabs->currentIndex(), static_cast<int>(SettingsTab::Log));
}

// Forwarding to a TCP collector that is not there: the status area of the
// main window says so.
TEST_F(SiteSettingsWindowTest, ForwardingFailureIsShownInTheStatusArea) {
    std::uint16_t port = 0;
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof at;
        ::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length);
        port = ntohs(at.sin_port);
        ::close(fd);
    }
    settings.forwardFlag = true;
    settings.forwardHost = "127.0.0.1";
    settings.forwardPort = port;
    settings.forwardProtocol = kForwardTcp;
    SystemClock clock;
    WindowQueue queue;
    ReceivePipeline pipeline(clock, std::make_shared<const SyslogdSettings>(settings), queue);
    MainWindow main(settings, pipeline, {&sound, &boxes, &files, nullptr, {}, [] {}});
    pipeline.Handle("<13>to the collector", "192.0.2.1");
    pipeline.EndBatch();
    const QString expected =
        QStringLiteral("転送先 127.0.0.1:%1 (TCP) に送れません (接続を拒否されました)").arg(port);
    EXPECT_TRUE(QTest::qWaitFor([&] { return main.notice().contains(expected); }, 5000))
        << main.notice().toStdString();
}

}  // namespace
}  // namespace quellin::syslogd
