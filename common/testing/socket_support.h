// Sockets for the peers that tests start themselves.  Only loopback
// addresses (127.0.0.0/8) are accepted: a test never reaches past the
// machine it runs on.
#pragma once

#include "file_descriptor.h"

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace quellin::testing {

inline constexpr char kLoopback[] = "127.0.0.1";

// How long a peer waits for its client, so that a client that never comes
// or never speaks fails a test instead of hanging it.
inline constexpr std::chrono::milliseconds kPeerPatience{10000};

// The socket address of a loopback address and port; nullopt when the text
// is no loopback address.
std::optional<sockaddr_in> LoopbackAddress(const std::string& address, std::uint16_t port);

// A socket of the type (SOCK_STREAM, SOCK_DGRAM) bound to a free port of
// the loopback address; invalid on failure.
UniqueFd BindOnLoopback(int type, const std::string& address = kLoopback);

// A listening TCP socket on a free port of the loopback address; invalid
// on failure.
UniqueFd ListenOnLoopback(int backlog, const std::string& address = kLoopback);

// A TCP port of the loopback address that was free a moment ago; 0 on
// failure.
std::uint16_t UnusedLoopbackPort(const std::string& address = kLoopback);

// The local port of a bound socket; 0 when unknown.
std::uint16_t BoundPort(int fd);

// A connected (blocking) TCP socket, from the source address when one is
// given; invalid when the connection fails.
UniqueFd ConnectToLoopback(const std::string& address, std::uint16_t port,
                           const std::string& source = {});

// The peer's side of one accepted connection, for peers that follow a
// script.
class PeerConnection {
public:
    explicit PeerConnection(UniqueFd fd) : fd_(std::move(fd)) {}
    ~PeerConnection() { Close(); }
    PeerConnection(const PeerConnection&) = delete;
    PeerConnection& operator=(const PeerConnection&) = delete;

    void Send(std::string_view bytes);
    // Reads until the bytes since the previous call hold `marker`; returns
    // them (whatever came when the client hung up or time ran out).
    std::string ReadUntil(std::string_view marker, std::chrono::milliseconds limit = kPeerPatience);
    // Keeps the connection until the client closes it.
    void WaitForHangUp(std::chrono::milliseconds limit = kPeerPatience);
    void Close();

    // Everything the client sent so far.
    const std::string& received() const { return received_; }

private:
    std::string Take(std::size_t end);
    bool ReadSome(std::chrono::steady_clock::time_point deadline);

    UniqueFd fd_;
    std::string received_;
    std::size_t consumed_ = 0;
};

// A peer for one connection on a loopback address: its thread accepts the
// first client (waiting at most kPeerPatience) and hands the connection to
// `serve`.  The thread is joined when the server goes.
class OneConnectionServer {
public:
    using Serve = std::function<void(UniqueFd connection)>;

    explicit OneConnectionServer(Serve serve, const std::string& address = kLoopback,
                                 int backlog = 1);
    ~OneConnectionServer() { Join(); }
    OneConnectionServer(const OneConnectionServer&) = delete;
    OneConnectionServer& operator=(const OneConnectionServer&) = delete;

    // 0 when the server could not listen (the test has then failed).
    std::uint16_t port() const { return port_; }
    // Waits until the connection has been served.
    void Join();

private:
    UniqueFd listener_;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

// A one-connection peer whose behaviour is a script, run on the server's
// thread; the connection is closed when the script ends.
class ScriptedPeer {
public:
    using Script = std::function<void(PeerConnection&)>;

    explicit ScriptedPeer(Script script, const std::string& address = kLoopback);

    std::uint16_t port() const { return server_.port(); }
    // Waits for the script to end; everything the client sent.
    const std::string& Finish();

private:
    std::string received_;
    OneConnectionServer server_;
};

}  // namespace quellin::testing
