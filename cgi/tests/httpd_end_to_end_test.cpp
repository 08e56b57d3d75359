// Netprov behind the real web server: an installation tree is laid out in a
// temporary folder from dist/httpd, patched by the real Webcfgpatch, served
// by Debian's apache2 on a loopback port, and asked for the page.  Clients
// that send half a request do not keep the routers waiting, and a CGI
// program may pause longer than the server waits for clients.
#include "expected_page.h"
#include "file_descriptor.h"
#include "md5.h"
#include "process.h"
#include "socket_support.h"
#include "tarn_image.h"
#include "tarnsim_client.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace quellin::netprov {
namespace {

namespace fs = std::filesystem;
using quellin::testing::ConnectToLoopback;
using quellin::testing::ReadFile;
using quellin::testing::WriteFile;
using testing::ExpectedPage;

constexpr char kApache[] = "/usr/sbin/apache2";

// Sends one request and reads the answer until the server closes the
// connection; nullopt when that does not happen in time.  With a source
// address the request comes from that loopback address, as from a router.
std::optional<std::string> Fetch(std::uint16_t port, const std::string& request,
                                 const std::string& source = {}) {
    UniqueFd socket = ConnectToLoopback(quellin::testing::kLoopback, port, source);
    if (!socket.valid())
        return std::nullopt;
    timeval timeout{20, 0};
    ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::send(socket.get(), request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size()))
        return std::nullopt;
    std::string answer;
    char buffer[4096];
    for (int reads = 0; reads < 10000; ++reads) {
        ssize_t n = ::recv(socket.get(), buffer, sizeof buffer, 0);
        if (n == 0)
            return answer;
        if (n < 0)
            return std::nullopt;
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    return std::nullopt;
}

// A started program, ended with SIGTERM (then SIGKILL) when it goes.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& arguments, const fs::path& output) {
        const ExecStrings argv(arguments);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        // A group of its own: the server signals its whole process group when
        // it stops, which must not reach the test.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        if (::posix_spawn(&pid_, argv.get()[0], &actions, &attributes, argv.get(), environ) != 0)
            pid_ = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool running() {
        if (pid_ <= 0)
            return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        return true;
    }

    // The exit status once the program has ended within the time given.
    std::optional<int> Wait(std::chrono::milliseconds limit) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return std::nullopt;
    }

    void Stop() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGTERM);
        if (!Wait(std::chrono::seconds(15))) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
};

