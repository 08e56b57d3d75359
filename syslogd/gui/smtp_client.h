// SMTPClient: sends notification mails over a TCP socket on the window
// thread, one session at a time.  Triggers that arrive while a session runs
// wait their turn with their own text; a session that has not finished in
// time is abandoned so that a silent server cannot hold back later mail.
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

    bool busy() const { return socket_ != nullptr; }
    std::size_t waiting() const { return waiting_.size(); }

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
    };

    void StartNext();
    void OnReadyRead();
    void Finish(SmtpOutcome outcome);

    std::chrono::milliseconds sessionLimit_;
    std::deque<Mail> waiting_;
    QTcpSocket* socket_ = nullptr;
    std::unique_ptr<SmtpDialogue> dialogue_;
    QTimer* watchdog_;
    bool closing_ = false;
};

}  // namespace quellin::syslogd
