// The UDP listener on a thread of its own: one socket (all local IPv4
// addresses unless told otherwise; "::" takes IPv6 and IPv4 alike) with a large receive buffer,
// read in batches (recvmmsg), each datagram handed to the sink and every batch closed with
// EndBatch.  Nothing the window does can keep the socket from being drained.
#pragma once

#include "datagram_sink.h"

#include <netinet/in.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace quellin::syslogd {

class UdpReceiver {
public:
    // Bursts from many routers must not overflow the socket.
    static constexpr int kWantedReceiveBuffer = 16 * 1024 * 1024;
    // Datagrams read with one call.
    static constexpr std::size_t kBatch = 64;

    explicit UdpReceiver(DatagramSink& sink);
    ~UdpReceiver();
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    // Binds exclusively to the port (0: any free port); false with the
    // reason when the port cannot be had.
    bool Bind(std::uint16_t port, std::string* error = nullptr) { return Bind({}, port, error); }
    // The same on one address (empty: every IPv4 address; an IPv6 one, or
    // "::", listens over IPv6, and over IPv4 too for "::").  `errorCode`
    // gets the errno of a failure.
    bool Bind(const std::string& address, std::uint16_t port, std::string* error = nullptr,
              int* errorCode = nullptr);
    std::uint16_t localPort() const;
    // Receive buffer size the kernel granted, in bytes.
    int receiveBufferSize() const;

    // Starts the reception thread; Stop (or the destructor) ends it after
    // the batch in hand, and the sink's Finish runs on it last.
    void Start();
    void Stop();

private:
    void Run();
    // Reads and hands on one batch; false when nothing was waiting.
    bool ReadBatch();

    // The dotted form of the last sender, kept: a fleet's datagrams come
    // from few addresses, and most batches from one.
    class SourceText {
    public:
        std::string_view Of(const in_addr& address);
        // An IPv4 sender seen through an IPv6 socket is named as IPv4.
        std::string_view Of(const sockaddr_in6& address);

    private:
        in_addr last_{};
        in6_addr last6_{};
        int family_ = 0;
        char text_[64] = "";
    };

    DatagramSink& sink_;
    std::atomic<bool> stopping_{false};
    SourceText sources_;
    int fd_ = -1;
    int stopFd_ = -1;
    std::thread thread_;
    std::vector<char> buffers_;
};

}  // namespace quellin::syslogd
