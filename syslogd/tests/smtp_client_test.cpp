#include "smtp_client.h"

#include "mail_message.h"
#include "main_window.h"
#include "test_support.h"
#include "window_alert.h"

#include <QApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

namespace quellin::syslogd {
namespace {

using quellin::testing::ReadFile;
using quellin::testing::Sjis;
using quellin::testing::TempDirTest;

// A loopback server that speaks a scripted SMTP: `answer` gives the reply
// to each complete line the client sends (empty: stay silent).
class ScriptedPeer {
public:
    explicit ScriptedPeer(std::string greeting) : greeting_(std::move(greeting)) {
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                ++connections;
                sessions.emplace_back();
                std::size_t session = sessions.size() - 1;
                QObject::connect(socket, &QTcpSocket::readyRead, socket,
                                 [this, socket, session] { OnRead(socket, session); });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                    ++closed;
                    socket->deleteLater();
                });
                if (!greeting_.empty())
                    socket->write(greeting_.data(), static_cast<qint64>(greeting_.size()));
            }
        });
    }

    quint16 port() const { return server_.serverPort(); }

    std::function<std::string(const std::string& line, bool inData)> answer =
        [](const std::string& line, bool inData) -> std::string {
        if (inData)
            return line == "." ? "250 queued\r\n" : "";
        if (line.starts_with("DATA"))
            return "354 go ahead\r\n";
        if (line.starts_with("QUIT"))
            return "221 bye\r\n";
        return "250 ok\r\n";
    };

    std::vector<std::string> sessions;  // bytes each connection sent
    int connections = 0;
    int closed = 0;

private:
    void OnRead(QTcpSocket* socket, std::size_t session) {
        QByteArray bytes = socket->readAll();
        std::string& all = sessions[session];
        all.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        std::string& pending = pending_[session];
        pending.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        std::size_t end;
        while ((end = pending.find("\r\n")) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 2);
            bool& inData = inData_[session];
            std::string reply = answer(line, inData);
            if (!inData && reply.starts_with("354"))
                inData = true;
            else if (inData && line == ".")
                inData = false;
            if (!reply.empty())
                socket->write(reply.data(), static_cast<qint64>(reply.size()));
        }
    }

    std::string greeting_;
    QTcpServer server_;
    std::map<std::size_t, std::string> pending_;
    std::map<std::size_t, bool> inData_;
};

class SmtpClientTest : public ::testing::Test {
protected:
    SmtpClientTest() {
        QObject::connect(&client, &SmtpClient::sessionFinished,
                         [this](SmtpOutcome outcome) { outcomes.push_back(outcome); });
    }

    SyslogdSettings Settings(quint16 port) {
        SyslogdSettings settings;
        settings.mailSendFlag = true;
        settings.smtpServer = "127.0.0.1";
        settings.smtpPort = port;
        settings.clientMailAddress = "syslogd@example.com";
        return settings;
    }

    static SearchEntry Entry(std::string to) {
        SearchEntry entry;
        entry.keyStr = "down";
        entry.mailFlag = true;
        entry.subjectStr = "Alert";
        entry.fromStr = "Syslogd";
        entry.toStr = std::move(to);
        return entry;
    }

    bool WaitForSessions(std::size_t count, int timeoutMs = 5000) {
        return QTest::qWaitFor([&] { return outcomes.size() >= count; }, timeoutMs);
    }

    SmtpClient client{std::chrono::milliseconds(1000)};
    std::vector<SmtpOutcome> outcomes;
};

TEST_F(SmtpClientTest, TwoLineGreetingStillDeliversTheMail) {
    ScriptedPeer peer("220-mail.example ESMTP\r\n220 welcome\r\n");
    client.Notify(Settings(peer.port()), Entry("a@example.com"), "link down");
    ASSERT_TRUE(WaitForSessions(1));
    EXPECT_EQ(outcomes[0], SmtpOutcome::Sent);
    ASSERT_EQ(peer.sessions.size(), 1u);
    const std::string& sent = peer.sessions[0];
    EXPECT_TRUE(
        sent.starts_with("HELO localhost\r\nMAIL FROM:<syslogd@example.com>\r\n"
                         "RCPT TO:<a@example.com>\r\nDATA\r\nDate: "))
        << sent;
    EXPECT_TRUE(sent.ends_with("link down\r\n\r\n\r\n.\r\nQUIT\r\n")) << sent;
}

