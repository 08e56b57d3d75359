// Alert mail over TLS with a login, against aiosmtpd on loopback with
// certificates the test makes with openssl: a matching datagram goes
// through the receive pipeline and the real window, and the mail server
// stores what arrives.  Failures (wrong password, no STARTTLS, a
// certificate from an authority not trusted or for another name) send
// nothing and are shown in the window's status area with their reason.
#include "mail_message.h"
#include "mail_peer.h"
#include "main_window.h"
#include "smtp_client.h"
#include "test_support.h"
#include "window_alert.h"

#include <QTcpServer>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace quellin::syslogd {
namespace {

using quellin::testing::ChildProcess;
using quellin::testing::kPython;
using quellin::testing::MailServer;
using quellin::testing::PrintTo;
using quellin::testing::ReadFile;
using quellin::testing::Sjis;
using quellin::testing::TempDir;
using quellin::testing::WriteFile;

constexpr char kOpenssl[] = "/usr/bin/openssl";

// Runs a program to its end, its chatter on standard error dropped.
bool Run(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> shell = {"-c", "exec \"$0\" \"$@\" 2>/dev/null", program};
    shell.insert(shell.end(), arguments.begin(), arguments.end());
    ChildProcess child("/bin/sh", shell);
    return child.started() && child.Wait(30000) == 0;
}

// A certificate authority and the server certificates it and a stranger
// signed, made once for all the cases.
class Certificates {
public:
    Certificates() {
        ok_ = MakeAuthority("ca") && MakeAuthority("stranger") &&
              MakeServer("server", "ca", "DNS:localhost,IP:127.0.0.1") &&
              MakeServer("untrusted", "stranger", "DNS:localhost,IP:127.0.0.1") &&
              MakeServer("elsewhere", "ca", "DNS:mail.example.org");
    }
    bool ok() const { return ok_; }
    std::string Pem(const std::string& name) const { return (dir_ / (name + ".pem")).string(); }
    std::string Key(const std::string& name) const { return (dir_ / (name + ".key")).string(); }

private:
    bool MakeAuthority(const std::string& name) {
        return Run(kOpenssl,
                   {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-keyout", Key(name), "-out", Pem(name), "-days", "2", "-subj",
                    "/CN=Test " + name, "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
                    "keyUsage=critical,keyCertSign,cRLSign"});
    }
    bool MakeServer(const std::string& name, const std::string& authority,
                    const std::string& names) {
        const std::string request = (dir_ / (name + ".csr")).string();
        const std::string extensions = (dir_ / (name + ".ext")).string();
        WriteFile(extensions, "subjectAltName=" + names +
                                  "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
        return Run(kOpenssl,
                   {"req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-keyout", Key(name), "-out", request, "-subj", "/CN=" + name}) &&
               Run(kOpenssl,
                   {"x509", "-req", "-in", request, "-CA", Pem(authority), "-CAkey", Key(authority),
                    "-set_serial", "2", "-days", "2", "-out", Pem(name), "-extfile", extensions});
    }

    TempDir folder_;
    std::filesystem::path dir_ = folder_.path();
    bool ok_ = false;
};

class SmtpTlsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { certificates_ = new Certificates(); }
    static void TearDownTestSuite() {
        delete certificates_;
        certificates_ = nullptr;
    }

    void SetUp() override {
        if (!std::filesystem::exists(kPython) || !std::filesystem::exists(kOpenssl))
            GTEST_SKIP() << "needs /usr/bin/python3 with aiosmtpd and openssl";
        ASSERT_TRUE(certificates_->ok()) << "openssl could not make the certificates";
        settings.mailSendFlag = true;
        settings.smtpServer = "localhost";
        settings.clientMailAddress = "syslogd@example.com";
        settings.soundType = 1;
        settings.smtpCAFile = certificates_->Pem("ca");
        SearchEntry& entry = settings.searchTable[0];
        entry.keyStr = "LINK-DOWN";
        entry.dispStr = Sjis("回線断");
        entry.mailFlag = true;
        entry.noPopMail = true;
        entry.subjectStr = Sjis("障害通知 LINK-DOWN");
        entry.fromStr = "Syslogd";
        entry.toStr = "ops@example.com,noc@example.com";
        entry.dataStr = ".\xB1\xB2\r\nend";
    }

