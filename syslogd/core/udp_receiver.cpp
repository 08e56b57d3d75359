#include "udp_receiver.h"

#include "stream_receiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace quellin::syslogd {
namespace {

// The largest UDP payload over IPv4, and a byte more to see a longer one cut.
constexpr std::size_t kBufferSize = 65508;

void EnlargeReceiveBuffer(int fd) {
    int size = UdpReceiver::kWantedReceiveBuffer;
    // Privileged processes may pass the system limit; others get the limit.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) == 0)
        return;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

}  // namespace

std::string_view UdpReceiver::SourceText::Of(const in_addr& address) {
    if (family_ != AF_INET || address.s_addr != last_.s_addr) {
        ::inet_ntop(AF_INET, &address, text_, sizeof text_);
        last_ = address;
        family_ = AF_INET;
    }
    return text_;
}

std::string_view UdpReceiver::SourceText::Of(const sockaddr_in6& address) {
    if (address.sin6_family == AF_INET)
        return Of(reinterpret_cast<const sockaddr_in&>(address).sin_addr);
    if (IN6_IS_ADDR_V4MAPPED(&address.sin6_addr)) {
        in_addr v4;
        std::memcpy(&v4, address.sin6_addr.s6_addr + 12, sizeof v4);
        return Of(v4);
    }
    if (family_ != AF_INET6 || std::memcmp(&last6_, &address.sin6_addr, sizeof last6_) != 0) {
        ::inet_ntop(AF_INET6, &address.sin6_addr, text_, sizeof text_);
        last6_ = address.sin6_addr;
        family_ = AF_INET6;
    }
    return text_;
}

UdpReceiver::UdpReceiver(DatagramSink& sink) : sink_(sink) {}

UdpReceiver::~UdpReceiver() {
    Stop();
    if (fd_ >= 0)
        ::close(fd_);
    if (stopFd_ >= 0)
        ::close(stopFd_);
}

static bool ListenAddress(const std::string& text, std::uint16_t port, sockaddr_in6& out,
                          socklen_t& length) {
    out = sockaddr_in6{};
    auto& v4 = reinterpret_cast<sockaddr_in&>(out);
    if (text.empty() || ::inet_pton(AF_INET, text.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        if (text.empty())
            v4.sin_addr.s_addr = htonl(INADDR_ANY);
        length = sizeof v4;
        return true;
    }
    if (::inet_pton(AF_INET6, text.c_str(), &out.sin6_addr) != 1)
        return false;
    out.sin6_family = AF_INET6;
    out.sin6_port = htons(port);
    length = sizeof out;
    return true;
}

int OpenListeningSocket(const std::string& address, std::uint16_t port, int type, int& error) {
    sockaddr_in6 at{};
    socklen_t length = 0;
    if (!ListenAddress(address, port, at, length)) {
        error = EINVAL;
        return -1;
    }
    int fd = ::socket(at.sin6_family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    const int off = 0, on = 1;
    // "::" takes IPv4 senders too, as mapped addresses.
    if (at.sin6_family == AF_INET6)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    // A stream listener may rebind over its own closing connections; a
    // second server on the port still fails, as neither has SO_REUSEPORT.
    if (type == SOCK_STREAM)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&at), length) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, SOMAXCONN) != 0)) {
        error = errno;
        ::close(fd);
        return -1;
    }
    return fd;
}

bool UdpReceiver::Bind(const std::string& listenAddress, std::uint16_t port, std::string* error,
                       int* errorCode) {
    auto fail = [&](int code) {
        if (error != nullptr)
            *error = std::strerror(code);
        if (errorCode != nullptr)
            *errorCode = code;
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        return false;
    };
    // Exclusive: no SO_REUSEADDR, so a second server on the port fails
    // rather than sharing it.
    int code = 0;
    fd_ = OpenListeningSocket(listenAddress, port, SOCK_DGRAM, code);
    if (fd_ < 0)
        return fail(code);
    EnlargeReceiveBuffer(fd_);
    return true;
}

std::uint16_t UdpReceiver::localPort() const {
    sockaddr_in6 address{};
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin6_port);  // at the same place as sin_port
}

int UdpReceiver::receiveBufferSize() const {
    int size = 0;
    socklen_t length = sizeof size;
    if (fd_ < 0 || ::getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, &length) != 0)
        return 0;
    return size;
}

void UdpReceiver::Start() {
    if (fd_ < 0 || thread_.joinable())
        return;
    if (stopFd_ < 0)
        stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    buffers_.resize(kBatch * kBufferSize);
    thread_ = std::thread([this] { Run(); });
}

void UdpReceiver::Stop() {
    if (!thread_.joinable())
        return;
    stopping_.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(stopFd_, &one, sizeof one);
    thread_.join();
}

bool UdpReceiver::ReadBatch() {
    std::array<mmsghdr, kBatch> messages{};
    std::array<iovec, kBatch> vectors{};
    std::array<sockaddr_in6, kBatch> senders{};
    for (std::size_t i = 0; i < kBatch; ++i) {
        vectors[i].iov_base = buffers_.data() + i * kBufferSize;
        vectors[i].iov_len = kBufferSize;
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        messages[i].msg_hdr.msg_name = &senders[i];
        messages[i].msg_hdr.msg_namelen = sizeof senders[i];
    }
    int got = ::recvmmsg(fd_, messages.data(), kBatch, MSG_DONTWAIT, nullptr);
    if (got <= 0)
        return false;
    for (int i = 0; i < got; ++i) {
        const auto& message = messages[static_cast<std::size_t>(i)];
        std::string_view bytes(static_cast<const char*>(message.msg_hdr.msg_iov->iov_base),
                               message.msg_len);
        sink_.Handle(bytes, sources_.Of(senders[static_cast<std::size_t>(i)]));
    }
    sink_.EndBatch();
    return static_cast<std::size_t>(got) == kBatch;
}

void UdpReceiver::Run() {
    for (;;) {
        // Read while whole batches keep coming; wait when the socket is empty.
        while (!stopping_.load(std::memory_order_relaxed) && ReadBatch()) {
        }
        if (stopping_.load())
            break;
        std::array<pollfd, 2> waits{{{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}}};
        if (::poll(waits.data(), waits.size(), -1) < 0 && errno != EINTR)
            break;
        if (waits[1].revents != 0)
            break;
    }
    sink_.Finish();
}

}  // namespace quellin::syslogd
