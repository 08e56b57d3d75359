#include "syslog_receiver.h"

#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>

#include <sys/socket.h>

namespace quellin::syslogd {
namespace {

// Bursts from many routers must not overflow the socket while the window
// thread is busy (a modal dialog, a long list update).
constexpr int kWantedReceiveBuffer = 16 * 1024 * 1024;
// Datagrams handled before other window events get their turn; the rest
// follow at once from the event loop.
constexpr int kDatagramsPerTurn = 256;

void EnlargeReceiveBuffer(int fd) {
    int size = kWantedReceiveBuffer;
    // Privileged processes may pass the system limit; others get the limit.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) == 0)
        return;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

QString DottedAddress(const QHostAddress& address) {
    bool isV4 = false;
    quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

}  // namespace

SyslogReceiver::SyslogReceiver(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)), socket_(new QUdpSocket(this)) {
    connect(socket_, &QUdpSocket::readyRead, this, &SyslogReceiver::Drain);
}

SyslogReceiver::~SyslogReceiver() = default;

bool SyslogReceiver::Bind(quint16 port, QString* error) {
    // Exclusive: a second server on the port must fail rather than share it.
    if (!socket_->bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress)) {
        if (error != nullptr)
            *error = socket_->errorString();
        return false;
    }
    EnlargeReceiveBuffer(static_cast<int>(socket_->socketDescriptor()));
    return true;
}

quint16 SyslogReceiver::localPort() const {
    return socket_->localPort();
}

int SyslogReceiver::receiveBufferSize() const {
    int size = 0;
    socklen_t length = sizeof size;
    if (::getsockopt(static_cast<int>(socket_->socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &size,
                     &length) != 0)
        return 0;
    return size;
}

void SyslogReceiver::Drain() {
    drainScheduled_ = false;
    for (int n = 0; n < kDatagramsPerTurn && socket_->hasPendingDatagrams(); ++n) {
        QNetworkDatagram datagram = socket_->receiveDatagram();
        if (!datagram.isValid())
            break;
        const QByteArray bytes = datagram.data();
        const std::string source = DottedAddress(datagram.senderAddress()).toStdString();
        handler_(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                 source);
    }
    if (socket_->hasPendingDatagrams() && !drainScheduled_) {
        drainScheduled_ = true;
        QTimer::singleShot(0, this, &SyslogReceiver::Drain);
    }
}

}  // namespace quellin::syslogd