    static std::vector<std::string> StartTls(const std::string& certificate = "server") {
        return {"--starttls", certificates_->Pem(certificate), certificates_->Key(certificate),
                "--auth", "ops:pa ss"};
    }
    static std::vector<std::string> Implicit() {
        return {"--implicit", certificates_->Pem("server"), certificates_->Key("server"), "--auth",
                "ops:pa ss"};
    }
    void UseLogin(std::int32_t security, const std::string& password = "pa ss") {
        settings.smtpSecurity = security;
        settings.smtpAuthFlag = true;
        settings.smtpUser = "ops";
        settings.smtpPassword = password;
    }

    // One matching datagram through the pipeline and the window; the
    // outcome of its mail session.
    SmtpOutcome Alert(quint16 port) {
        settings.smtpPort = port;
        SmtpClient client(std::chrono::milliseconds(10000));
        const testing::WindowAlert alert = testing::AlertThroughWindow(
            settings, client, "<11>Jan  1 00:00:00 tarn01 LINK-DOWN lan1", 15000);
        if (!alert.outcome)
            return SmtpOutcome::Running;
        notice = alert.notice;
        return *alert.outcome;
    }

    static Certificates* certificates_;
    SyslogdSettings settings;
    std::string notice;
};

Certificates* SmtpTlsTest::certificates_ = nullptr;

TEST_F(SmtpTlsTest, StartTlsWithLoginDeliversTheSameMessageAsPlainSmtp) {
    MailServer plain;
    MailServer secure(StartTls());
    ASSERT_TRUE(plain.ready() && secure.ready()) << "aiosmtpd did not start";

    settings.smtpServer = "127.0.0.1";
    ASSERT_EQ(Alert(plain.port()), SmtpOutcome::Sent);
    settings.smtpServer = "localhost";
    UseLogin(kSmtpStartTls);
    ASSERT_EQ(Alert(secure.port()), SmtpOutcome::Sent) << notice;
    EXPECT_EQ(notice, "");

    ASSERT_TRUE(secure.HasMail(1));
    EXPECT_EQ(secure.Mail(1).substr(secure.Mail(1).find("Subject: ")),  // after its date and id
              plain.Mail(1).substr(plain.Mail(1).find("Subject: ")));
    EXPECT_NE(secure.Mail(1).find(ToIso2022Jp(Sjis("回線断"))), std::string::npos);
    EXPECT_EQ(ReadFile(secure.Path("mail1.envelope")),
              "syslogd@example.com\nops@example.com\nnoc@example.com\n");
    EXPECT_EQ(ReadFile(secure.Path("auth.log")), "ok PLAIN ops\n");
}

TEST_F(SmtpTlsTest, ImplicitTlsOnItsOwnPort) {
    MailServer server(Implicit());
    ASSERT_TRUE(server.ready());
    UseLogin(kSmtpImplicitTls);
    ASSERT_EQ(Alert(server.port()), SmtpOutcome::Sent) << notice;
    EXPECT_TRUE(server.HasMail(1));
    EXPECT_EQ(ReadFile(server.Path("auth.log")), "ok PLAIN ops\n");
}

TEST_F(SmtpTlsTest, LoginWhenTheServerOffersOnlyLogin) {
    std::vector<std::string> options = StartTls();
    options.push_back("--login-only");
    MailServer server(options);
    ASSERT_TRUE(server.ready());
    UseLogin(kSmtpStartTls);
    ASSERT_EQ(Alert(server.port()), SmtpOutcome::Sent) << notice;
    EXPECT_TRUE(server.HasMail(1));
    EXPECT_EQ(ReadFile(server.Path("auth.log")), "ok LOGIN ops\n");
}

TEST_F(SmtpTlsTest, WrongPasswordSendsNothingAndSaysWhy) {
    MailServer server(StartTls());
    ASSERT_TRUE(server.ready());
    UseLogin(kSmtpStartTls, "wrong");
    EXPECT_EQ(Alert(server.port()), SmtpOutcome::AuthFailed);
    EXPECT_FALSE(server.HasMail(1));
    EXPECT_EQ(ReadFile(server.Path("auth.log")), "refused PLAIN ops\n");
    EXPECT_NE(notice.find("メールを送信できません: localhost:"), std::string::npos) << notice;
    EXPECT_NE(notice.find("SMTP 認証に失敗しました (535"), std::string::npos) << notice;
    EXPECT_EQ(notice.find("wrong"), std::string::npos) << "the password must never be shown";
}

TEST_F(SmtpTlsTest, ServerWithoutStartTlsGetsNoMailInClearText) {
    MailServer server({"--auth", "ops:pa ss"});
    ASSERT_TRUE(server.ready());
    UseLogin(kSmtpStartTls);
    EXPECT_EQ(Alert(server.port()), SmtpOutcome::TlsNotOffered);
    EXPECT_FALSE(server.HasMail(1));
    EXPECT_FALSE(std::filesystem::exists(server.Path("auth.log")));
    EXPECT_NE(notice.find("STARTTLS を提供していない"), std::string::npos) << notice;
}

struct CertificateRow {
    std::string name;
    std::string certificate;
    std::string reason;  // part of Qt's text for the verification error
};

class SmtpCertificateTest : public SmtpTlsTest,
                            public ::testing::WithParamInterface<CertificateRow> {};

TEST_P(SmtpCertificateTest, UnverifiedServerGetsNothing) {
    MailServer server(StartTls(GetParam().certificate));
    ASSERT_TRUE(server.ready());
    UseLogin(kSmtpStartTls);
    EXPECT_EQ(Alert(server.port()), SmtpOutcome::TlsFailed);
    EXPECT_FALSE(server.HasMail(1));
    EXPECT_FALSE(std::filesystem::exists(server.Path("auth.log")));
    EXPECT_NE(notice.find("サーバの証明書を検証できません"), std::string::npos) << notice;
    EXPECT_NE(notice.find(GetParam().reason), std::string::npos) << notice;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SmtpCertificateTest,
    ::testing::Values(CertificateRow{"untrusted_authority", "untrusted", "issuer certificate"},
                      CertificateRow{"other_host_name", "elsewhere", "host name did not match"}),
    quellin::testing::RowName());

// The first mail over TLS that goes through again clears the report.
TEST_F(SmtpTlsTest, ReportClearsOnceAMailGoesOut) {
    MailServer server(StartTls());
    ASSERT_TRUE(server.ready());
    UseLogin(kSmtpStartTls, "wrong");

    SmtpClient client(std::chrono::milliseconds(10000));
    std::vector<std::string> reports;
    client.SetStatusListener(
        [&](bool failing, const std::string& reason) { reports.push_back(failing ? reason : ""); });
    std::size_t sessions = 0;
    QObject::connect(&client, &SmtpClient::sessionFinished, [&](SmtpOutcome) { ++sessions; });
    settings.smtpPort = server.port();
    client.Notify(settings, settings.searchTable[0], "first");
    client.Notify(settings, settings.searchTable[0], "second");
    ASSERT_TRUE(QTest::qWaitFor([&] { return sessions == 1; }, 15000));
    // Told once, not once per mail.
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("535"), std::string::npos);

    settings.smtpPassword = "pa ss";
    client.Notify(settings, settings.searchTable[0], "third");
    ASSERT_TRUE(QTest::qWaitFor([&] { return sessions == 2; }, 15000));
    EXPECT_EQ(reports, (std::vector<std::string>{reports[0], ""}));
    EXPECT_TRUE(server.HasMail(1));
}

}  // namespace
}  // namespace quellin::syslogd