TEST_F(SmtpClientTest, ForwardingRecipientIsAccepted) {
    ScriptedPeer peer("220 hi\r\n");
    auto standard = peer.answer;
    peer.answer = [standard](const std::string& line, bool inData) {
        if (!inData && line.starts_with("RCPT TO:"))
            return std::string("251 User not local; will forward\r\n");
        return standard(line, inData);
    };
    client.Notify(Settings(peer.port()), Entry("a@example.com,b@example.com"), "t");
    ASSERT_TRUE(WaitForSessions(1));
    EXPECT_EQ(outcomes[0], SmtpOutcome::Sent);
    EXPECT_NE(peer.sessions[0].find("RCPT TO:<b@example.com>\r\nDATA\r\n"), std::string::npos);
}

TEST_F(SmtpClientTest, RefusedRecipientClosesWithoutData) {
    ScriptedPeer peer("220 hi\r\n");
    auto standard = peer.answer;
    peer.answer = [standard](const std::string& line, bool inData) {
        if (line == "RCPT TO:<nobody@example.com>")
            return std::string("550 no such user\r\n");
        return standard(line, inData);
    };
    client.Notify(Settings(peer.port()), Entry("nobody@example.com,a@example.com"), "t");
    ASSERT_TRUE(WaitForSessions(1));
    EXPECT_EQ(outcomes[0], SmtpOutcome::UnexpectedReply);
    EXPECT_TRUE(QTest::qWaitFor([&] { return peer.closed == 1; }, 5000));
    EXPECT_TRUE(peer.sessions[0].ends_with("RCPT TO:<nobody@example.com>\r\n"));
    EXPECT_FALSE(client.busy());
}

TEST_F(SmtpClientTest, SilentServerIsAbandonedAndTheNextMailGoesOut) {
    ScriptedPeer silent("");
    ScriptedPeer good("220 hi\r\n");
    client.Notify(Settings(silent.port()), Entry("a@example.com"), "first");
    client.Notify(Settings(good.port()), Entry("a@example.com"), "second");
    EXPECT_EQ(client.waiting(), 1u);
    ASSERT_TRUE(WaitForSessions(2));
    EXPECT_EQ(outcomes[0], SmtpOutcome::TimedOut);
    EXPECT_EQ(outcomes[1], SmtpOutcome::Sent);
    EXPECT_NE(good.sessions[0].find("second\r\n"), std::string::npos);
}

// A second trigger for the same server goes in the same session, with its
// own text and recipients.
TEST_F(SmtpClientTest, SecondTriggerJoinsTheSessionWithItsOwnText) {
    ScriptedPeer peer("220 hi\r\n");
    SyslogdSettings settings = Settings(peer.port());
    client.Notify(settings, Entry("a@example.com"), "first text");
    client.Notify(settings, Entry("b@example.com"), "second text");
    ASSERT_TRUE(WaitForSessions(1));
    EXPECT_EQ(outcomes, (std::vector<SmtpOutcome>{SmtpOutcome::Sent}));
    ASSERT_EQ(peer.sessions.size(), 1u);
    const std::string& sent = peer.sessions[0];
    EXPECT_LT(sent.find("first text\r\n"), sent.find("RSET\r\nMAIL FROM:<syslogd@example.com>\r\n"
                                                     "RCPT TO:<b@example.com>\r\n"))
        << sent;
    EXPECT_TRUE(sent.ends_with("second text\r\n\r\n\r\n.\r\nQUIT\r\n")) << sent;
}

// A silent server: mails wait in one session up to the bound, the rest counted.
TEST_F(SmtpClientTest, MailsBeyondTheBoundAreCounted) {
    ScriptedPeer silent("");
    for (std::size_t i = 0; i < SmtpClient::kMaxWaiting + 3; ++i)
        client.Notify(Settings(silent.port()), Entry("a@example.com"), "storm");
    EXPECT_EQ(client.heldBack(), 3u);
    ASSERT_TRUE(WaitForSessions(1));
    EXPECT_EQ(silent.connections, 1);
}

