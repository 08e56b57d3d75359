// The built Syslogd program as a process: it listens on UDP 514, writes its
// log file for datagrams from util-linux logger and from a raw socket, lets
// no second instance run, and exits cleanly on SIGTERM.
#include "log_file.h"
#include "mail_peer.h"
#include "syslog_search.h"
#include "test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <thread>
#include <vector>

extern char** environ;

namespace quellin::syslogd {
namespace {

using quellin::testing::PrintTo;
using quellin::testing::ReadFile;
using quellin::testing::Sjis;
using quellin::testing::TempDirTest;
using quellin::testing::WriteFile;
using namespace std::chrono_literals;

constexpr std::uint16_t kPort = 514;

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// A child process, killed and reaped if the test leaves it running.
class Child {
public:
    // `output`: a file that takes the child's standard output and error.
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
          const std::filesystem::path& output = {}) {
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        std::vector<char*> envp;
        for (const auto& e : env)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        if (!output.empty()) {
            ::posix_spawn_file_actions_addopen(&actions, 1, output.c_str(),
                                               O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
        }
        if (::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0)
            pid_ = -1;
        ::posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    void Signal(int signal) const { ::kill(pid_, signal); }
    bool Running() {
        Poll();
        return !status_;
    }
    // Exit status, or nullopt when the child has not ended within the wait.
    std::optional<int> Wait(std::chrono::milliseconds limit) {
        for (auto end = std::chrono::steady_clock::now() + limit;
             std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(20ms)) {
            if (!Running())
                return status_;
        }
        return std::nullopt;
    }

private:
    void Poll() {
        if (status_ || pid_ <= 0)
            return;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_)
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    pid_t pid_ = -1;
    std::optional<int> status_;
};

bool SendDatagram(const std::string& bytes) {
    Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kPort);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::sendto(fd.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
                    sizeof to) == static_cast<ssize_t>(bytes.size());
}

// Sends many datagrams from one socket, from 127.0.0.1 or `from`.
class Blaster {
public:
    explicit Blaster(const char* from = nullptr)
        : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = from ? inet_addr(from) : htonl(INADDR_LOOPBACK);
        ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&at), sizeof at);
        to_.sin_family = AF_INET;
        to_.sin_port = htons(kPort);
        to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = 4 * 1024 * 1024;
        ::setsockopt(fd_.get(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    }
    bool Send(const std::string& bytes) {
        for (;;) {
            ssize_t sent = ::sendto(fd_.get(), bytes.data(), bytes.size(), 0,
                                    reinterpret_cast<const sockaddr*>(&to_), sizeof to_);
            if (sent == static_cast<ssize_t>(bytes.size()))
                return true;
            if (sent < 0 && (errno == ENOBUFS || errno == EAGAIN || errno == EINTR))
                continue;
            return false;
        }
    }

private:
    Fd fd_;
    sockaddr_in to_{};
};

// Peak resident memory of a process in KiB, from /proc.
long PeakResidentKiB(pid_t pid) {
    const std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
    auto at = status.find("VmHWM:");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
}

// CPU seconds a process has used so far, all its threads.
double CpuSeconds(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    unsigned long user = 0, system = 0;
    std::sscanf(stat.c_str() + stat.rfind(')') + 2,
                "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user, &system);
    return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The log line of a datagram whose sender timestamp is accepted.
std::string LineOf(const std::string& body) {
    return "Jul  5 00:43:58,127.0.0.1,User,Notice," + body;
}
std::string DatagramOf(const std::string& body) {
    return "<13>Jul  5 00:43:58 " + body;
}

// A UDP port on 127.0.0.1 that nothing is bound to just now.
std::uint16_t FreeUdpPort() {
    Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&at), &length) != 0)
        return 0;
    return ntohs(at.sin_port);
}

// Empty when the port can be bound the way Syslogd binds it; else why not.
std::string PortProblem() {
    Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(kPort);
    at.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
        return std::strerror(errno);
    return {};
}

class SyslogdProgramTest : public TempDirTest {
protected:
    void SetUp() override {
        if (std::string problem = PortProblem(); !problem.empty())
            GTEST_SKIP() << "UDP port 514 cannot be bound here: " << problem;
    }

