#include "syslog_receiver.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quellin::syslogd {
namespace {

// Bursts from many routers must not overflow the socket while the window
// thread is busy (a modal dialog, a long list update).
constexpr int kWantedReceiveBuffer = 16 * 1024 * 1024;

// Datagrams handled before other window events get their turn.  The
// notifier is level-triggered, so whatever is left raises it again at once.
constexpr int kDatagramsPerTurn = 256;

// The largest UDP payload over IPv4.
constexpr std::size_t kMaxDatagram = 65507;

void EnlargeReceiveBuffer(int fd) {
    int size = kWantedReceiveBuffer;
    // Privileged processes may pass the system limit; others get the limit.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) == 0)
        return;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

}  // namespace

// The socket is read directly rather than through QUdpSocket, whose
// one-notification-per-read bookkeeping could leave a socket full of
// datagrams unread after a burst.
SyslogReceiver::SyslogReceiver(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)), buffer_(kMaxDatagram + 1) {}

SyslogReceiver::~SyslogReceiver() {
    delete notifier_;
    if (fd_ >= 0)
        ::close(fd_);
}

bool SyslogReceiver::Bind(quint16 port, QString* error) {
    auto fail = [&](int code) {
        if (error != nullptr)
            *error = QString::fromLocal8Bit(std::strerror(code));
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        return false;
    };
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return fail(errno);
    // Exclusive: no SO_REUSEADDR, so a second server on the port fails
    // rather than sharing it.
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return fail(errno);
    EnlargeReceiveBuffer(fd_);
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SyslogReceiver::Drain);
    return true;
}

quint16 SyslogReceiver::localPort() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

int SyslogReceiver::receiveBufferSize() const {
    int size = 0;
    socklen_t length = sizeof size;
    if (fd_ < 0 || ::getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, &length) != 0)
        return 0;
    return size;
}

void SyslogReceiver::Drain() {
    for (int n = 0; n < kDatagramsPerTurn; ++n) {
        sockaddr_in sender{};
        socklen_t length = sizeof sender;
        ssize_t got = ::recvfrom(fd_, buffer_.data(), buffer_.size(), MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&sender), &length);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return;  // EAGAIN: nothing left; other errors: try at the next event
        }
        char source[INET_ADDRSTRLEN] = "";
        ::inet_ntop(AF_INET, &sender.sin_addr, source, sizeof source);
        handler_(std::string_view(buffer_.data(), static_cast<std::size_t>(got)), source);
    }
}

}  // namespace quellin::syslogd
