#include "smtp_client.h"

#include "clock.h"
#include "codec.h"
#include "mail_message.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

namespace quellin::syslogd {
namespace {

SmtpSecurity SecurityOf(std::int32_t value) {
    switch (value) {
        case kSmtpStartTls:
            return SmtpSecurity::StartTls;
        case kSmtpImplicitTls:
            return SmtpSecurity::ImplicitTls;
        default:
            return SmtpSecurity::None;
    }
}

QString Local(const std::string& cp932) {
    return QString::fromStdString(cp932::ToUtf8Lossy(cp932));
}

}  // namespace

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
    if (Queued() >= kMaxWaiting) {
        ++heldBack_;
        return;
    }
    Mail mail;
    mail.host = QString::fromStdString(cp932::ToUtf8Lossy(settings.smtpServer));
    mail.port = settings.smtpPort;
    mail.clientMailAddress = settings.clientMailAddress;
    mail.recipients = entry.toStr;
    // Composed now: the mail carries the text of the message that
    // triggered it, whatever matches while it waits.
    mail.message = StampHeader(CurrentClock().Now(), settings.clientMailAddress) +
                   ComposeMail(settings.clientMailAddress, entry, text);
    mail.security = settings.smtpSecurity;
    mail.transport.security = SecurityOf(settings.smtpSecurity);
    mail.transport.authenticate = settings.smtpAuthFlag;
    if (settings.smtpAuthFlag) {
        mail.transport.user = settings.smtpUser;
        mail.transport.password = settings.smtpPassword;
    }
    mail.caFile = settings.smtpCAFile;
    if (socket_ && !closing_ && dialogue_->open() && SameSession(mail, session_)) {
        dialogue_->Add(mail.recipients, std::move(mail.message));
        return;
    }
    waiting_.push_back(std::move(mail));
    StartNext();
}

std::size_t SmtpClient::Queued() const {
    return waiting_.size() + (dialogue_ ? dialogue_->mails() - dialogue_->finished() : 0);
}

bool SmtpClient::SameSession(const Mail& a, const Mail& b) {
    return a.host == b.host && a.port == b.port && a.security == b.security &&
           a.caFile == b.caFile && a.clientMailAddress == b.clientMailAddress &&
           a.transport.security == b.transport.security &&
           a.transport.authenticate == b.transport.authenticate &&
           a.transport.user == b.transport.user && a.transport.password == b.transport.password;
}

void SmtpClient::Shutdown() {
    waiting_.clear();
    if (socket_)
        Finish(SmtpOutcome::Cancelled);
}

void SmtpClient::SetStatusListener(StatusListener listener) {
    listener_ = std::move(listener);
}

bool SmtpClient::PrepareTls(const Mail& mail, QSslSocket* socket, QString& reason) {
    if (!QSslSocket::supportsSsl()) {
        reason = QStringLiteral("TLS を使えません (OpenSSL が見つかりません)");
        return false;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    // The certificate and the server's name are checked always.
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!mail.caFile.empty()) {
        // Only the authorities of the file are trusted then.
        const QList<QSslCertificate> authorities =
            QSslCertificate::fromPath(QString::fromStdString(cp932::ToPath(mail.caFile).string()),
                                      QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
        if (authorities.isEmpty()) {
            reason = QStringLiteral("CA 証明書ファイルを読めません: ") + Local(mail.caFile);
            return false;
        }
        configuration.setCaCertificates(authorities);
    }
    socket->setSslConfiguration(configuration);
    socket->setPeerVerifyName(mail.host);
    return true;
}

void SmtpClient::StartNext() {
    if (socket_ || waiting_.empty())
        return;
    Mail mail = std::move(waiting_.front());
    waiting_.pop_front();

    const bool plain = mail.transport.plain() && mail.security == kSmtpPlain;
    dialogue_ = std::make_unique<SmtpDialogue>(mail.clientMailAddress, mail.recipients,
                                               std::move(mail.message), mail.transport);
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        if (!SameSession(*it, mail)) {
            ++it;
            continue;
        }
        dialogue_->Add(it->recipients, std::move(it->message));
        it = waiting_.erase(it);
    }
    session_ = mail;
    finished_ = 0;
    closing_ = false;
    reported_ = !plain;
    target_ = mail.host + QLatin1Char(':') + QString::number(mail.port);
    tlsErrors_.clear();
    failureDetail_.clear();

    QSslSocket* tls = plain ? nullptr : new QSslSocket(this);
    socket_ = plain ? new QTcpSocket(this) : tls;
    WatchSocket(tls);
    watchdog_->start(sessionLimit_);
    Connect(mail, tls);
}

