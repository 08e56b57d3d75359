// Small socket helpers for the router simulator: owned descriptors, IPv4
// loopback addresses and non-blocking listeners and connections.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>

namespace quellin::tarn {

// An owned file descriptor, closed on destruction.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd_(other.Release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = other.Release();
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset();

private:
    int fd_ = -1;
};

// Dotted IPv4 text to an address in network order; nullopt when malformed.
std::optional<in_addr> ParseIpv4(const std::string& text);
std::string FormatIpv4(in_addr address);
// The simulator only ever binds to and sends to 127.0.0.0/8.
bool IsLoopback(in_addr address);
// The address plus n, in host order arithmetic (127.0.0.2 + 3 = 127.0.0.5).
in_addr NextAddress(in_addr address, std::uint32_t n);

// "host:port" with a dotted IPv4 host.
struct Endpoint {
    in_addr address{};
    std::uint16_t port = 0;
};
std::optional<Endpoint> ParseEndpoint(const std::string& text);

// A non-blocking listening TCP socket; port 0 picks a free port.
Fd ListenTcp(in_addr address, std::uint16_t port, std::string& error);
// The local port of a bound socket (0 when unknown).
std::uint16_t LocalPort(int fd);
// The peer's address of a connected socket.
std::string PeerAddress(int fd);
in_addr PeerIpv4(int fd);
// Accepts one connection as a non-blocking socket; invalid when none.
Fd AcceptNonBlocking(int listener);
// Starts a non-blocking connection from the local address (port 0) to the
// remote end; invalid on immediate failure.
Fd ConnectNonBlocking(in_addr local, in_addr remote, std::uint16_t port, std::string& error);
// The result of a finished non-blocking connect (0 = connected).
int ConnectResult(int fd);

bool SetNonBlocking(int fd);

// Sends as much of the bytes as the socket takes now; the count sent, or -1
// on a broken connection.
long SendSome(int fd, const std::string& bytes);

}  // namespace quellin::tarn
