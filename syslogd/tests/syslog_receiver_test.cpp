#include "syslog_receiver.h"

#include "test_support.h"

#include <QTest>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quellin::syslogd {
namespace {

using quellin::testing::Sjis;

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

    bool Send(quint16 port, const std::string& bytes) const {
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

class SyslogReceiverTest : public ::testing::Test {
protected:
    SyslogReceiver receiver{[this](std::string_view bytes, std::string_view source) {
        received.push_back({std::string(bytes), std::string(source)});
    }};
    std::vector<Received> received;
};

TEST_F(SyslogReceiverTest, HandsOnEveryDatagramWithItsSender) {
    ASSERT_TRUE(receiver.Bind(0));
    const quint16 port = receiver.localPort();
    ASSERT_NE(port, 0);

    Sender sender;
    const std::vector<std::string> datagrams = {"<13>Jul  5 00:43:58 tarn01 up",
                                                "<11>" + Sjis("回線断"), "", "<0>x"};
    for (const auto& d : datagrams)
        ASSERT_TRUE(sender.Send(port, d));
    ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() == datagrams.size(); }, 5000))
        << received.size();
    for (std::size_t i = 0; i < datagrams.size(); ++i) {
        EXPECT_EQ(received[i].bytes, datagrams[i]);
        EXPECT_EQ(received[i].source, "127.0.0.1");
    }
}

TEST_F(SyslogReceiverTest, DrainsABurstQueuedWhileBusy) {
    ASSERT_TRUE(receiver.Bind(0));
    Sender sender;
    constexpr int kBurst = 2000;
    // Everything is queued in the socket before the event loop runs once.
    for (int i = 0; i < kBurst; ++i)
        ASSERT_TRUE(sender.Send(receiver.localPort(), "<13>burst " + std::to_string(i)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() == kBurst; }, 10000))
        << received.size();
    EXPECT_EQ(received.back().bytes, "<13>burst 1999");
}

TEST_F(SyslogReceiverTest, KeepsReadingWhileDatagramsArriveDuringADrain) {
    ASSERT_TRUE(receiver.Bind(0));
    Sender sender;
    constexpr int kWaves = 20;
    constexpr int kPerWave = 400;
    // Datagrams arrive in waves while earlier ones are still being handled,
    // as they do from a busy fleet; none may be left unread in the socket.
    for (int wave = 0; wave < kWaves; ++wave) {
        for (int i = 0; i < kPerWave; ++i)
            ASSERT_TRUE(sender.Send(receiver.localPort(), "<13>wave " + std::to_string(wave)));
        QTest::qWait(1);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() == kWaves * kPerWave; }, 20000))
        << received.size();
    QTest::qWait(200);
    ASSERT_TRUE(sender.Send(receiver.localPort(), "<13>after the burst"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return received.size() == kWaves * kPerWave + 1; }, 5000));
    EXPECT_EQ(received.back().bytes, "<13>after the burst");
}

TEST_F(SyslogReceiverTest, ReceiveBufferIsEnlarged) {
    ASSERT_TRUE(receiver.Bind(0));
    if (::geteuid() != 0)
        GTEST_SKIP() << "only a privileged process may pass the system limit";
    EXPECT_GE(receiver.receiveBufferSize(), 16 * 1024 * 1024);
}

TEST_F(SyslogReceiverTest, PortInUseFailsTheBind) {
    ASSERT_TRUE(receiver.Bind(0));
    SyslogReceiver second([](std::string_view, std::string_view) {});
    QString error;
    EXPECT_FALSE(second.Bind(receiver.localPort(), &error));
    EXPECT_FALSE(error.isEmpty());
}

}  // namespace
}  // namespace quellin::syslogd