int RunToEnd(const std::vector<std::string>& arguments, const fs::path& output) {
    ChildProcess child(arguments, output);
    return child.Wait(std::chrono::seconds(30)).value_or(-1000);
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

class HttpdTest : public quellin::testing::TempDirTest {
protected:
    void SetUp() override {
        if (!fs::exists(kApache))
            GTEST_SKIP() << "Debian's apache2 is not installed";
        // The server drops to its own user when started by root; that user
        // must reach the tree.
        fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
        install = dir / "Quellin_server";
        httpd = install / "httpd";
        fs::create_directories(install);
        fs::copy(fs::path(QUELLIN_SOURCE_DIR) / "dist" / "httpd", httpd,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        fs::copy_file(fs::path(QUELLIN_BIN_DIR) / "Netprov", httpd / "cgi-bin" / "Netprov");

        port = quellin::testing::UnusedLoopbackPort();
        ASSERT_NE(port, 0);
        const fs::path conf = httpd / "conf" / "httpd.conf";
        ASSERT_EQ(RunToEnd({std::string(QUELLIN_BIN_DIR) + "/Webcfgpatch", conf.string(),
                            install.string(), std::to_string(port)},
                           dir / "webcfgpatch.out"),
                  0);
        std::string patched = ReadFile(conf);
        const std::string listen = "\r\nListen " + std::to_string(port) + "\r\n";
        ASSERT_NE(patched.find(listen), std::string::npos);
        ASSERT_NE(patched.find("\r\nServerRoot \"" + httpd.string() + "\"\r\n"), std::string::npos);
        // Tests stay on loopback: the patched "Listen <port>" would take every
        // address.
        WriteFile(conf,
                  Adjusted(ReplaceAll(patched, listen,
                                      "\r\nListen 127.0.0.1:" + std::to_string(port) + "\r\n")));

        server.emplace(
            std::vector<std::string>{(httpd / "bin" / "httpd").string(), "-k", "runservice"},
            dir / "httpd.out");
        for (int attempt = 0; attempt < 200 && server->running(); ++attempt) {
            if (ConnectToLoopback(quellin::testing::kLoopback, port).valid())
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        FAIL() << "web server did not come up\n"
               << ReadFile(dir / "httpd.out") << ReadFile(httpd / "logs" / "error.log");
    }

    void TearDown() override {
        if (server)
            server->Stop();
    }

    // The installed configuration as a test wants it (shortened limits).
    virtual std::string Adjusted(std::string conf) { return conf; }

    std::string Get(const std::string& target) {
        auto answer = Fetch(port, "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
        return answer.value_or("<no complete answer>");
    }

    fs::path install;
    fs::path httpd;
    std::uint16_t port = 0;
    std::optional<ChildProcess> server;
};

TEST_F(HttpdTest, PageArrivesByteForByte) {
    const std::string refused = ExpectedPage({"パラメタが不正です。"});
    EXPECT_EQ(Get("/cgi-bin/Netprov"), refused);
    EXPECT_EQ(Get("/cgi-bin/Netprov?foo=1&bar=%41+b"), refused);

    const std::string body = "foo=1&bar=2";
    EXPECT_EQ(Fetch(port,
                    "POST /cgi-bin/Netprov HTTP/1.0\r\nHost: 127.0.0.1\r\n"
                    "Content-Type: application/x-www-form-urlencoded\r\n"
                    "Content-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n" + body),
              refused);

    // HTTP/1.1 clients read the page to the closed connection too.
    EXPECT_EQ(Fetch(port, "GET /cgi-bin/Netprov HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"), refused);
}

TEST_F(HttpdTest, NetprovFindsTheInstallationFromCgiBin) {
    WriteFile(install / "base.db", "branch01,,,id01,secret,/nonexistent.txt,0,0,0,0,0,0\r\n");
    EXPECT_EQ(Get("/cgi-bin/Netprov?accessid=id99&accesspass=0123"),
              ExpectedPage({"アクセスIDに誤りがあります。"}));
    // md5("secret"): the registry row is found and the password accepted.
    EXPECT_EQ(Get("/cgi-bin/Netprov?accessid=id01&accesspass=5ebe2294ecd0e0f08eab7690d2a6ee69"),
              ExpectedPage({"構成定義ファイルが見つかりません。"}));
}

TEST_F(HttpdTest, DocumentRootAsksForTheWebViewsLogin) {
    std::string answer = Get("/");
    EXPECT_EQ(answer.rfind("HTTP/1.1 401 Unauthorized\r\n", 0), 0u) << answer;
    std::string outside = Get("/../conf/httpd.conf");
    EXPECT_EQ(outside.find("ServerRoot"), std::string::npos) << outside;
}

// Half a request: the request line and a header, never the blank line.
constexpr char kHalfRequest[] = "GET /cgi-bin/Netprov HTTP/1.0\r\nHost: 127.0.0.1\r\n";

TEST_F(HttpdTest, HalfSentRequestsDoNotKeepRoutersWaiting) {
    std::vector<UniqueFd> stalled;
    for (int i = 0; i < 40; ++i) {
        UniqueFd socket = ConnectToLoopback(quellin::testing::kLoopback, port);
        ASSERT_TRUE(socket.valid()) << i;
        ASSERT_EQ(::send(socket.get(), kHalfRequest, sizeof kHalfRequest - 1, MSG_NOSIGNAL),
                  static_cast<ssize_t>(sizeof kHalfRequest - 1));
        stalled.push_back(std::move(socket));
    }
    // Give the server the time to take them all on.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    // A router's request while all of them hang on.
    const auto asked = std::chrono::steady_clock::now();
    const std::string page = Get("/cgi-bin/Netprov");
    const auto waited = std::chrono::steady_clock::now() - asked;
    EXPECT_EQ(page, ExpectedPage({"パラメタが不正です。"}));
    EXPECT_LT(waited, std::chrono::seconds(10));

    // The stalled clients are answered 408 and let go within seconds.
    int dropped = 0;
    for (UniqueFd& socket : stalled) {
        timeval timeout{30, 0};
        ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        std::string answer;
        char buffer[1024];
        ssize_t n;
        while ((n = ::recv(socket.get(), buffer, sizeof buffer, 0)) > 0)
            answer.append(buffer, static_cast<std::size_t>(n));
        if (n == 0 && answer.rfind("HTTP/1.1 408 ", 0) == 0)
            ++dropped;
    }
    EXPECT_EQ(dropped, 40);
}

// The server waits only a short time for clients here, yet a CGI program
// that pauses longer between two pieces of its page, as Netprov does while
// it uploads a firmware image, still delivers the whole page.
class HttpdShortClientTimeoutTest : public HttpdTest {
protected:
    std::string Adjusted(std::string conf) override {
        const std::string shipped = "\r\nTimeout 60\r\n";
        EXPECT_NE(conf.find(shipped), std::string::npos);
        return ReplaceAll(conf, shipped, "\r\nTimeout 1\r\n");
    }
};

TEST_F(HttpdShortClientTimeoutTest, CgiProgramMayPauseLongerThanTheClientTimeout) {
    const fs::path script = httpd / "cgi-bin" / "nph-pause";
    WriteFile(script,
              "#!/bin/sh\n"
              "printf 'HTTP/1.0 200 OK\\r\\nContent-Type: text/plain\\r\\n\\r\\nfirst\\n'\n"
              "sleep 3\n"
              "printf 'second\\n'\n");
    fs::permissions(script, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
    EXPECT_EQ(Get("/cgi-bin/nph-pause"),
              "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nfirst\nsecond\n");
}

namespace sim = quellin::tarn::testing;

// A router of the fleet: it sits on the standard ports of its own loopback
// address, because the web server's Netprov reaches it only there.
constexpr char kRouterAddress[] = "127.0.86.10";

TEST_F(HttpdTest, RouterCallsAndIsProvisionedAndRestarted) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "the router must listen on ports 23 and 21, which needs root";

    // The server's user (www-data) creates the logs and rewrites the
    // configuration file beside itself.
    const auto shared = fs::perms::all;
    fs::create_directories(install / "log");
    fs::permissions(install / "log", shared);
    fs::create_directories(install / "configs");
    fs::permissions(install / "configs", shared);
    const fs::path config = install / "configs" / "branch01.txt";
    WriteFile(config, "hostname branch01\r\ninterface lan0\r\n");
    fs::permissions(config, shared);
    fs::copy_file(fs::path(QUELLIN_BIN_DIR) / "Devrestart", httpd / "cgi-bin" / "Devrestart");

    fs::create_directories(install / "firmware");
    for (const char* version : {"V05.00", "V06.02"}) {
        tarn::ImageOptions image;
        image.model = "Tarn-120";
        image.version = version;
        std::string error;
        ASSERT_TRUE(
            tarn::WriteImage(install / "firmware" / (std::string(version) + ".bin"), image, error))
            << error;
    }
    WriteFile(install / "NEXORA.INI",
              "[Config]\r\nFIRMDIR=" + (install / "firmware").string() + "\r\nLOGINID=\r\n");
    WriteFile(install / "base.db",
              "branch01,10.9.9.9,pw,id01,secret," + config.string() + ",0,0,0,0,0,0\r\n");

    sim::TarnsimProcess router({"--state", (dir / "sim").string(), "--name", "r1", "--address",
                                kRouterAddress, "--telnet-port", "23", "--ftp-port", "21",
                                "--model", "Tarn-120", "--version", "V05.00", "--reset-delay-ms",
                                "300"});
    ASSERT_TRUE(router.ready());

    const std::string page =
        Fetch(port,
              "GET /cgi-bin/Netprov?accessid=id01&accesspass=" + Md5Hex("secret") +
                  " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n",
              kRouterAddress)
            .value_or("<no complete answer>");
    EXPECT_EQ(
        page,
        ExpectedPage({"ソフトウェアをV05.00版からV06.02版へ更新します。しばらくお待ちください ･･･",
                      "ソフトウェアを更新しました。",
                      "構成定義を更新します。しばらくお待ちください ･･･",
                      "構成定義を更新しました。", "設定が正常に終了しました。"}))
        << ReadFile(httpd / "logs" / "error.log");

    // The router's side: identified, given firmware and configuration in
    // active mode, restarted by Devrestart into the new slot and software.
    const fs::path journal = dir / "sim" / "journal.jsonl";
    const auto patience = std::chrono::seconds(30);
    EXPECT_EQ(sim::WaitForJournal(journal,
                                  {"\"event\":\"command\"", "\"text\":\"show system information\""})
                  .size(),
              1u);
    for (const char* slot : {"firmware", "config1"})
        EXPECT_EQ(sim::WaitForJournal(
                      journal, {"\"event\":\"upload\"", "\"slot\":\"" + std::string(slot) + "\"",
                                "\"mode\":\"active\"", "\"ok\":true"})
                      .size(),
                  1u)
            << slot;
    EXPECT_EQ(sim::WaitForJournal(journal, {"\"event\":\"command\"", "\"text\":\"reset config1\""},
                                  1, patience)
                  .size(),
              1u);
    EXPECT_EQ(
        sim::WaitForJournal(
            journal, {"\"event\":\"up\"", "\"version\":\"V06.02\"", "\"startup\":\"config1\""}, 1,
            patience)
            .size(),
        1u)
        << ReadFile(journal);

    const std::string converted = "hostname branch01\ninterface lan0\neof\n";
    EXPECT_EQ(ReadFile(config), converted);
    EXPECT_EQ(ReadFile(dir / "sim" / "r1" / "config1"), converted);

    std::istringstream log(ReadFile(install / "log" / "branch01.log"));
    std::vector<std::string> messages;
    for (std::string line; std::getline(log, line);) {
        auto at = line.find(",branch01,");
        ASSERT_EQ(at, 19u) << line;
        ASSERT_TRUE(line.ends_with("\r"));
        messages.push_back(line.substr(at + 10, line.size() - at - 11));
    }
    std::vector<std::string> expected;
    for (const char* message :
         {"設定を開始しました。",
          "ソフトウェアをV05.00版からV06.02版へ更新します。しばらくお待ちください ･･･",
          "ソフトウェアを更新しました。", "構成定義を更新します。しばらくお待ちください ･･･",
          "構成定義を更新しました。", "設定が正常に終了しました。"})
        expected.push_back(quellin::testing::Sjis(message));
    EXPECT_EQ(messages, expected);

    server->Stop();
    EXPECT_FALSE(server->running());
    EXPECT_EQ(router.Stop(), 0);
}

}  // namespace
}  // namespace quellin::netprov
