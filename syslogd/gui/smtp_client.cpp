#include "smtp_client.h"

#include "codec.h"
#include "mail_message.h"

#include <QTcpSocket>
#include <QTimer>

namespace quellin::syslogd {

SmtpClient::SmtpClient(std::chrono::milliseconds sessionLimit, QObject* parent)
    : QObject(parent), sessionLimit_(sessionLimit), watchdog_(new QTimer(this)) {
    watchdog_->setSingleShot(true);
    connect(watchdog_, &QTimer::timeout, this, [this] { Finish(SmtpOutcome::TimedOut); });
}

SmtpClient::~SmtpClient() {
    Shutdown();
}

void SmtpClient::Notify(const SyslogdSettings& settings, const SearchEntry& entry,
                        const std::string& text) {
    if (waiting_.size() >= kMaxWaiting)
        return;
    Mail mail;
    mail.host = QString::fromStdString(cp932::ToUtf8Lossy(settings.smtpServer));
    mail.port = settings.smtpPort;
    mail.clientMailAddress = settings.clientMailAddress;
    mail.recipients = entry.toStr;
    // Composed now: the mail carries the text of the message that
    // triggered it, whatever matches while it waits.
    mail.message = ComposeMail(settings.clientMailAddress, entry, text);
    waiting_.push_back(std::move(mail));
    StartNext();
}

void SmtpClient::Shutdown() {
    waiting_.clear();
    if (socket_)
        Finish(SmtpOutcome::Cancelled);
}

void SmtpClient::StartNext() {
    if (socket_ || waiting_.empty())
        return;
    Mail mail = std::move(waiting_.front());
    waiting_.pop_front();

    dialogue_ = std::make_unique<SmtpDialogue>(mail.clientMailAddress, mail.recipients,
                                               std::move(mail.message));
    closing_ = false;
    socket_ = new QTcpSocket(this);
    connect(socket_, &QTcpSocket::readyRead, this, &SmtpClient::OnReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, [this] {
        Finish(dialogue_->outcome() == SmtpOutcome::Running ? SmtpOutcome::ConnectFailed
                                                            : dialogue_->outcome());
    });
    connect(socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        // The server closing after our QUIT is the normal end, not a failure.
        if (closing_)
            Finish(dialogue_->outcome());
        else
            Finish(SmtpOutcome::ConnectFailed);
    });
    watchdog_->start(sessionLimit_);
    if (mail.port < 1 || mail.port > 65535 || mail.host.isEmpty()) {
        // Reported from the event loop, like a refused connection.
        QTimer::singleShot(0, this, [this, socket = socket_] {
            if (socket_ == socket)
                Finish(SmtpOutcome::ConnectFailed);
        });
        return;
    }
    socket_->connectToHost(mail.host, static_cast<quint16>(mail.port));
}

void SmtpClient::OnReadyRead() {
    if (!socket_ || closing_)
        return;
    QByteArray bytes = socket_->readAll();
    SmtpStep step = dialogue_->OnReceived(std::string_view(bytes.constData(), bytes.size()));
    if (!step.send.empty())
        socket_->write(step.send.data(), static_cast<qint64>(step.send.size()));
    if (step.close) {
        closing_ = true;
        // Lets what was written go out before the connection ends.
        socket_->disconnectFromHost();
        if (socket_ && socket_->state() == QAbstractSocket::UnconnectedState)
            Finish(dialogue_->outcome());
    }
}

void SmtpClient::Finish(SmtpOutcome outcome) {
    if (!socket_)
        return;
    watchdog_->stop();
    QTcpSocket* socket = socket_;
    socket_ = nullptr;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    dialogue_.reset();
    emit sessionFinished(outcome);
    // The next waiting mail starts from the event loop, not inside the
    // socket's signal.
    QTimer::singleShot(0, this, &SmtpClient::StartNext);
}

}  // namespace quellin::syslogd