    std::vector<std::string> Environment() const {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            std::string_view entry(*e);
            if (entry.starts_with("QT_QPA_PLATFORM=") || entry.starts_with("XDG_RUNTIME_DIR=") ||
                entry.starts_with("LC_ALL="))
                continue;
            env.emplace_back(entry);
        }
        env.push_back("QT_QPA_PLATFORM=offscreen");
        env.push_back("XDG_RUNTIME_DIR=" + (dir / "run").string());
        env.push_back("LC_ALL=C");
        return env;
    }

    // The program copied into the test folder, where it reads Syslogd.ini.
    std::filesystem::path InstallProgram(const std::string& settings) {
        const auto program = dir / "Syslogd";
        std::filesystem::copy_file(SYSLOGD_PROGRAM, program);
        std::filesystem::create_directory(dir / "run");
        std::filesystem::permissions(dir / "run", std::filesystem::perms::owner_all);
        WriteFile(dir / "Syslogd.ini", settings);
        return program;
    }

    std::string LoggingSettings(const std::string& more = {}) const {
        return "[SETUP]\r\nLogWriteFlag=1\r\nLogPath=" + (dir / "syslogd.txt").string() +
               "\r\nSoundType=1\r\n" + more;
    }

    // Probes until the listener answers by logging; the probes' lines are
    // removed again.
    bool WaitUntilListening(Child& server) const {
        for (int i = 0; i < 250 && server.Running(); ++i) {
            SendDatagram("<13>probe");
            std::this_thread::sleep_for(20ms);
            if (!LogLines().empty()) {
                std::this_thread::sleep_for(100ms);
                std::filesystem::remove(dir / "syslogd.txt");
                return true;
            }
        }
        return false;
    }

    // Syslogd installed with `settings`, started and listening; null after
    // recording why not.
    std::unique_ptr<Child> StartListening(const std::string& settings) {
        auto server = std::make_unique<Child>(
            std::vector<std::string>{InstallProgram(settings).string()}, Environment());
        if (!server->started() || !WaitUntilListening(*server)) {
            ADD_FAILURE() << "Syslogd did not start listening";
            return nullptr;
        }
        return server;
    }

    // SIGTERM ends the server, and with status 0.
    static void ExpectCleanStop(Child& server) {
        server.Signal(SIGTERM);
        EXPECT_EQ(server.Wait(10s), 0);
    }

    std::vector<std::string> LogLines() const { return SplitLines(ReadFile(dir / "syslogd.txt")); }

    bool WaitForLogLines(std::size_t count, int tries = 250) const {
        for (int i = 0; i < tries; ++i) {
            if (LogLines().size() >= count)
                return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }
};

TEST_F(SyslogdProgramTest, LogsDatagramsAndExitsOnSigterm) {
    // The program reads Syslogd.ini from its own folder.
    const auto program = dir / "Syslogd";
    std::filesystem::copy_file(SYSLOGD_PROGRAM, program);
    std::filesystem::create_directory(dir / "run");
    std::filesystem::permissions(dir / "run", std::filesystem::perms::owner_all);
    WriteFile(dir / "Syslogd.ini",
              "[SETUP]\r\nLogWriteFlag=1\r\nLogPath=" + (dir / "syslogd.txt").string() +
                  "\r\nSoundType=1\r\nKeyStr1=down\r\n");

    Child server({program.string()}, Environment());
    ASSERT_TRUE(server.started());

    // Probe until the listener answers by logging.
    bool listening = false;
    for (int i = 0; i < 250 && !listening && server.Running(); ++i) {
        SendDatagram("<13>probe");
        std::this_thread::sleep_for(20ms);
        listening = !LogLines().empty();
    }
    ASSERT_TRUE(listening) << "Syslogd did not start listening";
    std::this_thread::sleep_for(100ms);
    const std::size_t probes = LogLines().size();
    for (const auto& line : LogLines()) {
        ListRow row = SplitLogLine(line);
        EXPECT_EQ(row[1], "127.0.0.1");
        EXPECT_EQ(row[4], "probe");
    }

    Child logger({"logger", "--rfc3164", "-d", "-n", "127.0.0.1", "-P", "514", "-p", "local3.err",
                  "-t", "tarn", "link down, port 3"},
                 Environment());
    ASSERT_TRUE(logger.started());
    ASSERT_EQ(logger.Wait(10s), 0);
    ASSERT_TRUE(WaitForLogLines(probes + 1));

    ASSERT_TRUE(
        SendDatagram("<11>Jul  5 00:43:58 tarn02 " + Sjis("回線断") + ",\t" + Sjis("再接続")));
    ASSERT_TRUE(SendDatagram("<120>facility 15 is dropped"));
    ASSERT_TRUE(SendDatagram("<191>plain"));
    ASSERT_TRUE(WaitForLogLines(probes + 3));

    // Logged once each, in arrival order, CR LF ended.
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), probes + 3);
    const std::string bytes = ReadFile(dir / "syslogd.txt");
    EXPECT_EQ(bytes.size() - bytes.find(lines.back()), lines.back().size() + 2);
    EXPECT_TRUE(bytes.ends_with("\r\n"));

    ListRow fromLogger = SplitLogLine(lines[probes]);
    EXPECT_EQ(fromLogger[0].size(), 15u);
    EXPECT_EQ(fromLogger[1], "127.0.0.1");
    EXPECT_EQ(fromLogger[2], "Local3");
    EXPECT_EQ(fromLogger[3], "Error");
    EXPECT_TRUE(fromLogger[4].ends_with(" tarn: link down, port 3")) << fromLogger[4];

    EXPECT_EQ(lines[probes + 1], "Jul  5 00:43:58,127.0.0.1,User,Error,tarn02 " + Sjis("回線断") +
                                     ",," + Sjis("再接続"));
    ListRow plain = SplitLogLine(lines[probes + 2]);
    EXPECT_EQ(plain[1], "127.0.0.1");
    EXPECT_EQ(plain[2], "Local7");
    EXPECT_EQ(plain[3], "Debug");
    EXPECT_EQ(plain[4], "plain");

    // A second instance ends at once without taking over.
    Child second({program.string()}, Environment());
    ASSERT_TRUE(second.started());
    EXPECT_EQ(second.Wait(10s), 0);
    EXPECT_TRUE(server.Running());

    server.Signal(SIGTERM);
    EXPECT_EQ(server.Wait(10s), 0);
}

