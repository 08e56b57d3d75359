// TCP (RFC 6587) and TLS (RFC 5425) reception on one thread of its own: the
// listeners and every connection in one poll set, never a thread per
// sender.  Octet-counted ("LEN SP MSG") and LF-terminated frames are told
// apart at the start of each frame, so both work on the same port.  Each
// frame goes to the sink like a UDP datagram; each round of reads ends a
// batch.  Everything a sender controls is bounded: the frame (longer ones
// are cut and counted), the connections (new ones past the limit are
// refused and counted), idle time and the TLS handshake's time (those that
// fail or stall are counted, and the last reason kept).
#pragma once

#include "datagram_sink.h"

#include <cstdint>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quellin::syslogd {

// A listening socket on `address` (see UdpReceiver::Bind) and `port`;
// -1 with errno in `error` when it cannot be had.
int OpenListeningSocket(const std::string& address, std::uint16_t port, int type, int& error);

// Receivers on threads of their own feeding one sink, one call at a time;
// the sink's Finish runs once the last of them has finished.
class SharedSink final : public DatagramSink {
public:
    explicit SharedSink(DatagramSink& inner) : inner_(inner) {}
    // Before each receiver starts.
    void AddReceiver() {
        std::lock_guard lock(mutex_);
        ++receivers_;
    }
    void Handle(std::string_view bytes, std::string_view source) override {
        std::lock_guard lock(mutex_);
        inner_.Handle(bytes, source);
    }
    void EndBatch() override {
        std::lock_guard lock(mutex_);
        inner_.EndBatch();
    }
    void Finish() override {
        std::lock_guard lock(mutex_);
        if (--receivers_ == 0)
            inner_.Finish();
    }

private:
    DatagramSink& inner_;
    std::mutex mutex_;
    int receivers_ = 0;
};

// A listener that could not be opened: "UDP", "TCP" or "TLS", its port and
// the reason (CP932).
struct UnopenedListener {
    std::string protocol;
    std::uint32_t port = 0;
    std::string reason;
};

class StreamReceiver {
public:
    struct Options {
        std::size_t maxFrameBytes = 64 * 1024;
        std::size_t maxConnections = 1000;
        std::chrono::milliseconds idleTimeout{std::chrono::minutes(10)};
        std::chrono::milliseconds handshakeTimeout{std::chrono::seconds(10)};
    };
    struct Counts {
        std::uint64_t frames = 0;
        std::uint64_t cutFrames = 0;
        std::uint64_t refusedConnections = 0;
        std::uint64_t idleClosed = 0;
        std::uint64_t badFraming = 0;  // a length field that is not one
        std::uint64_t failedHandshakes = 0;
        std::string lastHandshakeFailure;
    };

    StreamReceiver(DatagramSink& sink, Options options);
    explicit StreamReceiver(DatagramSink& sink) : StreamReceiver(sink, Options{}) {}
    ~StreamReceiver();
    StreamReceiver(const StreamReceiver&) = delete;
    StreamReceiver& operator=(const StreamReceiver&) = delete;

    // Plain TCP on the port (0: any free one); false with errno in `error`.
    bool ListenTcp(const std::string& address, std::uint16_t port, int& error);
    // TLS 1.2 or later with the PEM certificate and key; with a CA file,
    // clients must show a certificate it signed.  False with the reason.
    bool ListenTls(const std::string& address, std::uint16_t port, const std::string& certFile,
                   const std::string& keyFile, const std::string& caFile, std::string& reason,
                   int& error);
    std::uint16_t tcpPort() const;
    std::uint16_t tlsPort() const;
    bool listening() const { return tcpFd_ >= 0 || tlsFd_ >= 0; }

    void Start();
    void Stop();
    Counts counts() const;

private:
    struct Connection;
    void Run();
    void Accept(int listener, bool tls);
    // False when the connection is to be closed.
    bool Read(Connection& c);
    bool Handshake(Connection& c);
    bool Consume(Connection& c, const char* data, std::size_t size);
    void Deliver(Connection& c);
    void HandshakeFailed(const std::string& reason);

    DatagramSink& sink_;
    Options options_;
    int tcpFd_ = -1;
    int tlsFd_ = -1;
    int stopFd_ = -1;
    void* tls_ = nullptr;  // SSL_CTX
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::vector<std::unique_ptr<Connection>> connections_;
    bool delivered_ = false;
    std::chrono::steady_clock::time_point acceptPausedUntil_{};
    mutable std::mutex countsMutex_;
    Counts counts_;
};

// What the status area says of reception (CP932): the listeners that could
// not be opened, and what the stream listeners cut, refused or failed;
// empty when all is well.
std::string ReceptionNotice(const std::vector<UnopenedListener>& unopened,
                            const StreamReceiver::Counts& counts);

}  // namespace quellin::syslogd
