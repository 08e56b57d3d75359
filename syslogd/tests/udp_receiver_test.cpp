#include "udp_receiver.h"

#include "stream_receiver.h"

#include "test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quellin::syslogd {
namespace {

using quellin::testing::Sjis;
using namespace std::chrono_literals;

// A plain UDP socket for sending, closed with the object.
class Sender {
public:
    Sender() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Sender() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

    bool Send(std::uint16_t port, const std::string& bytes) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
                        sizeof to) == static_cast<ssize_t>(bytes.size());
    }

private:
    int fd_;
};

struct Received {
    std::string bytes;
    std::string source;
};

// Records what the reception thread hands on.
class RecordingSink final : public DatagramSink {
public:
    void Handle(std::string_view bytes, std::string_view source) override {
        std::lock_guard lock(mutex_);
        if (std::this_thread::get_id() == testThread_)
            onTestThread_ = true;
        received_.push_back({std::string(bytes), std::string(source)});
        ++sinceBatch_;
    }
    void EndBatch() override {
        std::lock_guard lock(mutex_);
        if (sinceBatch_ == 0)
            emptyBatch_ = true;
        sinceBatch_ = 0;
        ++batches_;
        changed_.notify_all();
    }
    void Finish() override {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }

    // Waits until `count` datagrams were handed on, their batch closed.
    bool WaitFor(std::size_t count, std::chrono::milliseconds limit = 10s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit,
                                 [&] { return received_.size() >= count && sinceBatch_ == 0; });
    }
    std::vector<Received> received() {
        std::lock_guard lock(mutex_);
        return received_;
    }
    bool onTestThread() {
        std::lock_guard lock(mutex_);
        return onTestThread_;
    }
    bool emptyBatch() {
        std::lock_guard lock(mutex_);
        return emptyBatch_;
    }
    bool finished() {
        std::lock_guard lock(mutex_);
        return finished_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Received> received_;
    std::size_t sinceBatch_ = 0;
    int batches_ = 0;
    bool emptyBatch_ = false;
    bool finished_ = false;
    bool onTestThread_ = false;
    std::thread::id testThread_ = std::this_thread::get_id();
};

class UdpReceiverTest : public ::testing::Test {
protected:
    RecordingSink sink;
    UdpReceiver receiver{sink};
    Sender sender;
};

TEST_F(UdpReceiverTest, HandsOnEveryDatagramWithItsSenderOnItsOwnThread) {
    ASSERT_TRUE(receiver.Bind(0));
    const std::uint16_t port = receiver.localPort();
    ASSERT_NE(port, 0);
    receiver.Start();

    const std::vector<std::string> datagrams = {"<13>Jul  5 00:43:58 tarn01 up",
                                                "<11>" + Sjis("回線断"), "", "<0>x",
                                                std::string(65507, 'L')};
    for (const auto& d : datagrams)
        ASSERT_TRUE(sender.Send(port, d));
    ASSERT_TRUE(sink.WaitFor(datagrams.size())) << sink.received().size();
    const auto received = sink.received();
    ASSERT_EQ(received.size(), datagrams.size());
    for (std::size_t i = 0; i < datagrams.size(); ++i) {
        EXPECT_EQ(received[i].bytes, datagrams[i]);
        EXPECT_EQ(received[i].source, "127.0.0.1");
    }
    EXPECT_FALSE(sink.onTestThread());
    EXPECT_FALSE(sink.emptyBatch());

    receiver.Stop();
    EXPECT_TRUE(sink.finished());
}

TEST_F(UdpReceiverTest, DrainsABurstQueuedBeforeItStarted) {
    ASSERT_TRUE(receiver.Bind(0));
    constexpr int kBurst = 2000;
    for (int i = 0; i < kBurst; ++i)
        ASSERT_TRUE(sender.Send(receiver.localPort(), "<13>burst " + std::to_string(i)));
    receiver.Start();
    ASSERT_TRUE(sink.WaitFor(kBurst)) << sink.received().size();
    const auto received = sink.received();
    for (int i = 0; i < kBurst; ++i)
        ASSERT_EQ(received[static_cast<std::size_t>(i)].bytes, "<13>burst " + std::to_string(i));
}

