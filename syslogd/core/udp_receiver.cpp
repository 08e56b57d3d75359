#include "udp_receiver.h"

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
    if (!known_ || address.s_addr != last_.s_addr) {
        ::inet_ntop(AF_INET, &address, text_, sizeof text_);
        last_ = address;
        known_ = true;
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

bool UdpReceiver::Bind(std::uint16_t port, std::string* error) {
    auto fail = [&](int code) {
        if (error != nullptr)
            *error = std::strerror(code);
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
    return true;
}

std::uint16_t UdpReceiver::localPort() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
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
    std::array<sockaddr_in, kBatch> senders{};
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
        sink_.Handle(bytes, sources_.Of(senders[static_cast<std::size_t>(i)].sin_addr));
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
