#include "udp_receiver.h"

#include "test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
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

}  // namespace
}  // namespace quellin::syslogd