void SmtpClient::WatchSocket(QSslSocket* tls) {
    connect(socket_, &QTcpSocket::readyRead, this, &SmtpClient::OnReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, [this] {
        if (dialogue_->outcome() != SmtpOutcome::Running) {
            Finish(dialogue_->outcome());
            return;
        }
        const bool duringTls = !tlsErrors_.isEmpty() ||
                               dialogue_->state() == SmtpDialogue::State::TlsHandshake ||
                               (reported_ && !dialogue_->encrypted() &&
                                dialogue_->state() != SmtpDialogue::State::Greeting);
        Finish(duringTls ? SmtpOutcome::TlsFailed : SmtpOutcome::ConnectFailed);
    });
    connect(socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        // The server closing after our QUIT is the normal end, not a failure.
        if (closing_) {
            Finish(dialogue_->outcome());
            return;
        }
        failureDetail_ = socket_->errorString();
        const bool tlsError = error == QAbstractSocket::SslHandshakeFailedError ||
                              error == QAbstractSocket::SslInternalError ||
                              error == QAbstractSocket::SslInvalidUserDataError ||
                              !tlsErrors_.isEmpty();
        Finish(tlsError ? SmtpOutcome::TlsFailed : SmtpOutcome::ConnectFailed);
    });
    if (tls != nullptr) {
        connect(tls, &QSslSocket::encrypted, this, &SmtpClient::OnEncrypted);
        connect(tls, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
            QStringList texts;
            for (const QSslError& e : errors)
                texts << e.errorString();
            tlsErrors_ = texts.join(QStringLiteral("; "));
        });
    }
}

void SmtpClient::Connect(const Mail& mail, QSslSocket* tls) {
    // Failures found before connecting are reported from the event loop,
    // like a refused connection.
    auto failSoon = [this](SmtpOutcome outcome, QString reason) {
        QTimer::singleShot(0, this, [this, socket = socket_, outcome, reason] {
            if (socket_ != socket)
                return;
            failureDetail_ = reason;
            Finish(outcome);
        });
    };
    if (mail.port < 1 || mail.port > 65535 || mail.host.isEmpty()) {
        failSoon(SmtpOutcome::ConnectFailed, QStringLiteral("サーバまたはポート番号がありません"));
        return;
    }
    if (mail.security != kSmtpPlain && mail.security != kSmtpStartTls &&
        mail.security != kSmtpImplicitTls) {
        failSoon(SmtpOutcome::TlsFailed,
                 QStringLiteral("SMTPSecurity=%1 は使えません").arg(mail.security));
        return;
    }
    if (tls != nullptr) {
        QString reason;
        if (!PrepareTls(mail, tls, reason)) {
            failSoon(SmtpOutcome::TlsFailed, reason);
            return;
        }
        if (mail.transport.security == SmtpSecurity::ImplicitTls) {
            tls->connectToHostEncrypted(mail.host, static_cast<quint16>(mail.port));
            return;
        }
    }
    socket_->connectToHost(mail.host, static_cast<quint16>(mail.port));
}