TEST_F(UdpReceiverTest, KeepsReadingWhileDatagramsArriveInWaves) {
    ASSERT_TRUE(receiver.Bind(0));
    receiver.Start();
    constexpr int kWaves = 20;
    constexpr int kPerWave = 400;
    for (int wave = 0; wave < kWaves; ++wave) {
        for (int i = 0; i < kPerWave; ++i)
            ASSERT_TRUE(sender.Send(receiver.localPort(), "<13>wave " + std::to_string(wave)));
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(sink.WaitFor(kWaves * kPerWave)) << sink.received().size();
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(sender.Send(receiver.localPort(), "<13>after the burst"));
    ASSERT_TRUE(sink.WaitFor(kWaves * kPerWave + 1));
    EXPECT_EQ(sink.received().back().bytes, "<13>after the burst");
}

TEST_F(UdpReceiverTest, StopsWhileIdleAndWhileFlooded) {
    ASSERT_TRUE(receiver.Bind(0));
    receiver.Start();
    receiver.Stop();
    EXPECT_TRUE(sink.finished());

    RecordingSink floodSink;
    UdpReceiver flooded(floodSink);
    ASSERT_TRUE(flooded.Bind(0));
    flooded.Start();
    std::atomic<bool> sending{true};
    std::thread flood([&] {
        Sender s;
        while (sending.load())
            s.Send(flooded.localPort(), "<13>flood");
    });
    ASSERT_TRUE(floodSink.WaitFor(1000));
    flooded.Stop();
    EXPECT_TRUE(floodSink.finished());
    sending.store(false);
    flood.join();
}

TEST_F(UdpReceiverTest, ReceiveBufferIsEnlarged) {
    ASSERT_TRUE(receiver.Bind(0));
    if (::geteuid() != 0)
        GTEST_SKIP() << "only a privileged process may pass the system limit";
    EXPECT_GE(receiver.receiveBufferSize(), UdpReceiver::kWantedReceiveBuffer);
}

TEST_F(UdpReceiverTest, PortInUseFailsTheBind) {
    ASSERT_TRUE(receiver.Bind(0));
    RecordingSink other;
    UdpReceiver second(other);
    std::string error;
    EXPECT_FALSE(second.Bind(receiver.localPort(), &error));
    EXPECT_FALSE(error.empty());
}

struct Fd {
    explicit Fd(int f) : fd(f) {}
    Fd(Fd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
    int get() const { return fd; }
    int fd;
};

// A TCP connection to 127.0.0.1 (or ::1), closed with the object.
Fd Connect(std::uint16_t port, bool v6 = false) {
    Fd fd(::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in6 at{};
    at.sin6_family = AF_INET6;
    at.sin6_port = htons(port);
    at.sin6_addr = in6addr_loopback;
    sockaddr_in at4{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    const auto* to = v6 ? reinterpret_cast<sockaddr*>(&at) : reinterpret_cast<sockaddr*>(&at4);
    EXPECT_EQ(::connect(fd.get(), to, v6 ? sizeof at : sizeof at4), 0);
    return fd;
}
void Write(const Fd& fd, const std::string& bytes) {
    ASSERT_EQ(::send(fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
}
// Reads until the peer closes (true) or a second passes.
bool ClosedByPeer(const Fd& fd) {
    timeval limit{1, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char byte;
    return ::recv(fd.get(), &byte, 1, 0) == 0 || errno == ECONNRESET;
}

TEST(StreamReceiverTest, FramesOfBothKindsBoundedAndHostileSendersAnsweredWithinBounds) {
    RecordingSink sink;
    StreamReceiver::Options options;
    options.maxFrameBytes = 16;
    options.maxConnections = 3;
    options.idleTimeout = 1500ms;
    StreamReceiver receiver(sink, options);
    int error = 0;
    ASSERT_TRUE(receiver.ListenTcp("::", 0, error)) << error;
    receiver.Start();

    Fd octets = Connect(receiver.tcpPort(), true);
    Fd lines = Connect(receiver.tcpPort());
    // Octet-counted and LF-terminated frames, split anywhere; longer ones cut.
    Write(octets, "7 <1>a\nbc4 <2>");
    Write(lines, "<3>one\r\n<4>" + std::string(30, 'x'));
    Write(octets, "d26 <5>" + std::string(23, 'y') + "\n");
    Write(lines, "\n<6>two\n");
    ASSERT_TRUE(sink.WaitFor(6)) << sink.received().size();
    std::multiset<std::string> got;
    for (const auto& r : sink.received())
        got.insert(r.bytes + "@" + r.source);
    EXPECT_EQ(got, (std::multiset<std::string>{
                       "<1>a\nbc@::1", "<2>d@::1", "<5>" + std::string(13, 'y') + "@::1",
                       "<3>one@127.0.0.1", "<4>" + std::string(13, 'x') + "@127.0.0.1",
                       "<6>two@127.0.0.1"}));

    // A length of 2^63 ends its connection; the fourth connection is refused.
    Fd huge = Connect(receiver.tcpPort());
    Write(huge, "9223372036854775808 <1>x");
    EXPECT_TRUE(ClosedByPeer(huge));
    Fd second = Connect(receiver.tcpPort());
    Fd refused = Connect(receiver.tcpPort());
    EXPECT_TRUE(ClosedByPeer(refused));
    // A silent connection is closed after the idle time; the others go on.
    EXPECT_TRUE(ClosedByPeer(second) || ClosedByPeer(second));
    Fd after = Connect(receiver.tcpPort());
    Write(after, "<7>still\n");
    ASSERT_TRUE(sink.WaitFor(7));
    EXPECT_EQ(sink.received().back().bytes, "<7>still");
    const StreamReceiver::Counts counts = receiver.counts();
    EXPECT_EQ(counts.cutFrames, 2u);
    EXPECT_EQ(counts.badFraming, 1u);
    EXPECT_EQ(counts.refusedConnections, 1u);
    EXPECT_GE(counts.idleClosed, 1u);
    EXPECT_EQ(ReceptionNotice({{"UDP", 514, Sjis("使用中")}}, {}),
              "UDP 514" + Sjis(" 番ポートで受信できません: 使用中"));
    receiver.Stop();
    EXPECT_TRUE(sink.finished());
}

TEST(StreamReceiverTest, TlsFromOpensslWhileAStalledHandshakeIsCountedAndDropped) {
    quellin::testing::TempDir dir;
    const std::string cert = (dir.path() / "cert.pem").string(),
                      key = (dir.path() / "key.pem").string();
    ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=localhost -days 1 "
                           "-keyout " +
                           key + " -out " + cert + " 2>/dev/null")
                              .c_str()),
              0);
    RecordingSink sink;
    StreamReceiver::Options options;
    options.handshakeTimeout = 500ms;
    StreamReceiver receiver(sink, options);
    std::string reason;
    int error = 0;
    EXPECT_FALSE(receiver.ListenTls("", 0, cert, cert, "", reason, error));
    EXPECT_NE(reason.find("TlsKeyFile"), std::string::npos) << reason;
    ASSERT_TRUE(receiver.ListenTls("", 0, cert, key, "", reason, error)) << reason;
    receiver.Start();

    Fd stalled = Connect(receiver.tlsPort());
    Write(stalled, "\x16\x03\x01");
    quellin::testing::WriteFile(dir.path() / "msg", "<13>1 - h app - - - over tls\n");
    const std::string client =
        "timeout 20 openssl s_client -quiet -no_ign_eof -connect 127.0.0.1:" +
        std::to_string(receiver.tlsPort()) + " < " + (dir.path() / "msg").string() +
        " >/dev/null 2>&1";
    ASSERT_EQ(std::system(client.c_str()), 0);
    ASSERT_TRUE(sink.WaitFor(1));
    EXPECT_EQ(sink.received()[0].bytes, "<13>1 - h app - - - over tls");
    EXPECT_TRUE(ClosedByPeer(stalled));
    EXPECT_EQ(receiver.counts().failedHandshakes, 1u);
    EXPECT_NE(receiver.counts().lastHandshakeFailure.find("timed out"), std::string::npos);
}

}  // namespace
}  // namespace quellin::syslogd
