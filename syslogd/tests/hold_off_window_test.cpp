// The alert hold-off as the operator meets it: a storm of matching
// datagrams from one router gives one popup, one sound and one mail
// (aiosmtpd on loopback), the log file keeps every message, and the first
// alert after the hold-off shows and mails how many were held back.  The
// pipeline runs on a clock the test sets.
#include "codec.h"
#include "log_file.h"
#include "mail_message.h"
#include "mail_peer.h"
#include "main_window.h"
#include "popup_window.h"
#include "smtp_client.h"
#include "test_support.h"

#include <QTest>

#include <gtest/gtest.h>

namespace quellin::syslogd {
namespace {

using quellin::testing::MailServer;
using quellin::testing::ReadFile;
using quellin::testing::Sjis;
using quellin::testing::TempDirTest;

class HoldOffWindowTest : public TempDirTest {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(quellin::testing::kPython))
            GTEST_SKIP() << "no /usr/bin/python3";
        ASSERT_TRUE(server.ready()) << "aiosmtpd did not start";
        settings.logWriteFlag = true;
        settings.logPath = cp932::FromPath(dir / "syslogd.txt");
        settings.alertHoldSeconds = 60;
        settings.mailSendFlag = true;
        settings.smtpServer = "127.0.0.1";
        settings.smtpPort = server.port();
        settings.clientMailAddress = "syslogd@example.com";
        settings.soundType = 2;
        SearchEntry& entry = settings.searchTable[0];
        entry.keyStr = "LINK-DOWN";
        entry.mailFlag = true;
        entry.subjectStr = "LINK-DOWN";
        entry.fromStr = "Syslogd";
        entry.toStr = "ops@example.com";
        pipeline = std::make_unique<ReceivePipeline>(
            clock, std::make_shared<const SyslogdSettings>(settings), queue);
        MainWindow::Services services;
        services.mail = &client;
        services.sound = &sound;
        window = std::make_unique<MainWindow>(settings, *pipeline, services);
        QObject::connect(&client, &SmtpClient::sessionFinished,
                         [this](SmtpOutcome outcome) { outcomes.push_back(outcome); });
    }

    // One datagram received and delivered to the window; a popup that was
    // not there before is counted.
    void Receive(const std::string& datagram) {
        pipeline->Handle(datagram, "192.0.2.7");
        pipeline->EndBatch();
        window->DeliverPending();
        PopupWindow* popup = window->popup();
        if (popup != nullptr && !popup->property("counted").toBool()) {
            popup->setProperty("counted", true);
            ++popups;
            lastPopup = popup->Text().toStdString();
        }
    }

    MailServer server;
    FakeClock clock{MakeLocalTime(2024, 7, 5, 12, 0, 0)};
    SyslogdSettings settings;
    WindowQueue queue;
    std::unique_ptr<ReceivePipeline> pipeline;
    SmtpClient client{std::chrono::milliseconds(10000)};
    FakeSoundPlayer sound;
    std::unique_ptr<MainWindow> window;
    std::vector<SmtpOutcome> outcomes;
    int popups = 0;
    std::string lastPopup;
};

TEST_F(HoldOffWindowTest, StormCostsOneAlertAndTheNextOneCarriesTheCount) {
    for (int i = 0; i < 100; ++i)
        Receive("<11>Jul  5 12:00:00 tarn07 LINK-DOWN lan1 #" + std::to_string(i));
    EXPECT_EQ(popups, 1);
    EXPECT_EQ(sound.played.size(), 1u);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !outcomes.empty(); }, 10000));
    EXPECT_EQ(outcomes, std::vector<SmtpOutcome>{SmtpOutcome::Sent});
    QTest::qWait(300);
    EXPECT_TRUE(server.HasMail(1));
    EXPECT_FALSE(server.HasMail(2));
    EXPECT_EQ(SplitLines(ReadFile(dir / "syslogd.txt")).size(), 100u);

    clock.Advance(60);
    Receive("<11>Jul  5 12:01:00 tarn07 LINK-DOWN lan1 again");
    EXPECT_EQ(popups, 2);
    EXPECT_EQ(lastPopup,
              "Jul  5 12:01:00   From 192.0.2.7\ntarn07 LINK-DOWN lan1 again\n"
              "前回の通知から 99 件の通知を抑止しました。");
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcomes.size() == 2; }, 10000));
    EXPECT_EQ(outcomes[1], SmtpOutcome::Sent);
    ASSERT_TRUE(server.HasMail(2));
    EXPECT_NE(server.Mail(2).find("tarn07 LINK-DOWN lan1 again\r\n" +
                                  ToIso2022Jp(Sjis("前回の通知から 99 件の通知を抑止しました。")) +
                                  "\r\n"),
              std::string::npos)
        << server.Mail(2);
    EXPECT_EQ(SplitLines(ReadFile(dir / "syslogd.txt")).size(), 101u);
}

}  // namespace
}  // namespace quellin::syslogd
