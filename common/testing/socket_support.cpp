#include "socket_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace quellin::testing {

std::optional<sockaddr_in> LoopbackAddress(const std::string& address, std::uint16_t port) {
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &socketAddress.sin_addr) != 1 ||
        (ntohl(socketAddress.sin_addr.s_addr) >> 24) != 127)
        return std::nullopt;
    return socketAddress;
}

UniqueFd BindOnLoopback(int type, const std::string& address) {
    auto socketAddress = LoopbackAddress(address, 0);
    if (!socketAddress)
        return {};
    UniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
    if (!fd.valid() || ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&*socketAddress),
                              sizeof *socketAddress) != 0)
        return {};
    return fd;
}

UniqueFd ListenOnLoopback(int backlog, const std::string& address) {
    UniqueFd fd = BindOnLoopback(SOCK_STREAM, address);
    if (!fd.valid() || ::listen(fd.get(), backlog) != 0)
        return {};
    return fd;
}

std::uint16_t UnusedLoopbackPort(const std::string& address) {
    return BoundPort(BindOnLoopback(SOCK_STREAM, address).get());
}

std::uint16_t BoundPort(int fd) {
    sockaddr_in socketAddress{};
    socklen_t size = sizeof socketAddress;
    if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&socketAddress), &size) != 0)
        return 0;
    return ntohs(socketAddress.sin_port);
}

UniqueFd ConnectToLoopback(const std::string& address, std::uint16_t port,
                           const std::string& source) {
    auto to = LoopbackAddress(address, port);
    if (!to)
        return {};
    UniqueFd fd = source.empty() ? UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
                                 : BindOnLoopback(SOCK_STREAM, source);
    if (!fd.valid() ||
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&*to), sizeof *to) != 0)
        return {};
    return fd;
}

void PeerConnection::Send(std::string_view bytes) {
    while (fd_.valid() && !bytes.empty()) {
        ssize_t sent = ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

std::string PeerConnection::ReadUntil(std::string_view marker, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        std::size_t at = received_.find(marker, consumed_);
        if (at != std::string::npos)
            return Take(at + marker.size());
        if (!ReadSome(deadline))
            return Take(received_.size());
    }
}

void PeerConnection::WaitForHangUp(std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (ReadSome(deadline)) {
    }
}

void PeerConnection::Close() {
    if (!fd_.valid())
        return;
    ::shutdown(fd_.get(), SHUT_RDWR);
    fd_.Close();
}

std::string PeerConnection::Take(std::size_t end) {
    std::string taken = received_.substr(consumed_, end - consumed_);
    consumed_ = end;
    return taken;
}

bool PeerConnection::ReadSome(std::chrono::steady_clock::time_point deadline) {
    if (!fd_.valid())
        return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return false;
    pollfd readable{fd_.get(), POLLIN, 0};
    if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0)
        return false;
    char buffer[4096];
    ssize_t got = ::recv(fd_.get(), buffer, sizeof buffer, 0);
    if (got <= 0)
        return false;
    received_.append(buffer, static_cast<std::size_t>(got));
    return true;
}

OneConnectionServer::OneConnectionServer(Serve serve, const std::string& address, int backlog)
    : listener_(ListenOnLoopback(backlog, address)), port_(BoundPort(listener_.get())) {
    if (port_ == 0) {
        ADD_FAILURE() << "cannot listen on " << address << ": " << std::strerror(errno);
        return;
    }
    thread_ = std::thread([listener = listener_.get(), serve = std::move(serve)] {
        pollfd ready{listener, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(kPeerPatience.count())) != 1)
            return;
        UniqueFd connection(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
        if (connection.valid())
            serve(std::move(connection));
    });
}

void OneConnectionServer::Join() {
    if (thread_.joinable())
        thread_.join();
}

ScriptedPeer::ScriptedPeer(Script script, const std::string& address)
    : server_(
          [this, script = std::move(script)](UniqueFd fd) {
              PeerConnection connection(std::move(fd));
              script(connection);
              connection.Close();
              received_ = connection.received();
          },
          address) {}

const std::string& ScriptedPeer::Finish() {
    server_.Join();
    return received_;
}

}  // namespace quellin::testing
