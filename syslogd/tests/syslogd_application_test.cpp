#include "syslogd_application.h"

#include "codec.h"
#include "log_file.h"
#include "program_folder.h"
#include "test_support.h"

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace quellin::syslogd {
namespace {

using quellin::testing::ReadFile;
using quellin::testing::Sjis;
using quellin::testing::TempDirTest;
using quellin::testing::WriteFile;

// A UDP port that was free a moment ago.
quint16 FreePort() {
    QUdpSocket probe;
    if (!probe.bind(QHostAddress::AnyIPv4, 0))
        return 0;
    return probe.localPort();
}

class SyslogdApplicationTest : public TempDirTest {
protected:
    SyslogdApplicationTest() {
        std::filesystem::create_directory(dir / "run");
        std::filesystem::permissions(dir / "run", std::filesystem::perms::owner_all);
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        if (old != nullptr)
            oldRuntime_ = old;
        ::setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
        SetProgramFolderForTesting(dir.folder());
    }
    ~SyslogdApplicationTest() override {
        SetProgramFolderForTesting("");
        if (oldRuntime_)
            ::setenv("XDG_RUNTIME_DIR", oldRuntime_->c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
    }

    void ExpectStartUpFailure(const FakeMessageBoxes& shown) {
        ASSERT_EQ(shown.shown.size(), 1u);
        EXPECT_EQ(shown.shown[0].text, Sjis("起動処理に失敗しました。"));
        EXPECT_EQ(shown.shown[0].caption, "Syslogd");
        EXPECT_EQ(shown.shown[0].icon, MsgIcon::Error);
    }

    FakeMessageBoxes boxes;

private:
    std::optional<std::string> oldRuntime_;
};

TEST_F(SyslogdApplicationTest, StartsWithDefaultsAndListens) {
    const quint16 port = FreePort();
    SyslogdApplication app(port, boxes);
    ASSERT_EQ(app.Start(), SyslogdApplication::StartResult::Running);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(app.receiver()->localPort(), port);
    EXPECT_TRUE(app.window()->isVisible());
    EXPECT_EQ(app.window()->windowTitle(), QStringLiteral("Syslogd"));
    EXPECT_EQ(app.settings().maxLineCount, 500);

    QUdpSocket sender;
    sender.writeDatagram(QByteArray("<13>hello"), QHostAddress::LocalHost, port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.window()->model()->rowCount() == 1; }, 5000));
    EXPECT_EQ(app.window()->model()->Row(0)[4], "hello");
}

TEST_F(SyslogdApplicationTest, ReadsItsSettingsFromTheProgramFolder) {
    WriteFile(dir / "Syslogd.ini", "[SETUP]\r\nMaxLineCount=7\r\nKeyStr1=down\r\n");
    SyslogdApplication app(FreePort(), boxes);
    ASSERT_EQ(app.Start(), SyslogdApplication::StartResult::Running);
    EXPECT_EQ(app.settings().maxLineCount, 7);
    EXPECT_EQ(app.settings().searchTable[0].keyStr, "down");
}

TEST_F(SyslogdApplicationTest, UnconvertibleSettingFailsStartUp) {
    WriteFile(dir / "Syslogd.ini", "[SETUP]\r\nMaxLineCount=many\r\n");
    SyslogdApplication app(FreePort(), boxes);
    EXPECT_EQ(app.Start(), SyslogdApplication::StartResult::Failed);
    ExpectStartUpFailure(boxes);
    EXPECT_EQ(app.window(), nullptr);
}

TEST_F(SyslogdApplicationTest, PortInUseFailsStartUp) {
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(QHostAddress::AnyIPv4, 0, QAbstractSocket::DontShareAddress));
    SyslogdApplication app(holder.localPort(), boxes);
    EXPECT_EQ(app.Start(), SyslogdApplication::StartResult::Failed);
    ExpectStartUpFailure(boxes);
    EXPECT_FALSE(app.window()->isVisible());
}

TEST_F(SyslogdApplicationTest, SecondInstanceEndsSilentlyAndLeavesTheFirstAlone) {
    SyslogdApplication first(FreePort(), boxes);
    ASSERT_EQ(first.Start(), SyslogdApplication::StartResult::Running);
    first.window()->SetHidesToTray(true);
    first.window()->HideWindow();
    ASSERT_FALSE(first.window()->isVisible());

    FakeMessageBoxes secondBoxes;
    SyslogdApplication second(FreePort(), secondBoxes);
    EXPECT_EQ(second.Start(), SyslogdApplication::StartResult::AlreadyRunning);
    EXPECT_TRUE(secondBoxes.shown.empty());
    EXPECT_EQ(second.window(), nullptr);
    QTest::qWait(300);
    EXPECT_FALSE(first.window()->isVisible());
}

// The window thread held up entirely — a modal dialog whose owner does not
// return to the event loop, as a wave file played synchronously would —
// while a burst arrives: reception and the log do not wait for it.
TEST_F(SyslogdApplicationTest, BurstIsLoggedWhileTheWindowThreadIsHeldUp) {
    WriteFile(dir / "Syslogd.ini", "[SETUP]\r\nLogWriteFlag=1\r\nLogPath=" +
                                       (dir / "syslogd.txt").string() + "\r\nSoundType=1\r\n");
    SyslogdApplication app(FreePort(), boxes);
    ASSERT_EQ(app.Start(), SyslogdApplication::StartResult::Running);
    const quint16 port = app.receiver()->localPort();

    constexpr int kBurst = 20000;
    std::size_t loggedWhileHeld = 0;
    QTimer::singleShot(0, [&] {
        auto* modal = new QMessageBox(QMessageBox::Information, QStringLiteral("Syslogd"),
                                      QStringLiteral("modal"), QMessageBox::Ok, app.window());
        modal->setAttribute(Qt::WA_DeleteOnClose);
        QTimer::singleShot(0, modal, [&, modal] {
            // Inside the dialog's own event loop, which this callback holds.
            int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(port);
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            for (int i = 0; i < kBurst; ++i) {
                const std::string d = "<13>held " + std::to_string(i);
                ::sendto(fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            }
            ::close(fd);
            for (int i = 0; i < 500; ++i) {
                loggedWhileHeld = SplitLines(ReadFile(dir / "syslogd.txt")).size();
                if (loggedWhileHeld >= kBurst)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            modal->accept();
        });
        modal->exec();
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return loggedWhileHeld != 0; }, 30000));
    EXPECT_EQ(loggedWhileHeld, static_cast<std::size_t>(kBurst));
    const auto lines = SplitLines(ReadFile(dir / "syslogd.txt"));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kBurst));
    for (int i = 0; i < kBurst; ++i)
        ASSERT_EQ(SplitLogLine(lines[static_cast<std::size_t>(i)])[4], "held " + std::to_string(i));

    // The window catches up afterwards: the list holds the rows the rate
    // limit let through.
    EXPECT_TRUE(QTest::qWaitFor([&] { return app.window()->model()->rowCount() >= 11; }, 5000));
}

}  // namespace
}  // namespace quellin::syslogd