TEST_F(SmtpClientTest, RefusedConnectionEndsTheSession) {
    quint16 port;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    client.Notify(Settings(port), Entry("a@example.com"), "t");
    ASSERT_TRUE(WaitForSessions(1));
    EXPECT_EQ(outcomes[0], SmtpOutcome::ConnectFailed);
}

TEST_F(SmtpClientTest, ShutdownDropsWaitingMail) {
    ScriptedPeer silent("");
    client.Notify(Settings(silent.port()), Entry("a@example.com"), "first");
    client.Notify(Settings(silent.port()), Entry("a@example.com"), "second");
    client.Shutdown();
    EXPECT_EQ(outcomes, std::vector<SmtpOutcome>{SmtpOutcome::Cancelled});
    EXPECT_FALSE(client.busy());
    EXPECT_EQ(client.waiting(), 0u);
}

// A real mail server: the aiosmtpd sink stores what it received.
class AiosmtpdTest : public TempDirTest {
protected:
    static quint16 FreePort() {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }
};

TEST_F(AiosmtpdTest, MatchingDatagramMailsTheMessage) {
    if (!std::filesystem::exists("/usr/bin/python3"))
        GTEST_SKIP() << "no /usr/bin/python3";
    quint16 port = FreePort();
    quellin::testing::ChildProcess server("/usr/bin/python3",
                                          {SYSLOGD_SMTP_SINK, std::to_string(port), dir.folder()});
    ASSERT_TRUE(server.started());
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(dir / "ready"); }, 15000))
        << "aiosmtpd did not start";

    SyslogdSettings settings;
    settings.mailSendFlag = true;
    settings.smtpServer = "127.0.0.1";
    settings.smtpPort = port;
    settings.clientMailAddress = "syslogd@example.com";
    settings.soundType = 1;
    SearchEntry& entry = settings.searchTable[0];
    entry.keyStr = "LINK-DOWN";
    entry.dispStr = Sjis("回線断");
    entry.mailFlag = true;
    entry.noPopMail = true;
    entry.subjectStr = Sjis("あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほ");
    entry.fromStr = "Syslogd";
    entry.toStr = "ops@example.com,noc@example.com";
    entry.dataStr = ".\xB1\xB2\r\nend";

    SmtpClient client;
    const testing::WindowAlert alert =
        testing::AlertThroughWindow(settings, client, "<11>Jan  1 00:00:00 LINK-DOWN lan1", 10000);
    ASSERT_TRUE(alert.outcome);
    EXPECT_EQ(*alert.outcome, SmtpOutcome::Sent);
    ASSERT_TRUE(std::filesystem::exists(dir / "mail1.eml"));
    EXPECT_FALSE(std::filesystem::exists(dir / "mail2.eml"));

    EXPECT_EQ(ReadFile(dir / "mail1.envelope"),
              "syslogd@example.com\nops@example.com\nnoc@example.com\n");
    std::string mail = ReadFile(dir / "mail1.eml");
    EXPECT_TRUE(mail.starts_with("Date: ")) << mail;  // then the header as before
    mail.erase(0, mail.find("\r\nSubject: ") + 2);
    EXPECT_TRUE(mail.starts_with(
        "Subject: \r\n"
        " =?ISO-2022-JP?B?GyRCJCIkJCQmJCgkKiQrJC0kLyQxJDMkNSQ3JDkkOyQ9JD8kQSREGyhC?=\r\n"
        " =?ISO-2022-JP?B?GyRCJEYkSCRKJEskTCRNJE4kTyRSJFUkWCRbGyhC?= \r\n"
        "From: Syslogd <syslogd@example.com>\r\n"
        "To: ops@example.com,noc@example.com\r\n"
        "Content-Type: text/plain; charset=iso-2022-jp\r\n"
        "\r\n"))
        << mail;
    // The dot of transparency is gone again; katakana went out full-width.
    EXPECT_NE(mail.find(ToIso2022Jp(Sjis("回線断")) + "\r\n\r\n"), std::string::npos) << mail;
    // The body's own final line end, then the blank line before the end mark.
    EXPECT_TRUE(mail.ends_with("\r\n\r\n.\x1B$B%\"%$\x1B(B\r\nend\r\n\r\n")) << mail;
}

}  // namespace
}  // namespace quellin::syslogd
