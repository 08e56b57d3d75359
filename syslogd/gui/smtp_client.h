// SMTPClient: sends notification mails over a TCP socket on the window
// thread, one session at a time.  Triggers that arrive while a session runs
// wait their turn with their own text; a session that has not finished in
// time is abandoned so that a silent server cannot hold back later mail.
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
    // Triggers kept while a session runs; a flood beyond this is dropped.
    static constexpr std::size_t kMaxWaiting = 100;

    explicit SmtpClient(std::chrono::milliseconds sessionLimit = kDefaultSessionLimit,
                        QObject* parent = nullptr);
    ~SmtpClient() override;

    void Notify(const SyslogdSettings& settings, const SearchEntry& entry,
                const std::string& text) override;
    void Shutdown() override;
    void SetStatusListener(StatusListener listener) override;

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

    void StartNext();
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
