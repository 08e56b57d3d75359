// SMTPClient: sends notification mails over a TCP socket on the window
// thread, one session at a time.  Triggers that arrive while a session runs
// wait with their own text; every mail waiting for the same server (server,
// port, security, login) goes in one session, the mails of a running
// session's server join it.  A session that makes no progress in time is
// abandoned so that a silent server cannot hold back later mail.
//
// With SMTPSecurity set the connection is TLS (QSslSocket): from the first
// byte, or after STARTTLS.  The server's certificate must chain to a
// trusted authority (the SMTPCAFile ones, else the system's) and name the
// configured server; a mail that cannot be verified is not sent, and the
// reason goes to the status listener.
#pragma once

#include "mail_notifier.h"
#include "smtp_dialogue.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

class QTcpSocket;
class QSslSocket;
class QTimer;

namespace quellin::syslogd {

class SmtpClient final : public QObject, public MailNotifier {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kDefaultSessionLimit{30000};
    // Mails waiting or in the session; a flood beyond this is counted and
    // dropped.
    static constexpr std::size_t kMaxWaiting = 1000;

    explicit SmtpClient(std::chrono::milliseconds sessionLimit = kDefaultSessionLimit,
                        QObject* parent = nullptr);
    ~SmtpClient() override;

    void Notify(const SyslogdSettings& settings, const SearchEntry& entry,
                const std::string& text) override;
    void Shutdown() override;
    void SetStatusListener(StatusListener listener) override;
    std::uint64_t heldBack() const override { return heldBack_; }

    bool busy() const { return socket_ != nullptr; }
    std::size_t waiting() const { return waiting_.size(); }
    // Why the last session over TLS or with a login failed; empty after
    // one that went through.
    const QString& lastFailure() const { return lastFailure_; }

signals:
    // One session ended; the mail went out when outcome is SmtpOutcome::Sent.
    void sessionFinished(quellin::syslogd::SmtpOutcome outcome);

private:
    struct Mail {
        QString host;
        int port = 25;
        std::string clientMailAddress;
        std::string recipients;
        std::string message;
        std::int32_t security = kSmtpPlain;
        SmtpTransport transport;
        std::string caFile;  // CP932 path; empty: the system's authorities
    };

    static bool SameSession(const Mail& a, const Mail& b);
    // Mails not yet through: waiting, or in the session and not yet taken
    // or refused.
    std::size_t Queued() const;
    void StartNext();
    // Tells the session of the socket's end, errors and TLS handshake.
    void WatchSocket(QSslSocket* tls);
    // Connects to the mail's server, or reports from the event loop why
    // the session cannot start.
    void Connect(const Mail& mail, QSslSocket* tls);
    // Sets up the TLS socket of a session; false with the reason when the
    // session cannot even start.
    bool PrepareTls(const Mail& mail, QSslSocket* socket, QString& reason);
    void OnReadyRead();
    void OnEncrypted();
    void Fail(SmtpOutcome outcome, const QString& reason);
    void Finish(SmtpOutcome outcome);
    QString Describe(SmtpOutcome outcome) const;

    std::chrono::milliseconds sessionLimit_;
    std::deque<Mail> waiting_;
    Mail session_;              // where the session in hand goes
    std::size_t finished_ = 0;  // its mails through so far
    std::uint64_t heldBack_ = 0;
    QTcpSocket* socket_ = nullptr;
    std::unique_ptr<SmtpDialogue> dialogue_;
    QTimer* watchdog_;
    bool closing_ = false;
    // The session in hand: reported, and where to.
    bool reported_ = false;
    QString target_;
    QString tlsErrors_;
    QString failureDetail_;
    QString lastFailure_;
    StatusListener listener_;
};

}  // namespace quellin::syslogd
