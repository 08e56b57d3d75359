// Forwarding to a central collector: every accepted datagram to
// ForwardHost:ForwardPort over UDP, or over TCP framed by octet counting
// (RFC 6587: the length in decimal, a space, the message).  The routers
// name no host in their messages, so each goes out with the router's
// address as its host (ForwardFormat): a collector otherwise sees only
// this Syslogd, and takes the first word of the text for the host.
//
// The reception thread only appends datagrams to a batch and hands whole
// batches over; a thread of the forwarder's own resolves the host, connects
// and sends, so a collector that is slow, down or unreachable never holds
// up reception.  What waits to be sent is bounded in bytes: datagrams that
// do not fit are not forwarded and are counted.  A TCP collector that is
// down or closes the connection is tried again after a back-off that
// doubles up to a limit; what waits is sent once it is back, and a frame
// half-written when the connection broke is sent again whole.  A frame
// counts as forwarded once the collector acknowledged it and then stayed
// connected for a while (or closed in good order after reading it): frames
// still in doubt when the connection breaks are counted as not forwarded,
// and only a confirmed frame ends the back-off, so a collector that takes
// connections and drops them is tried less and less often.  Over UDP
// nothing is resent.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace quellin::syslogd {

struct ReceivedMessage;

struct ForwardTarget {
    enum class Protocol { Udp, Tcp };
    std::string host;  // name or dotted address; empty: forwarding off
    std::uint16_t port = 514;
    Protocol protocol = Protocol::Udp;

    bool operator==(const ForwardTarget&) const = default;
    // "host:port (UDP)" for the window.
    std::string Describe() const;
};

// What the window says about forwarding.
struct ForwardStatus {
    std::string target;    // ForwardTarget::Describe
    bool failing = false;  // the collector cannot be reached or refuses
    std::string reason;    // CP932, for the window, when failing
    // Datagrams not forwarded since start: the queue was full, a UDP send
    // failed, a TCP connection broke before the collector confirmed them,
    // or forwarding was switched off with datagrams waiting.
    std::uint64_t dropped = 0;

    bool operator==(const ForwardStatus&) const = default;
};

// Datagrams back to back, as one batch of the receiver hands them over.
struct ForwardBatch {
    std::string bytes;
    std::vector<std::uint32_t> sizes;

    void Add(std::string_view datagram) {
        bytes.append(datagram);
        sizes.push_back(static_cast<std::uint32_t>(datagram.size()));
    }
    bool empty() const { return sizes.empty(); }
};

// How a message goes to the collector.
enum class ForwardFormat {
    // RFC 3164 as a relay writes it: "<PRI>Mmm dd hh:mm:ss HOST text", the
    // router's timestamp (or the receive time) and address.
    Rfc3164,
    // RFC 5424: "<PRI>1 TIMESTAMP HOST - - - - text", the timestamp with
    // its year and the local zone's offset.
    Rfc5424,
};

// Adds one accepted message to the batch in `format`: its timestamp (the
// router's, or the receive time in its place; the receive time tells the
// year of a router's), the router's address as its host, and its body.
void AddForwarded(ForwardBatch& batch, ForwardFormat format, const ReceivedMessage& message);

// "<length> <message>" for each datagram of the batch.
std::string OctetCountedFrames(const ForwardBatch& batch, std::vector<std::size_t>* frameEnds);

class Forwarder {
public:
    struct Options {
        // Bytes of datagrams waiting to be sent at most.
        std::size_t queueBytes = 32u << 20;
        std::chrono::milliseconds firstRetry{500};
        std::chrono::milliseconds maxRetry{30000};
        std::chrono::milliseconds connectTimeout{10000};
        // How long a TCP collector must stay connected after acknowledging
        // frames for them to count as forwarded.
        std::chrono::milliseconds confirmAfter{1000};
        // How often a changed count of dropped datagrams is reported.
        std::chrono::milliseconds statusInterval{1000};
        // At exit, what waits is sent for at most this long.
        std::chrono::milliseconds drainAtStop{2000};
        // The port this Syslogd receives on: a UDP target on this machine
        // and this port would send every datagram round for ever.
        std::uint16_t ownUdpPort = 514;
    };

    Forwarder(std::function<void(const ForwardStatus&)> onStatus, Options options);
    ~Forwarder();
    Forwarder(const Forwarder&) = delete;
    Forwarder& operator=(const Forwarder&) = delete;

    // Reception thread: where the next batches go; an empty host stops
    // forwarding and drops what waits.
    void SetTarget(const ForwardTarget& target);
    // Reception thread: never waits for the network.
    void Push(ForwardBatch&& batch);
    // Sends what waits for a bounded time, then ends the thread.
    void Stop();

    // Datagrams not forwarded so far.
    std::uint64_t dropped() const { return dropped_.load(); }

private:
    class Connection;
    struct RunState;
    using Steady = std::chrono::steady_clock;

    void Run();
    // Tells the window of a changed status, at most once an interval.
    void Report(Connection& connection, RunState& state, Steady::time_point now);
    // Sleeps until the socket, the reception thread or a timer wants the
    // thread again.
    void Wait(Connection& connection, const RunState& state, bool stopping, Steady::time_point now);
    void Wake();

    const Options options_;
    std::function<void(const ForwardStatus&)> onStatus_;

    std::mutex mutex_;
    std::deque<ForwardBatch> queue_;
    ForwardTarget target_;
    bool targetChanged_ = false;
    bool stopping_ = false;
    bool threadWaiting_ = false;  // the thread sleeps until woken
    std::atomic<std::size_t> pendingBytes_{0};
    std::atomic<std::uint64_t> dropped_{0};
    int wakeFd_ = -1;
    std::thread thread_;
};

}  // namespace quellin::syslogd