void SmtpClient::OnReadyRead() {
    if (!socket_ || closing_)
        return;
    QByteArray bytes = socket_->readAll();
    SmtpStep step = dialogue_->OnReceived(std::string_view(bytes.constData(), bytes.size()));
    if (dialogue_->finished() != finished_) {
        // A mail went through (or was refused): the next one gets its time.
        finished_ = dialogue_->finished();
        watchdog_->start(sessionLimit_);
    }
    if (!step.send.empty())
        socket_->write(step.send.data(), static_cast<qint64>(step.send.size()));
    if (step.startTls) {
        if (auto* tls = qobject_cast<QSslSocket*>(socket_)) {
            tls->startClientEncryption();
        } else {
            dialogue_->OnTransportFailed(SmtpOutcome::TlsFailed);
            step.close = true;
        }
    }
    if (step.close) {
        closing_ = true;
        // Lets what was written go out before the connection ends.
        socket_->disconnectFromHost();
        if (socket_ && socket_->state() == QAbstractSocket::UnconnectedState)
            Finish(dialogue_->outcome());
    }
}

void SmtpClient::OnEncrypted() {
    if (!socket_ || closing_ || dialogue_->state() != SmtpDialogue::State::TlsHandshake)
        return;
    SmtpStep step = dialogue_->OnTlsReady();
    if (!step.send.empty())
        socket_->write(step.send.data(), static_cast<qint64>(step.send.size()));
}

QString SmtpClient::Describe(SmtpOutcome outcome) const {
    const QString reply = QString::fromStdString(cp932::ToUtf8Lossy(dialogue_->lastLine()));
    auto withDetail = [](QString text, const QString& detail) {
        if (!detail.isEmpty())
            text += QStringLiteral(" (") + detail + QLatin1Char(')');
        return text;
    };
    switch (outcome) {
        case SmtpOutcome::TlsNotOffered:
            return QStringLiteral("サーバが STARTTLS を提供していないため、平文では送りません");
        case SmtpOutcome::TlsFailed: {
            if (!tlsErrors_.isEmpty())
                return withDetail(QStringLiteral("サーバの証明書を検証できません"), tlsErrors_);
            if (!failureDetail_.isEmpty())
                return withDetail(QStringLiteral("TLS で接続できません"), failureDetail_);
            return withDetail(QStringLiteral("TLS で接続できません"), reply);
        }
        case SmtpOutcome::AuthNeedsTls:
            return QStringLiteral("SMTP 認証には STARTTLS か SSL/TLS が必要です");
        case SmtpOutcome::AuthNotOffered:
            return QStringLiteral("サーバが AUTH PLAIN と AUTH LOGIN のどちらも提供していません");
        case SmtpOutcome::AuthFailed:
            return withDetail(QStringLiteral("SMTP 認証に失敗しました"), reply);
        case SmtpOutcome::UnexpectedReply:
            return withDetail(QStringLiteral("サーバが受け付けませんでした"), reply);
        case SmtpOutcome::BadReply:
            return QStringLiteral("サーバの応答が SMTP ではありません");
        case SmtpOutcome::ConnectFailed:
            return withDetail(QStringLiteral("接続できません"), failureDetail_);
        case SmtpOutcome::TimedOut:
            return QStringLiteral("サーバが時間内に応答しません");
        case SmtpOutcome::Running:
        case SmtpOutcome::Sent:
        case SmtpOutcome::Cancelled:
            break;
    }
    return {};
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
    if (reported_ && outcome != SmtpOutcome::Cancelled) {
        // Told when it changes: a failure once, and its end once.
        const QString failure = outcome == SmtpOutcome::Sent
                                    ? QString()
                                    : target_ + QStringLiteral(": ") + Describe(outcome);
        if (failure != lastFailure_) {
            lastFailure_ = failure;
            if (listener_)
                listener_(!failure.isEmpty(), failure.toStdString());
        }
    }
    dialogue_.reset();
    emit sessionFinished(outcome);
    // The next waiting mail starts from the event loop, not inside the
    // socket's signal.
    QTimer::singleShot(0, this, &SmtpClient::StartNext);
}

}  // namespace quellin::syslogd