// Devices that speak RFC 5424 over UDP (IPv4 and IPv6), TCP and TCP with
// octet counting, on ports of the operator's choosing; the TLS port another
// program holds keeps no other listener from running.
TEST_F(SyslogdProgramTest, ReceivesRfc5424OverUdpAndTcpOnChosenPortsAndIpv6) {
    const std::string port = std::to_string(FreeUdpPort());
    Fd held(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in at{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof at;
    ASSERT_EQ(::bind(held.get(), reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ::listen(held.get(), 1);
    ::getsockname(held.get(), reinterpret_cast<sockaddr*>(&at), &length);
    const std::string cert = (dir / "cert.pem").string(), key = (dir / "key.pem").string();
    ASSERT_EQ(std::system(("openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=localhost -days 1 "
                           "-keyout " +
                           key + " -out " + cert + " 2>/dev/null")
                              .c_str()),
              0);
    Child server(
        {InstallProgram(
             LoggingSettings("UdpAddress=::\r\nUdpPort=" + port + "\r\nTcpFlag=1\r\nTcpPort=" +
                             port + "\r\nTlsFlag=1\r\nTlsCertFile=" + cert + "\r\nTlsKeyFile=" +
                             key + "\r\nTlsPort=" + std::to_string(ntohs(at.sin_port)) + "\r\n"))
             .string()},
        Environment());
    auto send = [&](std::vector<std::string> args, const std::string& text) {
        args.insert(args.begin(), {"logger", "--rfc5424", "-P", port, "-t", "sw", "--msgid", "M1"});
        args.push_back(text);
        for (int i = 0; i < 100 && server.Running(); ++i, std::this_thread::sleep_for(50ms))
            if (Child(args, Environment()).Wait(10s) == 0)
                return;
        ADD_FAILURE() << text;
    };
    send({"-T", "-n", "127.0.0.1"}, "over tcp");  // retried until Syslogd listens
    send({"-T", "--octet-count", "-n", "::1"}, "octets over tcp6");
    ASSERT_TRUE(WaitForLogLines(2));
    send({"-d", "-n", "::1"}, "udp6 " + std::string("\xE5\x8F\x97\xE4\xBF\xA1"));
    ASSERT_TRUE(WaitForLogLines(3));
    send({"-d", "-n", "127.0.0.1"}, "udp4");
    ASSERT_TRUE(WaitForLogLines(4));
    const std::vector<std::string> lines = LogLines();
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"127.0.0.1", "over tcp"},
        {"::1", "octets over tcp6"},
        {"::1", "udp6 " + Sjis("受信")},
        {"127.0.0.1", "udp4"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ListRow row = SplitLogLine(lines[i]);
        EXPECT_EQ(row[0].size(), 15u) << lines[i];
        EXPECT_EQ(row[1], expected[i].first);
        EXPECT_EQ(row[2], "User");
        EXPECT_TRUE(row[4].find(" sw M1 [timeQuality ") != std::string::npos &&
                    row[4].ends_with(expected[i].second))
            << row[4];
    }
    ExpectCleanStop(server);
}

TEST_F(SyslogdProgramTest, SecondInstanceEndsAtOnceWithoutAWord) {
    auto server = StartListening(LoggingSettings());
    ASSERT_TRUE(server);

    const auto output = dir / "second.out";
    Child second({(dir / "Syslogd").string()}, Environment(), output);
    ASSERT_TRUE(second.started());
    EXPECT_EQ(second.Wait(1s), 0);
    EXPECT_EQ(ReadFile(output), "");

    // The first one goes on receiving.
    ASSERT_TRUE(SendDatagram("<13>after the second"));
    ASSERT_TRUE(WaitForLogLines(1));
    EXPECT_EQ(SplitLogLine(LogLines().back())[4], "after the second");
    ExpectCleanStop(*server);
}

// The start-up failure message waits for the operator, but SIGTERM still
// ends the program, whichever start-up step failed.
TEST_F(SyslogdProgramTest, SigtermEndsTheStartUpFailureMessage) {
    const auto program = InstallProgram("[SETUP]\r\nMaxLineCount=many\r\n");
    {
        Child server({program.string()}, Environment(), dir / "damaged.out");
        ASSERT_TRUE(server.started());
        std::this_thread::sleep_for(1500ms);
        ASSERT_TRUE(server.Running()) << "the failure message should wait for the operator";
        server.Signal(SIGTERM);
        EXPECT_TRUE(server.Wait(1s).has_value()) << "SIGTERM did not end the damaged start-up";
    }

    // The port already taken: the failure comes after the window was made.
    WriteFile(dir / "Syslogd.ini", LoggingSettings());
    Fd holder(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(kPort);
    at.sin_addr.s_addr = htonl(INADDR_ANY);
    ASSERT_EQ(::bind(holder.get(), reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    Child server({program.string()}, Environment(), dir / "port.out");
    ASSERT_TRUE(server.started());
    std::this_thread::sleep_for(1500ms);
    ASSERT_TRUE(server.Running()) << "the failure message should wait for the operator";
    server.Signal(SIGTERM);
    EXPECT_TRUE(server.Wait(1s).has_value()) << "SIGTERM did not end the failed bind";
}

TEST_F(SyslogdProgramTest, BurstOfFiftyThousandIsLoggedWholeAndInOrder) {
    auto server = StartListening(LoggingSettings());
    ASSERT_TRUE(server);

    constexpr int kBurst = 50000;
    std::string expected;
    Blaster blaster;
    for (int i = 0; i < kBurst; ++i) {
        const std::string body = "tarn" + std::to_string(i % 40) + " burst " + std::to_string(i) +
                                 " " + std::string(150, 'x');
        ASSERT_TRUE(blaster.Send(DatagramOf(body)));
        expected += LineOf(body) + "\r\n";
    }
    ASSERT_TRUE(WaitForLogLines(kBurst, 1500)) << LogLines().size();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(LogLines().size(), static_cast<std::size_t>(kBurst));
    EXPECT_TRUE(ReadFile(dir / "syslogd.txt") == expected);
    ExpectCleanStop(*server);
}

TEST_F(SyslogdProgramTest, LogFileRenamedWhileDatagramsFlowContinuesAtThePath) {
    auto server = StartListening(LoggingSettings());
    ASSERT_TRUE(server);

    constexpr int kTotal = 20000;
    std::atomic<int> sent{0};
    std::thread sender([&] {
        Blaster blaster;
        for (int i = 0; i < kTotal; ++i) {
            blaster.Send(DatagramOf("flow " + std::to_string(i)));
            sent = i + 1;
            if (i % 200 == 199)
                std::this_thread::sleep_for(10ms);
        }
    });
    // Renamed as logrotate does, in the middle of the flow.
    while (sent.load() < kTotal / 3)
        std::this_thread::sleep_for(1ms);
    std::filesystem::rename(dir / "syslogd.txt", dir / "syslogd.txt.1");
    sender.join();

    auto bothFiles = [&] {
        auto lines = SplitLines(ReadFile(dir / "syslogd.txt.1"));
        auto more = LogLines();
        lines.insert(lines.end(), more.begin(), more.end());
        return lines;
    };
    for (int i = 0; i < 500 && bothFiles().size() < kTotal; ++i)
        std::this_thread::sleep_for(20ms);
    const auto lines = bothFiles();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kTotal));
    for (int i = 0; i < kTotal; ++i)
        ASSERT_EQ(lines[static_cast<std::size_t>(i)], LineOf("flow " + std::to_string(i)));
    EXPECT_GT(LogLines().size(), 0u) << "nothing went to the new file at the configured path";
    EXPECT_GT(SplitLines(ReadFile(dir / "syslogd.txt.1")).size(), 0u);
    ExpectCleanStop(*server);
}

// Alerts for large messages hold nothing up: 1000 matching datagrams of
// the largest size among 1000 small ones within a second are all logged,
// while a popup shows for each match, and memory stays bounded.
TEST_F(SyslogdProgramTest, LargeMatchingDatagramsAreAllLoggedInBoundedMemory) {
    auto server = StartListening(LoggingSettings("KeyStr1=match\r\n"));
    ASSERT_TRUE(server);
    const long before = PeakResidentKiB(server->pid());

    constexpr int kPairs = 1000;
    std::vector<std::string> expected;
    Blaster blaster;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kPairs; ++i) {
        std::string large = "match " + std::to_string(i) + " ";
        large += std::string(65507 - DatagramOf(large).size(), 'L');
        ASSERT_TRUE(blaster.Send(DatagramOf(large)));
        expected.push_back(LineOf(large));
        const std::string small = "small " + std::to_string(i);
        ASSERT_TRUE(blaster.Send(DatagramOf(small)));
        expected.push_back(LineOf(small));
        std::this_thread::sleep_until(start + (i + 1) * 1ms);
    }
    ASSERT_TRUE(WaitForLogLines(2 * kPairs, 1500)) << LogLines().size();
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(LogLines() == expected) << LogLines().size();
    const long peak = PeakResidentKiB(server->pid());
    // The 2000 datagrams are 65 MB of text; holding popups, rows or lines
    // for all of them would show here.
    EXPECT_LT(peak - before, 40 * 1024) << "peak " << peak << " KiB, before " << before << " KiB";
    EXPECT_TRUE(server->Running());
    ExpectCleanStop(*server);
}

// Rotation by size under a burst: the kept generations hold one unbroken
// run of whole lines ending with the last datagram, the oldest ones gone.
TEST_F(SyslogdProgramTest, LogRotatesBySizeWithoutLosingOrSplittingALine) {
    auto server = StartListening(
        LoggingSettings("LogRotateType=2\r\nLogRotateSizeMB=1\r\nLogKeepCount=3\r\n"));
    ASSERT_TRUE(server);

    constexpr int kBurst = 30000;  // about 6.5 MB of lines
    Blaster blaster;
    for (int i = 0; i < kBurst; ++i)
        ASSERT_TRUE(
            blaster.Send(DatagramOf("seq " + std::to_string(i) + " " + std::string(180, 'r'))));
    auto generation = [&](int g) {
        return g == 0 ? dir / "syslogd.txt" : dir / ("syslogd.txt." + std::to_string(g));
    };
    auto kept = [&] {
        std::vector<std::string> lines;
        for (int g = 3; g >= 0; --g) {
            auto more = SplitLines(ReadFile(generation(g)));
            lines.insert(lines.end(), more.begin(), more.end());
        }
        return lines;
    };
    const std::string last =
        LineOf("seq " + std::to_string(kBurst - 1) + " " + std::string(180, 'r'));
    ASSERT_TRUE(quellin::testing::WaitUntil(
        [&] { return !LogLines().empty() && LogLines().back() == last; }, 30000));
    EXPECT_FALSE(std::filesystem::exists(generation(4)));
    for (int g = 0; g <= 3; ++g)
        EXPECT_TRUE(ReadFile(generation(g)).ends_with("\r\n")) << g;
    const std::vector<std::string> lines = kept();
    const int first = kBurst - static_cast<int>(lines.size());
    ASSERT_GT(lines.size(), 3u * 5000);
    for (std::size_t i = 0; i < lines.size(); ++i)
        ASSERT_EQ(lines[i], LineOf("seq " + std::to_string(first + static_cast<int>(i)) + " " +
                                   std::string(180, 'r')));
    ExpectCleanStop(*server);
}

// An alert storm with AlertHoldSeconds: 100 matching datagrams from one
// router within a second reach the log file whole and cost one mail.
TEST_F(SyslogdProgramTest, AlertStormWithHoldOffSendsOneMail) {
    if (!std::filesystem::exists(quellin::testing::kPython))
        GTEST_SKIP() << "no /usr/bin/python3";
    quellin::testing::MailServer mail;
    ASSERT_TRUE(mail.ready()) << "aiosmtpd did not start";
    auto server = StartListening(LoggingSettings(
        "AlertHoldSeconds=60\r\nMailSendFlag=1\r\nSMTPServer=127.0.0.1\r\nSMTPPort=" +
        std::to_string(mail.port()) +
        "\r\nClientMailAddress=syslogd@example.com\r\nKeyStr1=LINK-DOWN\r\nMailFlag1=1\r\n"
        "SubjectStr1=link down\r\nToStr1=ops@example.com\r\n"));
    ASSERT_TRUE(server);

    Blaster blaster;
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(blaster.Send(DatagramOf("tarn07 LINK-DOWN lan1 #" + std::to_string(i))));
    ASSERT_TRUE(WaitForLogLines(100));
    ASSERT_TRUE(quellin::testing::WaitUntil([&] { return mail.HasMail(1); }, 10000));
    std::this_thread::sleep_for(1500ms);
    EXPECT_FALSE(mail.HasMail(2));
    EXPECT_NE(mail.Mail(1).find("tarn07 LINK-DOWN lan1 #0\r\n"), std::string::npos) << mail.Mail(1);
    EXPECT_EQ(LogLines().size(), 100u);
    ExpectCleanStop(*server);
}

// Forwarding over UDP to nowhere, a mail server answering each greeting 2 s
// late, LogKeepCount=-1: twenty alerts go in one session, yesterday's log is
// rotated, not removed, and then the refusals that came back cost no CPU.
TEST_F(SyslogdProgramTest, RefusedForwardingSlowMailAndNegativeKeepCount) {
    if (!std::filesystem::exists(quellin::testing::kPython))
        GTEST_SKIP() << "no /usr/bin/python3";
    quellin::testing::MailServer mail({"--helo-delay", "2"});
    ASSERT_TRUE(mail.ready()) << "aiosmtpd did not start";
    auto server = StartListening(LoggingSettings(
        "LogRotateType=1\r\nLogKeepCount=-1\r\nForwardFlag=1\r\nForwardHost=127.0.0.1\r\n"
        "ForwardPort=" +
        std::to_string(FreeUdpPort()) +
        "\r\nMailSendFlag=1\r\nSMTPServer=127.0.0.1\r\nSMTPPort=" + std::to_string(mail.port()) +
        "\r\nClientMailAddress=syslogd@example.com\r\nKeyStr1=LINK-DOWN\r\nMailFlag1=1\r\n"
        "ToStr1=ops@example.com\r\nNoPop_Mail1=1\r\n"));
    ASSERT_TRUE(server);
    WriteFile(dir / "syslogd.txt", "yesterday\r\n");
    std::filesystem::last_write_time(dir / "syslogd.txt",
                                     std::filesystem::file_time_type::clock::now() - 48h);
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(SendDatagram(DatagramOf("tarn07 LINK-DOWN lan1 #" + std::to_string(i))));
    EXPECT_TRUE(quellin::testing::WaitUntil(
        [&] { return ReadFile(dir / "syslogd.txt.1") == "yesterday\r\n"; }, 5000))
        << "rotation removed the log";
    ASSERT_TRUE(quellin::testing::WaitUntil([&] { return mail.HasMail(20); }, 15000));
    EXPECT_EQ(ReadFile(mail.Path("sessions.log")), "localhost\n");
    const double before = CpuSeconds(server->pid());
    std::this_thread::sleep_for(5s);
    EXPECT_LT(CpuSeconds(server->pid()) - before, 1.0);
    ExpectCleanStop(*server);
}

// Debian's rsyslog, unpacked by bench/syslog_peers.sh, as the central
// collector: it writes every message, the host it read first, one a line.
class Collector {
public:
    Collector(const std::filesystem::path& folder, bool tcp, std::uint16_t port,
              std::vector<std::string> env)
        : folder_(folder), tcp_(tcp), port_(port), env_(std::move(env)) {
        std::filesystem::create_directories(folder);
        const std::string module = tcp ? "imtcp" : "imudp";
        WriteFile(folder / "rsyslog.conf",
                  "global(workDirectory=\"" + folder.string() + "\")\n" + "module(load=\"" +
                      module + "\")\n" + "input(type=\"" + module +
                      "\" address=\"127.0.0.1\" port=\"" + std::to_string(port) + "\"" +
                      // Bursts of forwarded datagrams must not overflow the
                      // collector's socket on a busy machine.
                      (tcp ? "" : " rcvbufSize=\"16m\"") + ")\n" +
                      "template(name=\"raw\" type=\"string\" string=\"%HOSTNAME% %rawmsg%\\n\")\n" +
                      "action(type=\"omfile\" file=\"" + (folder / "received.txt").string() +
                      "\" template=\"raw\")\n");
    }

    // Starts rsyslogd and waits until it takes messages.
    bool Start() {
        probesBefore_ = Probes();
        const std::string root = std::string(SYSLOG_PEERS_DIR) + "/root";
        process_ = std::make_unique<Child>(
            std::vector<std::string>{root + "/usr/sbin/rsyslogd", "-n", "-f",
                                     (folder_ / "rsyslog.conf").string(), "-i",
                                     (folder_ / "rsyslogd.pid").string(), "-M",
                                     root + "/usr/lib/x86_64-linux-gnu/rsyslog"},
            env_, folder_ / "rsyslogd.out");
        for (int i = 0; i < 250 && process_->Running(); ++i) {
            if (Listening())
                return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    void Stop() {
        if (!process_)
            return;
        process_->Signal(SIGTERM);
        process_->Wait(10s);
        process_.reset();
    }

    // What arrived, probes left out.
    std::vector<std::string> Received() const {
        std::vector<std::string> lines;
        for (std::string& line : SplitLines(ReadFile(folder_ / "received.txt"))) {
            if (line.find("probe") == std::string::npos)
                lines.push_back(std::move(line));
        }
        return lines;
    }

private:
    bool Listening() {
        if (tcp_) {
            Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(port_);
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            return ::connect(fd.get(), reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
        }
        const std::string probe = "<13>collector probe";
        Fd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port_);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(fd.get(), probe.data(), probe.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to);
        std::this_thread::sleep_for(20ms);
        return Probes() > probesBefore_;
    }

    std::size_t Probes() const {
        const auto lines = SplitLines(ReadFile(folder_ / "received.txt"));
        return static_cast<std::size_t>(std::count_if(
            lines.begin(), lines.end(),
            [](const auto& l) { return l.find("collector probe") != std::string::npos; }));
    }

    std::filesystem::path folder_;
    bool tcp_;
    std::uint16_t port_;
    std::vector<std::string> env_;
    std::unique_ptr<Child> process_;
    std::size_t probesBefore_ = 0;
};

struct ForwardRow {
    std::string name;
    bool tcp;
    std::string settings;  // beyond the target: the default format unless set
};

class ForwardingTest : public SyslogdProgramTest, public ::testing::WithParamInterface<ForwardRow> {
protected:
    void SetUp() override {
        SyslogdProgramTest::SetUp();
        if (IsSkipped())
            return;
        Child peers({"/bin/sh", SYSLOG_PEERS_SCRIPT, SYSLOG_PEERS_DIR}, Environment(),
                    dir / "peers.out");
        if (peers.Wait(120s) != 0)
            GTEST_SKIP() << "rsyslog cannot be had: " << ReadFile(dir / "peers.out");
    }

    // As a Tarn router's: no host name, every other one no timestamp either;
    // numbered within a phase, with Japanese text and commas.
    static std::string Body(int phase, int i) {
        return "fwd " + std::to_string(phase) + "-" + std::to_string(i) + " " + Sjis("回線断") +
               ", port " + std::to_string(i % 48);
    }
    static std::string Datagram(int phase, int i) {
        return (i % 2 == 0 ? "<13>Jul  5 00:43:58 " : "<13>") + Body(phase, i);
    }
    static void SendPhase(int phase, int count) {
        Blaster blaster("127.0.0.2");
        for (int i = 0; i < count; ++i) {
            blaster.Send(Datagram(phase, i));
            if (i % 200 == 199)
                std::this_thread::sleep_for(5ms);
        }
    }
    static std::size_t CountOf(const std::vector<std::string>& lines, int phase, int count,
                               std::string* problem) {
        std::map<std::string, int> seen;
        for (const std::string& line : lines) {
            if (!line.starts_with("127.0.0.2 <13>") && problem->empty())
                *problem = "not from the router's host: " + line;
            ++seen[line.substr(line.find(" fwd ") + 1)];
        }
        std::size_t arrived = 0;
        for (int i = 0; i < count; ++i) {
            auto it = seen.find(Body(phase, i));
            if (it == seen.end())
                continue;
            ++arrived;
            if (it->second != 1 && problem->empty())
                *problem = Body(phase, i) + " arrived " + std::to_string(it->second) + " times";
        }
        return arrived;
    }
};

// Every accepted datagram reaches a real rsyslog once, whatever the display
// filter, with the router's address as its host (RFC 3164, or 5424); rsyslog
// stopped and started again mid-stream: Syslogd goes on, forwarding resumes.
TEST_P(ForwardingTest, CentralRsyslogReceivesEverything) {
    const bool tcp = GetParam().tcp;
    const std::uint16_t port = tcp ? quellin::testing::FreeTcpPort() : FreeUdpPort();
    Collector collector(dir / "collector", tcp, port, Environment());
    ASSERT_TRUE(collector.Start()) << ReadFile(dir / "collector" / "rsyslogd.out");

    // The display filter hides every level: forwarding does not care.
    auto server = StartListening(LoggingSettings(
        "DispFilter=12\r\nFilterLevel=255\r\nForwardFlag=1\r\nForwardHost=127.0.0.1\r\n"
        "ForwardPort=" +
        std::to_string(port) + "\r\nForwardProtocol=" + (tcp ? "1" : "0") + "\r\n" +
        GetParam().settings));
    ASSERT_TRUE(server);

    constexpr int kPhase = 2000;
    std::string problem;
    SendPhase(1, kPhase);
    ASSERT_TRUE(SendDatagram("no PRI: dropped, so not forwarded"));
    ASSERT_TRUE(quellin::testing::WaitUntil(
        [&] { return CountOf(collector.Received(), 1, kPhase, &problem) == kPhase; }, 20000))
        << CountOf(collector.Received(), 1, kPhase, &problem) << " of " << kPhase;
    EXPECT_EQ(problem, "");

    // The collector goes away; Syslogd receives and logs on.
    collector.Stop();
    SendPhase(2, 500);
    ASSERT_TRUE(WaitForLogLines(kPhase + 500));
    EXPECT_TRUE(server->Running());

    ASSERT_TRUE(collector.Start()) << ReadFile(dir / "collector" / "rsyslogd.out");
    SendPhase(3, 500);
    EXPECT_TRUE(quellin::testing::WaitUntil(
        [&] { return CountOf(collector.Received(), 3, 500, &problem) == 500; }, 20000))
        << "forwarding did not resume: " << CountOf(collector.Received(), 3, 500, &problem);
    std::this_thread::sleep_for(300ms);
    const std::vector<std::string> received = collector.Received();
    const std::size_t outage = CountOf(received, 2, 500, &problem);
    EXPECT_EQ(problem, "");
    if (tcp) {
        // Waiting in the bounded queue while the collector was away.
        EXPECT_EQ(outage, 500u);
    }
    EXPECT_EQ(received.size(), kPhase + outage + 500) << "something else arrived";
    EXPECT_EQ(LogLines().size(), static_cast<std::size_t>(kPhase + 500 + 500));
    std::cout << GetParam().name << ": " << outage
              << " of the 500 datagrams sent while the collector was down arrived\n";

    ExpectCleanStop(*server);
    collector.Stop();
}

INSTANTIATE_TEST_SUITE_P(Rows, ForwardingTest,
                         ::testing::Values(ForwardRow{"udp", false, ""},
                                           ForwardRow{"tcp", true, ""},
                                           ForwardRow{"tcp_rfc5424", true, "ForwardFormat=1\r\n"}),
                         quellin::testing::RowName());

}  // namespace
}  // namespace quellin::syslogd

namespace quellin::syslogd {
namespace {

// Syslogd with StoreFlag=1 keeps what logger and a second router sent; the
// search window's logic finds it by time, router (address or base.db's
// name), level, text and pattern, and so does `quellin syslog`.
TEST_F(SyslogdProgramTest, StoredMessagesAreFoundBySearchAndByQuellin) {
    auto server = StartListening(LoggingSettings("StoreFlag=1\r\nStorePath=store.db\r\n"));
    ASSERT_TRUE(server);
    Child logger({"logger", "--rfc3164", "-d", "-n", "127.0.0.1", "-P", "514", "-p", "local3.err",
                  "-t", "tarn", "link down, port 3"},
                 Environment());
    ASSERT_EQ(logger.Wait(10s), 0);
    ASSERT_TRUE(Blaster("127.0.0.2").Send("<12>Jan  1 00:00:00 tarn07 " + Sjis("回線断 ポート5")));
    ASSERT_TRUE(WaitForLogLines(2));
    const std::string log = ReadFile(dir / "syslogd.txt");
    ExpectCleanStop(*server);
    EXPECT_EQ(ReadFile(dir / "syslogd.txt"), log);

    WriteFile(dir / "base.db", "tarn07,127.0.0.2,,,,,0,0,0,0,0,0\r\n");
    auto found = [&](SearchForm form) {
        std::vector<std::string> texts;
        auto query = BuildQuery(form, CurrentClock(), LoadDeviceAddresses(dir / "base.db"));
        EXPECT_TRUE(query);
        SearchSession session(dir / "store.db", [&](SearchSession::Event event) {
            EXPECT_FALSE(event.failure) << event.failure->detail;
            for (const auto& row : event.rows)
                texts.push_back(row.text.substr(row.text.find(' ') + 1));
        });
        session.Start(*query, syslogstore::BucketUnit::kMinute);
        session.Wait();
        return texts;
    };
    const std::vector<std::string> router2 = {"回線断 ポート5"};
    EXPECT_EQ(found({.text = "link down"}), std::vector<std::string>{"tarn: link down, port 3"});
    EXPECT_EQ(found({.routers = "127.0.0.2"}), router2);
    EXPECT_EQ(found({.routers = "tarn07"}), router2);
    EXPECT_EQ(found({.levels = 1 << 4}), router2);
    EXPECT_EQ(found({.text = "ポート[0-9]$", .regex = true}), router2);
    EXPECT_EQ(found({.range = SearchRange::kYesterday}), std::vector<std::string>{});

    Child quellin({QUELLIN_PROGRAM, "syslog", "--store", (dir / "store.db").string(), "--router",
                   "127.0.0.2", "--csv"},
                  Environment(), dir / "out.csv");
    ASSERT_EQ(quellin.Wait(10s), 0);
    EXPECT_NE(ReadFile(dir / "out.csv").find(Sjis("回線断 ポート5")), std::string::npos);
}

}  // namespace
}  // namespace quellin::syslogd
