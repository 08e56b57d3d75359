// The forwarder against sockets of the test on loopback: octet-counted
// frames over TCP, a collector that is down, a full queue that drops and
// says so, and a UDP target that would be this Syslogd itself.
#include "forwarder.h"

#include "codec.h"
#include "receive_pipeline.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <thread>

namespace quellin::syslogd {
namespace {

using quellin::testing::Sjis;
using quellin::testing::WaitUntil;
using namespace std::chrono_literals;

class Socket {
public:
    explicit Socket(int type) : fd_(::socket(AF_INET, type | SOCK_CLOEXEC, 0)) {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof at;
        int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&at), &length);
        port_ = ntohs(at.sin_port);
        if (type == SOCK_STREAM)
            ::listen(fd_, 4);
    }
    ~Socket() { ::close(fd_); }
    int fd() const { return fd_; }
    std::uint16_t port() const { return port_; }

private:
    int fd_;
    std::uint16_t port_ = 0;
};

// Reads until `size` bytes came or a second passed without any.
std::string ReadStream(int fd, std::size_t size) {
    std::string bytes;
    char buffer[65536];
    while (bytes.size() < size) {
        pollfd wait{fd, POLLIN, 0};
        if (::poll(&wait, 1, 1000) <= 0)
            break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

class ForwarderTest : public ::testing::Test {
protected:
    Forwarder::Options Fast() {
        Forwarder::Options options;
        options.firstRetry = 50ms;
        options.maxRetry = 200ms;
        options.statusInterval = 50ms;
        options.drainAtStop = 500ms;
        return options;
    }
    std::function<void(const ForwardStatus&)> Record() {
        return [this](const ForwardStatus& status) {
            std::lock_guard lock(mutex);
            statuses.push_back(status);
        };
    }
    ForwardStatus Last() {
        std::lock_guard lock(mutex);
        return statuses.empty() ? ForwardStatus{} : statuses.back();
    }

    static ForwardBatch Batch(const std::vector<std::string>& datagrams) {
        ForwardBatch batch;
        for (const auto& d : datagrams)
            batch.Add(d);
        return batch;
    }

    std::mutex mutex;
    std::vector<ForwardStatus> statuses;
};

TEST(OctetCounting, LengthSpaceMessage) {
    ForwardBatch batch;
    batch.Add("<13>a");
    batch.Add("");
    batch.Add("<11>" + std::string(200, 'x') + "\n");
    std::vector<std::size_t> ends;
    EXPECT_EQ(OctetCountedFrames(batch, &ends), "5 <13>a0 205 <11>" + std::string(200, 'x') + "\n");
    EXPECT_EQ(ends, (std::vector<std::size_t>{7, 9, 218}));
}

TEST_F(ForwarderTest, TcpFramesArriveInOrder) {
    Socket listener(SOCK_STREAM);
    Forwarder forwarder(Record(), Fast());
    forwarder.SetTarget({"127.0.0.1", listener.port(), ForwardTarget::Protocol::Tcp});
    forwarder.Push(Batch({"<13>one", "<13>" + Sjis("二"), "<13>three, 3"}));
    forwarder.Push(Batch({"<13>four"}));
    const int peer = ::accept(listener.fd(), nullptr, nullptr);
    ASSERT_GE(peer, 0);
    const std::string expected = "7 <13>one6 <13>" + Sjis("二") + "12 <13>three, 38 <13>four";
    EXPECT_EQ(ReadStream(peer, expected.size()), expected);
    ::close(peer);
}

// A collector that is not there yet: what is pushed meanwhile waits and
// goes once it listens; the window is told it failed, and then that it
// works again.
TEST_F(ForwarderTest, TcpCollectorDownThenUp) {
    std::uint16_t port;
    { port = Socket(SOCK_STREAM).port(); }
    Forwarder forwarder(Record(), Fast());
    forwarder.SetTarget({"127.0.0.1", port, ForwardTarget::Protocol::Tcp});
    forwarder.Push(Batch({"<13>waited"}));
    ASSERT_TRUE(WaitUntil([&] { return Last().failing; }, 5000));
    EXPECT_EQ(Last().target, "127.0.0.1:" + std::to_string(port) + " (TCP)");
    EXPECT_NE(Last().reason, "");

    // Listening now, on the same port.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ::listen(fd, 4);
    const int peer = ::accept(fd, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    EXPECT_EQ(ReadStream(peer, 13), "10 <13>waited");
    EXPECT_TRUE(WaitUntil([&] { return !Last().failing; }, 5000));
    ::close(peer);
    ::close(fd);
}

// A collector that accepts and never reads: the bounded queue fills, what
// does not fit is counted, and reception is never held up.
TEST_F(ForwarderTest, FullQueueDropsAndCounts) {
    Socket listener(SOCK_STREAM);
    Forwarder::Options options = Fast();
    options.queueBytes = 1 << 20;
    Forwarder forwarder(Record(), options);
    forwarder.SetTarget({"127.0.0.1", listener.port(), ForwardTarget::Protocol::Tcp});
    const std::string datagram = "<13>" + std::string(1000, 'f');
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20000; ++i)  // 20 MB: far beyond socket buffers and queue
        forwarder.Push(Batch({datagram}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "pushing waited for the network";
    EXPECT_GT(forwarder.dropped(), 0u);
    // The window hears the count within a status interval.
    EXPECT_TRUE(WaitUntil([&] { return Last().dropped == forwarder.dropped(); }, 5000))
        << Last().dropped << " of " << forwarder.dropped();
}

// A collector that takes each connection and drops it at once: what it is
// sent is counted as lost, and the back-off grows with every connection.
TEST_F(ForwarderTest, CollectorDroppingEachConnectionCostsCountedFramesAndBacksOff) {
    Socket listener(SOCK_STREAM);
    Forwarder::Options options = Fast();
    options.maxRetry = 2s;
    Forwarder forwarder(Record(), options);
    forwarder.SetTarget({"127.0.0.1", listener.port(), ForwardTarget::Protocol::Tcp});
    int connections = 0;
    for (auto end = std::chrono::steady_clock::now() + 3s;
         std::chrono::steady_clock::now() < end;) {
        forwarder.Push(Batch({"<13>never kept"}));
        pollfd wait{listener.fd(), POLLIN, 0};
        if (::poll(&wait, 1, 50) > 0 && ++connections)
            ::close(::accept(listener.fd(), nullptr, nullptr));
    }
    EXPECT_LE(connections, 7);  // 50 ms doubling: 6 tries in 3 s
    EXPECT_TRUE(WaitUntil([&] { return Last().failing && Last().dropped > 0; }, 5000));
}

TEST_F(ForwarderTest, UdpDatagramsArriveUnchanged) {
    Socket collector(SOCK_DGRAM);
    Forwarder forwarder(Record(), Fast());
    forwarder.SetTarget({"localhost", collector.port(), ForwardTarget::Protocol::Udp});
    std::vector<std::string> sent;
    for (int i = 0; i < 200; ++i)
        sent.push_back("<13>udp " + std::to_string(i) + " " + Sjis("回線断"));
    forwarder.Push(Batch(sent));
    std::vector<std::string> got;
    char buffer[65536];
    while (got.size() < sent.size()) {
        pollfd wait{collector.fd(), POLLIN, 0};
        if (::poll(&wait, 1, 2000) <= 0)
            break;
        const ssize_t n = ::recv(collector.fd(), buffer, sizeof buffer, 0);
        got.emplace_back(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(got, sent);
}

TEST_F(ForwarderTest, NeverToItself) {
    Socket own(SOCK_DGRAM);
    Forwarder::Options options = Fast();
    options.ownUdpPort = own.port();
    Forwarder forwarder(Record(), options);
    forwarder.SetTarget({"127.0.0.1", own.port(), ForwardTarget::Protocol::Udp});
    forwarder.Push(Batch({"<13>round and round"}));
    ASSERT_TRUE(WaitUntil([&] { return Last().failing; }, 5000));
    EXPECT_EQ(Last().reason, cp932::Jp("転送先がこの Syslogd 自身です"));
    pollfd wait{own.fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&wait, 1, 200), 0);
}

TEST_F(ForwarderTest, SwitchedOffDropsWhatWaits) {
    std::uint16_t port;
    { port = Socket(SOCK_STREAM).port(); }
    Forwarder forwarder(Record(), Fast());
    forwarder.SetTarget({"127.0.0.1", port, ForwardTarget::Protocol::Tcp});
    forwarder.Push(Batch({"<13>a", "<13>b"}));
    forwarder.SetTarget({});
    forwarder.Push(Batch({"<13>c"}));
    EXPECT_TRUE(WaitUntil([&] { return forwarder.dropped() == 3; }, 5000));
}

// Through the pipeline: accepted datagrams only, whatever the display shows,
// with the router's address as their host (RFC 3164 unless set otherwise).
TEST(ForwardingPipeline, AcceptedDatagramsOnlyWhateverTheDisplayFilter) {
    Socket collector(SOCK_DGRAM);
    SyslogdSettings settings;
    settings.dispFilter = 2 + 8;  // show only Emergency
    settings.filterLevel = 1;
    settings.forwardFlag = true;
    settings.forwardHost = "127.0.0.1";
    settings.forwardPort = collector.port();
    FakeClock clock(1720000000);
    WindowQueue queue;
    ReceivePipeline pipeline(clock, std::make_shared<const SyslogdSettings>(settings), queue);
    for (const char* d : {"<13>listed or not", "no PRI", "<192>facility 24", "<11>x\ty"})
        pipeline.Handle(d, "10.0.0.1");
    pipeline.EndBatch();
    std::vector<std::string> got;
    char buffer[65536];
    for (;;) {
        pollfd wait{collector.fd(), POLLIN, 0};
        if (::poll(&wait, 1, 300) <= 0)
            break;
        const ssize_t n = ::recv(collector.fd(), buffer, sizeof buffer, 0);
        got.emplace_back(buffer, static_cast<std::size_t>(n));
    }
    const std::string at = FormatReceiveTime(1720000000);
    EXPECT_EQ(got, (std::vector<std::string>{"<13>" + at + " 10.0.0.1 listed or not",
                                             "<11>" + at + " 10.0.0.1 x\ty"}));
    EXPECT_TRUE(queue.Take(100).items.empty()) << "the display filter lists none of them";
}

}  // namespace
}  // namespace quellin::syslogd
