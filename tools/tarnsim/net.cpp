#include "net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quellin::tarn {

std::optional<in_addr> ParseIpv4(const std::string& text) {
    in_addr address{};
    if (::inet_pton(AF_INET, text.c_str(), &address) != 1)
        return std::nullopt;
    return address;
}

std::string FormatIpv4(in_addr address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

bool IsLoopback(in_addr address) {
    return (ntohl(address.s_addr) >> 24) == 127;
}

in_addr NextAddress(in_addr address, std::uint32_t n) {
    in_addr next{};
    next.s_addr = htonl(ntohl(address.s_addr) + n);
    return next;
}

std::optional<Endpoint> ParseEndpoint(const std::string& text) {
    auto colon = text.rfind(':');
    if (colon == std::string::npos)
        return std::nullopt;
    auto address = ParseIpv4(text.substr(0, colon));
    auto port = ParseSmallNumber(text.substr(colon + 1), 65535);
    if (!address || !port || *port == 0)
        return std::nullopt;
    return Endpoint{*address, static_cast<std::uint16_t>(*port)};
}

std::optional<unsigned> ParseSmallNumber(const std::string& text, unsigned high) {
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > high)
        return std::nullopt;
    return value;
}

bool SetNonBlocking(int fd) {
    int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

namespace {

sockaddr_in SocketAddress(in_addr address, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr = address;
    sa.sin_port = htons(port);
    return sa;
}

std::string Describe(const char* what, in_addr address, std::uint16_t port) {
    return std::string(what) + " " + FormatIpv4(address) + ":" + std::to_string(port) + ": " +
           std::strerror(errno);
}

}  // namespace

UniqueFd ListenTcp(in_addr address, std::uint16_t port, std::string& error) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        error = std::string("socket: ") + std::strerror(errno);
        return {};
    }
    int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa = SocketAddress(address, port);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        error = Describe("bind", address, port);
        return {};
    }
    if (::listen(fd.get(), 64) != 0) {
        error = Describe("listen", address, port);
        return {};
    }
    return fd;
}

std::uint16_t LocalPort(int fd) {
    sockaddr_in sa{};
    socklen_t size = sizeof sa;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &size) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

in_addr PeerIpv4(int fd) {
    sockaddr_in sa{};
    socklen_t size = sizeof sa;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &size) != 0)
        return in_addr{};
    return sa.sin_addr;
}

std::string PeerAddress(int fd) {
    return FormatIpv4(PeerIpv4(fd));
}

UniqueFd AcceptNonBlocking(int listener) {
    return UniqueFd(::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
}

UniqueFd ConnectNonBlocking(in_addr local, in_addr remote, std::uint16_t port, std::string& error) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        error = std::string("socket: ") + std::strerror(errno);
        return {};
    }
    sockaddr_in from = SocketAddress(local, 0);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
        error = Describe("bind", local, 0);
        return {};
    }
    sockaddr_in to = SocketAddress(remote, port);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 &&
        errno != EINPROGRESS) {
        error = Describe("connect", remote, port);
        return {};
    }
    return fd;
}

int ConnectResult(int fd) {
    int result = 0;
    socklen_t size = sizeof result;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &size) != 0)
        return errno;
    return result;
}

long SendSome(int fd, const std::string& bytes) {
    if (bytes.empty())
        return 0;
    ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n >= 0)
        return static_cast<long>(n);
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return 0;
    return -1;
}

long ReceiveSome(int fd, char* buffer, std::size_t size) {
    ssize_t n = ::recv(fd, buffer, size, 0);
    if (n > 0)
        return static_cast<long>(n);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return 0;
    return -1;
}

}  // namespace quellin::tarn
