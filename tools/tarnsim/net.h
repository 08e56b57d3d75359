// Small socket helpers for the router simulator: IPv4 loopback addresses
// and non-blocking listeners and connections.
#pragma once

#include "file_descriptor.h"

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>

namespace quellin::tarn {

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

// One to five decimal digits and nothing else, worth at most `high`, as in
// ports and in the numbers of FTP's PORT argument; nullopt otherwise.
std::optional<unsigned> ParseSmallNumber(const std::string& text, unsigned high);

// A non-blocking listening TCP socket; port 0 picks a free port.
UniqueFd ListenTcp(in_addr address, std::uint16_t port, std::string& error);
// The local port of a bound socket (0 when unknown).
std::uint16_t LocalPort(int fd);
// The peer's address of a connected socket.
std::string PeerAddress(int fd);
in_addr PeerIpv4(int fd);
// Accepts one connection as a non-blocking socket; invalid when none.
UniqueFd AcceptNonBlocking(int listener);
// Starts a non-blocking connection from the local address (port 0) to the
// remote end; invalid on immediate failure.
UniqueFd ConnectNonBlocking(in_addr local, in_addr remote, std::uint16_t port, std::string& error);
// The result of a finished non-blocking connect (0 = connected).
int ConnectResult(int fd);

bool SetNonBlocking(int fd);

// Sends as much of the bytes as the socket takes now; the count sent, or -1
// on a broken connection.
long SendSome(int fd, const std::string& bytes);
// Receives what the socket holds now, up to size bytes; the count received,
// 0 when nothing is waiting, or -1 when the peer has closed or the
// connection broke.
long ReceiveSome(int fd, char* buffer, std::size_t size);

}  // namespace quellin::tarn
