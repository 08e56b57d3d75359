#include "ftp_session.h"

#include "file_descriptor.h"
#include "process.h"
#include "socket_support.h"
#include "test_support.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace quellin {
namespace {

using namespace std::chrono_literals;
using testing::BoundPort;
using testing::ConnectToLoopback;
using testing::ListenOnLoopback;
using testing::PrintTo;
using testing::ReadFile;
using testing::RowName;
using testing::TempDir;
using testing::TempDirTest;
using testing::WriteFile;
namespace fs = std::filesystem;

// ================================================================ helpers

// Bytes that an FTP client in text mode or a careless converter would alter.
std::string AllByteValues() {
    std::string bytes;
    for (int round = 0; round < 4; ++round) {
        for (int b = 0; b < 256; ++b)
            bytes += static_cast<char>(b);
    }
    bytes += "\r\n\r\r\n\n\xFF\xFF\x1A";
    return bytes;
}

std::string RandomBytes(std::size_t size) {
    std::mt19937 generator(20240601);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(byte(generator));
    return bytes;
}

// ================================================================ FTP peer

// The pyftpdlib server of tests/peers/ftp_peer.py, run as a child process
// with its own root and command journal.
class FtpPeer {
public:
    static std::unique_ptr<FtpPeer> Start(const std::string& password) {
        auto peer = std::unique_ptr<FtpPeer>(new FtpPeer());
        fs::create_directory(peer->root());
        if (!peer->Spawn(password))
            return nullptr;
        return peer;
    }

    ~FtpPeer() { Stop(); }

    std::uint16_t port() const { return port_; }
    fs::path root() const { return work_ / "root"; }
    fs::path journal() const { return work_ / "journal.txt"; }

    // Empties the root between tests.
    void ClearRoot() const {
        for (const auto& entry : fs::directory_iterator(root()))
            fs::remove_all(entry.path());
    }

    // Command lines received since the given journal size.
    std::vector<std::string> CommandsSince(std::size_t offset) const {
        std::string text = ReadFile(journal());
        std::vector<std::string> lines;
        std::size_t start = offset < text.size() ? offset : text.size();
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }
    std::size_t JournalSize() const { return ReadFile(journal()).size(); }

private:
    FtpPeer() = default;

    bool Spawn(const std::string& password) {
        int toChild[2];
        int fromChild[2];
        if (::pipe2(toChild, O_CLOEXEC) != 0)
            return false;
        stdin_ = UniqueFd(toChild[1]);
        UniqueFd childIn(toChild[0]);
        if (::pipe2(fromChild, O_CLOEXEC) != 0)
            return false;
        UniqueFd fromPeer(fromChild[0]);
        UniqueFd childOut(fromChild[1]);

        const std::string script = QUELLIN_SOURCE_DIR "/common/tests/peers/ftp_peer.py";
        std::vector<std::string> args = {"/usr/bin/python3", script,      "--root",
                                         root().string(),    "--journal", journal().string(),
                                         "--password",       password};
        const ExecStrings argv(std::move(args));

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, childIn.get(), 0);
        posix_spawn_file_actions_adddup2(&actions, childOut.get(), 1);
        pid_t pid = -1;
        int rc = ::posix_spawn(&pid, argv.get()[0], &actions, nullptr, argv.get(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            return false;
        pid_ = pid;
        childOut.Close();

        // "port <n>" comes once the server listens.
        std::string line;
        auto deadline = std::chrono::steady_clock::now() + 20s;
        while (line.find('\n') == std::string::npos) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left <= 0ms)
                return false;
            pollfd wait{fromPeer.get(), POLLIN, 0};
            if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0)
                return false;
            char buffer[64];
            ssize_t n = ::read(fromPeer.get(), buffer, sizeof buffer);
            if (n <= 0)
                return false;
            line.append(buffer, static_cast<std::size_t>(n));
        }
        if (line.rfind("port ", 0) != 0)
            return false;
        port_ = static_cast<std::uint16_t>(std::stoi(line.substr(5)));
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (ConnectToLoopback(testing::kLoopback, port_).valid())
                return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    void Stop() {
        if (pid_ <= 0)
            return;
        stdin_.Close();
        ::kill(pid_, SIGTERM);
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(20ms);
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    TempDir workDir_;
    fs::path work_ = workDir_.path();
    UniqueFd stdin_;
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
};

constexpr char kPassword[] = "tarn-secret";

// ================================================================ uploads

struct Mode {
    const char* name;
    bool passive;
};

class FtpUploadTest : public ::testing::TestWithParam<Mode> {
protected:
    static void SetUpTestSuite() { peer_ = FtpPeer::Start(kPassword); }
    static void TearDownTestSuite() { peer_.reset(); }

    void SetUp() override {
        ASSERT_NE(peer_, nullptr) << "the FTP peer did not start (needs python3-pyftpdlib)";
        peer_->ClearRoot();
        journalStart_ = peer_->JournalSize();
    }

    bool passive() const { return GetParam().passive; }

    bool Upload(const fs::path& local, const std::string& remote,
                const std::string& password = kPassword) {
        const Result<void> uploaded = UploadFile("127.0.0.1", "ftp-admin", password, local.string(),
                                                 remote, peer_->port(), passive());
        error_ = uploaded ? Error{} : uploaded.error();
        return uploaded.ok();
    }

    std::vector<std::string> Commands() const { return peer_->CommandsSince(journalStart_); }
    bool Received(const std::string& prefix) const {
        for (const auto& line : Commands()) {
            if (line.rfind(prefix, 0) == 0)
                return true;
        }
        return false;
    }

    static std::unique_ptr<FtpPeer> peer_;
    TempDir local_;
    Error error_;
    std::size_t journalStart_ = 0;
};

std::unique_ptr<FtpPeer> FtpUploadTest::peer_;

struct PayloadCase {
    const char* name;
    std::string bytes;
};

TEST_P(FtpUploadTest, WholeFileArrivesByteForByte) {
    const PayloadCase cases[] = {
        {"all_byte_values", AllByteValues()},
        {"crlf_text_kept", "line\r\nline\r\n"},
        {"empty", ""},
        {"one_byte", "\xFF"},
        {"several_megabytes", RandomBytes(3 * 1024 * 1024 + 17)},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        fs::path local = local_ / row.name;
        WriteFile(local, row.bytes);
        ASSERT_TRUE(Upload(local, "firmware")) << error_.detail;
        EXPECT_EQ(ReadFile(peer_->root() / "firmware"), row.bytes);
        EXPECT_EQ(ReadFile(local), row.bytes);
    }
}

TEST_P(FtpUploadTest, UsesAskedDataConnectionAndBinaryType) {
    WriteFile(local_ / "c", "hostname a\neof\n");
    ASSERT_TRUE(Upload(local_ / "c", "config1")) << error_.detail;
    EXPECT_TRUE(Received("USER ftp-admin"));
    EXPECT_TRUE(Received("TYPE I"));
    EXPECT_TRUE(Received("STOR config1"));
    EXPECT_FALSE(Received("CWD"));
    EXPECT_FALSE(Received("EPSV"));
    EXPECT_FALSE(Received("EPRT"));
    EXPECT_EQ(Received("PASV"), passive());
    EXPECT_EQ(Received("PORT "), !passive());
}

TEST_P(FtpUploadTest, ReplacesWholeRemoteFile) {
    WriteFile(peer_->root() / "config2", std::string(5000, 'x'));
    WriteFile(local_ / "c", "short\neof\n");
    ASSERT_TRUE(Upload(local_ / "c", "config2")) << error_.detail;
    EXPECT_EQ(ReadFile(peer_->root() / "config2"), "short\neof\n");
}

TEST_P(FtpUploadTest, RemoteNameIsUsedExactly) {
    fs::create_directory(peer_->root() / "sub");
    const char* const names[] = {"config1", "config2", "firmware", "%41", "a b+c", "sub/config1"};
    WriteFile(local_ / "c", "x\neof\n");
    for (const char* name : names) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(Upload(local_ / "c", name)) << error_.detail;
        EXPECT_TRUE(Received(std::string("STOR ") + name));
        EXPECT_EQ(ReadFile(peer_->root() / name), "x\neof\n");
    }
}

TEST_P(FtpUploadTest, WrongPasswordFailsAndLeavesLocalFile) {
    WriteFile(local_ / "c", "a\r\nb");
    EXPECT_FALSE(Upload(local_ / "c", "config1", "wrong"));
    EXPECT_EQ(error_.code, ErrorCode::kLoginRefused) << error_.detail;
    EXPECT_EQ(error_.detail.rfind("FTP login refused: ", 0), 0u) << error_.detail;
    EXPECT_EQ(ReadFile(local_ / "c"), "a\r\nb");
    EXPECT_FALSE(fs::exists(peer_->root() / "config1"));
    EXPECT_FALSE(Received("STOR"));
}

TEST_P(FtpUploadTest, MissingLocalFileFailsBeforeConnecting) {
    EXPECT_FALSE(Upload(local_ / "absent", "config1"));
    EXPECT_EQ(error_.code, ErrorCode::kNotFound);
    EXPECT_TRUE(Commands().empty());
    EXPECT_FALSE(fs::exists(peer_->root() / "config1"));
    EXPECT_FALSE(fs::exists(local_ / "absent"));
}

TEST_P(FtpUploadTest, LocalFolderIsNotAFile) {
    EXPECT_FALSE(Upload(local_.path(), "config1"));
    EXPECT_EQ(error_.code, ErrorCode::kIo);
    EXPECT_TRUE(Commands().empty());
}

TEST_P(FtpUploadTest, RefusedStoreFails) {
    // A folder in the slot's place makes the server refuse the store.
    fs::create_directory(peer_->root() / "firmware");
    WriteFile(local_ / "c", "image");
    EXPECT_FALSE(Upload(local_ / "c", "firmware"));
    EXPECT_EQ(error_.code, ErrorCode::kRefused) << error_.detail;
    EXPECT_EQ(ReadFile(local_ / "c"), "image");
}

TEST_P(FtpUploadTest, UnsafeArgumentsNeverReachTheServer) {
    struct Row {
        const char* name;
        std::string address;
        int port;
        std::string password;
        std::string remote;
    };
    const int port = peer_->port();
    const Row rows[] = {
        {"remote_with_crlf", "127.0.0.1", port, kPassword, "config1\r\nDELE config2"},
        {"remote_with_tab", "127.0.0.1", port, kPassword, "config\t1"},
        {"remote_empty", "127.0.0.1", port, kPassword, ""},
        {"password_with_crlf", "127.0.0.1", port, "x\r\nDELE config2", "config1"},
        {"address_with_slash", "127.0.0.1/x", port, kPassword, "config1"},
        {"address_with_at", "user@127.0.0.1", port, kPassword, "config1"},
        {"address_empty", "", port, kPassword, "config1"},
        {"port_zero", "127.0.0.1", 0, kPassword, "config1"},
        {"port_above_range", "127.0.0.1", 65536, kPassword, "config1"},
    };
    WriteFile(local_ / "c", "x");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(UploadFile(row.address, "ftp-admin", row.password, (local_ / "c").string(),
                             row.remote, row.port, passive())
                      .error()
                      .code,
                  ErrorCode::kBadArgument);
    }
    EXPECT_TRUE(Commands().empty());
}

TEST_P(FtpUploadTest, SessionCanBeUsedForSeveralFiles) {
    CFtpSession session;
    WriteFile(local_ / "c", "config");
    WriteFile(local_ / "f", "image");
    EXPECT_TRUE(session.PutFile("127.0.0.1", peer_->port(), "ftp-admin", kPassword,
                                (local_ / "c").string(), "config1", passive()));
    EXPECT_EQ(session
                  .PutFile("127.0.0.1", peer_->port(), "ftp-admin", kPassword,
                           (local_ / "absent").string(), "config2", passive())
                  .error()
                  .code,
              ErrorCode::kNotFound);
    EXPECT_TRUE(session.PutFile("127.0.0.1", peer_->port(), "ftp-admin", kPassword,
                                (local_ / "f").string(), "firmware", passive()));
    EXPECT_EQ(ReadFile(peer_->root() / "config1"), "config");
    EXPECT_EQ(ReadFile(peer_->root() / "firmware"), "image");
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpUploadTest,
                         ::testing::Values(Mode{"Passive", true}, Mode{"Active", false}),
                         RowName());

// Netprov logs in without a password.
class FtpNoPasswordTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { peer_ = FtpPeer::Start(""); }
    static void TearDownTestSuite() { peer_.reset(); }
    void SetUp() override { ASSERT_NE(peer_, nullptr) << "the FTP peer did not start"; }

    static std::unique_ptr<FtpPeer> peer_;
    TempDir local_;
};

std::unique_ptr<FtpPeer> FtpNoPasswordTest::peer_;

TEST_F(FtpNoPasswordTest, EmptyPasswordLogsInActive) {
    WriteFile(local_ / "c", "a\neof\n");
    ASSERT_TRUE(UploadByFtp("127.0.0.1", "ftp-admin", "", (local_ / "c").string(), "config1",
                            peer_->port(), false));
    EXPECT_EQ(ReadFile(peer_->root() / "config1"), "a\neof\n");
    EXPECT_FALSE(UploadByFtp("127.0.0.1", "ftp-admin", "guess", (local_ / "c").string(), "config1",
                             peer_->port(), false));
}

// ================================================================ unreachable routers

class FtpUnreachableTest : public ::testing::Test {
protected:
    static constexpr auto kShortTimeout = 1000ms;
    // Generous: the time-out must end the wait long before a default would.
    static constexpr auto kUpperBound = 15s;

    bool UploadTo(std::uint16_t port, std::chrono::steady_clock::duration* elapsed) {
        WriteFile(local_ / "c", "x\neof\n");
        FtpTimeouts timeouts;
        timeouts.connect = kShortTimeout;
        timeouts.stall = 30s;
        auto start = std::chrono::steady_clock::now();
        const Result<void> uploaded =
            UploadFile("127.0.0.1", "ftp-admin", kPassword, (local_ / "c").string(), "config1",
                       port, true, timeouts);
        *elapsed = std::chrono::steady_clock::now() - start;
        error_ = uploaded ? Error{} : uploaded.error();
        return uploaded.ok();
    }

    TempDir local_;
    Error error_;
};

TEST_F(FtpUnreachableTest, DefaultConnectTimeoutIsThirtySeconds) {
    EXPECT_EQ(FtpTimeouts{}.connect, 30s);
}

TEST_F(FtpUnreachableTest, NothingListeningFails) {
    const std::uint16_t port = testing::UnusedLoopbackPort();
    ASSERT_NE(port, 0);
    std::chrono::steady_clock::duration elapsed{};
    EXPECT_FALSE(UploadTo(port, &elapsed));
    EXPECT_EQ(error_.code, ErrorCode::kConnectionRefused) << error_.detail;
    EXPECT_LT(elapsed, kUpperBound);
}

// The connection is taken by the kernel but nobody ever greets.
TEST_F(FtpUnreachableTest, ServerThatNeverGreetsTimesOut) {
    UniqueFd listener = ListenOnLoopback(8);
    ASSERT_GE(listener.get(), 0);
    std::chrono::steady_clock::duration elapsed{};
    EXPECT_FALSE(UploadTo(BoundPort(listener.get()), &elapsed));
    EXPECT_EQ(error_.code, ErrorCode::kTimeout) << error_.detail;
    EXPECT_GE(elapsed, kShortTimeout);
    EXPECT_LT(elapsed, kUpperBound);
}

// A listener whose accept queue is full drops new SYNs, so the TCP
// connection itself never completes: the same as a router that is off.
TEST_F(FtpUnreachableTest, ConnectionThatNeverCompletesTimesOut) {
    UniqueFd listener = ListenOnLoopback(0);
    ASSERT_GE(listener.get(), 0);
    const std::uint16_t port = BoundPort(listener.get());
    std::vector<UniqueFd> fillers;
    bool stuck = false;
    for (int attempt = 0; attempt < 32 && !stuck; ++attempt) {
        UniqueFd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        sockaddr_in address = *testing::LoopbackAddress(testing::kLoopback, port);
        ::connect(client.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        pollfd wait{client.get(), POLLOUT, 0};
        stuck = ::poll(&wait, 1, 300) == 0;
        fillers.push_back(std::move(client));
    }
    if (!stuck)
        GTEST_SKIP() << "this system completes every loopback connection";

    std::chrono::steady_clock::duration elapsed{};
    EXPECT_FALSE(UploadTo(port, &elapsed));
    EXPECT_EQ(error_.code, ErrorCode::kTimeout) << error_.detail;
    EXPECT_GE(elapsed, kShortTimeout);
    EXPECT_LT(elapsed, kUpperBound);
}

// ================================================================ newline conversion

struct ConversionCase {
    const char* name;
    std::string input;
    std::string expected;
};

const std::vector<ConversionCase>& ConversionCases() {
    static const std::vector<ConversionCase> cases = {
        {"crlf_without_eof", "a\r\nb\r\n", "a\nb\neof\n"},
        {"lone_cr", "a\rb\r", "a\nb\neof\n"},
        {"lf_only", "a\nb\n", "a\nb\neof\n"},
        {"no_final_line_end", "a\r\nb", "a\nb\neof\n"},
        {"cr_cr_lf", "a\r\r\nb", "a\n\nb\neof\n"},
        {"lf_cr", "a\n\rb", "a\n\nb\neof\n"},
        {"eof_crlf", "a\r\neof\r\n", "a\neof\n"},
        {"eof_then_empty_lines", "a\r\neof\r\n\r\n\n\r", "a\neof\n\n\n\n"},
        {"eof_without_line_end", "a\r\neof", "a\neof\n"},
        {"eof_alone", "eof", "eof\n"},
        {"eof_not_last", "eof\r\nx\r\n", "eof\nx\neof\n"},
        {"eo_short", "eo\n", "eo\neof\n"},
        {"eofx_long", "eofx\n", "eofx\neof\n"},
        {"xeof", "xeof\n", "xeof\neof\n"},
        {"eof_trailing_blank", "eof \n", "eof \neof\n"},
        {"upper_case_eof", "EOF\n", "EOF\neof\n"},
        {"eeof", "eeof\n", "eeof\neof\n"},
        {"empty_file", "", "eof\n"},
        {"only_line_ends", "\r\n\r\n", "\n\neof\n"},
        {"byte_ff_and_nul", std::string("\xFF\r\n\xFF\0z", 6),
         std::string("\xFF\n\xFF\0z\neof\n", 10)},
        {"cp932_text", testing::Sjis("表示\r\n"), testing::Sjis("表示\neof\n")},
    };
    return cases;
}

TEST(NewlineConverterTest, ConvertsEachCase) {
    for (const auto& row : ConversionCases()) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ConvertNewlinesText(row.input), row.expected);
    }
}

TEST(NewlineConverterTest, ConvertingTwiceChangesNothing) {
    for (const auto& row : ConversionCases()) {
        SCOPED_TRACE(row.name);
        std::string once = ConvertNewlinesText(row.input);
        EXPECT_EQ(ConvertNewlinesText(once), once);
    }
}

// The file is read in blocks; a CR LF pair may straddle two of them.
TEST(NewlineConverterTest, PiecesGiveTheSameBytesAsTheWhole) {
    for (const auto& row : ConversionCases()) {
        for (std::size_t cut = 0; cut <= row.input.size(); ++cut) {
            SCOPED_TRACE(std::string(row.name) + " cut at " + std::to_string(cut));
            NewlineConverter converter;
            std::string output;
            converter.Feed(std::string_view(row.input).substr(0, cut), output);
            converter.Feed(std::string_view(row.input).substr(cut), output);
            converter.Finish(output);
            EXPECT_EQ(output, row.expected);
        }
    }
}

class ConvertNewlinesTest : public TempDirTest {
protected:
    std::string PathOf(const char* name) const { return (dir / name).string(); }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(ConvertNewlinesTest, RewritesFileInPlace) {
    WriteFile(dir / "router.cfg", "hostname a\r\nip 1\r\n");
    EXPECT_EQ(ConvertNewlines(PathOf("router.cfg")), 0);
    EXPECT_EQ(ReadFile(dir / "router.cfg"), "hostname a\nip 1\neof\n");
    EXPECT_EQ(Names(), std::vector<std::string>{"router.cfg"});

    EXPECT_EQ(ConvertNewlines(PathOf("router.cfg")), 0);
    EXPECT_EQ(ReadFile(dir / "router.cfg"), "hostname a\nip 1\neof\n");
}

TEST_F(ConvertNewlinesTest, Cp932SampleMatchesReference) {
    const fs::path data = QUELLIN_TEST_DATA;
    fs::copy_file(data / "ftp_config_crlf.txt", dir / "honsha.cfg");
    EXPECT_EQ(ConvertNewlines(PathOf("honsha.cfg")), 0);
    EXPECT_EQ(ReadFile(dir / "honsha.cfg"), ReadFile(data / "ftp_config_crlf_converted.txt"));
}

TEST_F(ConvertNewlinesTest, CrLfAcrossReadBlocks) {
    // Block boundaries fall at multiples of 64 KiB; put one between CR and LF
    // and another right after a CR.
    std::string input(65535, 'a');
    input += "\r\n";
    input += std::string(65536 - 2, 'b');
    input += "\r";
    input += "eof";
    std::string expected(65535, 'a');
    expected += "\n" + std::string(65536 - 2, 'b') + "\neof\n";
    WriteFile(dir / "big.cfg", input);
    EXPECT_EQ(ConvertNewlines(PathOf("big.cfg")), 0);
    EXPECT_EQ(ReadFile(dir / "big.cfg"), expected);
}

TEST_F(ConvertNewlinesTest, FilesNamedLikeTemporariesAreLeftAlone) {
    WriteFile(dir / "r.cfg", "a\r\n");
    WriteFile(dir / "r.cfg.tmp", std::string(10000, 'z'));
    WriteFile(dir / "other", "keep");
    fs::create_symlink(dir / "other", dir / "r.cfg.tmp1");
    EXPECT_EQ(ConvertNewlines(PathOf("r.cfg")), 0);
    EXPECT_EQ(ReadFile(dir / "r.cfg"), "a\neof\n");
    EXPECT_EQ(ReadFile(dir / "r.cfg.tmp"), std::string(10000, 'z'));
    EXPECT_EQ(ReadFile(dir / "other"), "keep");
    EXPECT_TRUE(fs::is_symlink(dir / "r.cfg.tmp1"));
    EXPECT_EQ(Names(), (std::vector<std::string>{"other", "r.cfg", "r.cfg.tmp", "r.cfg.tmp1"}));
}

// Devices sharing one configuration file may call Netprov at the same
// moment: every conversion succeeds and the file ends up whole.
TEST_F(ConvertNewlinesTest, ConcurrentConversionsOfOneFileAllSucceed) {
    std::string original;
    for (int i = 0; i < 20000; ++i)
        original += "interface lan" + std::to_string(i) + "\r\n";
    const std::string converted = ConvertNewlinesText(original);
    for (int round = 0; round < 5; ++round) {
        WriteFile(dir / "shared.cfg", original);
        constexpr int kConversions = 10;
        std::vector<Result<void>> results(kConversions, Error{});
        {
            std::vector<std::jthread> threads;
            for (int i = 0; i < kConversions; ++i) {
                threads.emplace_back(
                    [&, i] { results[i] = ConvertNewlinesInPlace(PathOf("shared.cfg")); });
            }
        }
        for (int i = 0; i < kConversions; ++i)
            EXPECT_TRUE(results[i]) << "round " << round << ": " << results[i].error().detail;
        EXPECT_TRUE(ReadFile(dir / "shared.cfg") == converted) << "round " << round;
        EXPECT_EQ(Names(), std::vector<std::string>{"shared.cfg"});
    }
}

TEST_F(ConvertNewlinesTest, KeepsPermissions) {
    WriteFile(dir / "r.cfg", "a\r\n");
    fs::permissions(dir / "r.cfg", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(ConvertNewlines(PathOf("r.cfg")), 0);
    EXPECT_EQ(fs::status(dir / "r.cfg").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(ConvertNewlinesTest, MissingFileFails) {
    EXPECT_EQ(ConvertNewlines(PathOf("absent.cfg")), -1);
    EXPECT_EQ(ConvertNewlinesInPlace(PathOf("absent.cfg")).error().code, ErrorCode::kNotFound);
    EXPECT_TRUE(Names().empty());
}

TEST_F(ConvertNewlinesTest, FolderIsNotReadable) {
    fs::create_directory(dir / "cfg");
    EXPECT_EQ(ConvertNewlinesInPlace(PathOf("cfg")).error(),
              (Error{ErrorCode::kIo, PathOf("cfg") + " is not a regular file"}));
    EXPECT_EQ(Names(), std::vector<std::string>{"cfg"});
}

// Out of descriptors right after opening the file: the converted text has
// nowhere to go.
TEST_F(ConvertNewlinesTest, TemporaryFileThatCannotBeCreatedLeavesFile) {
    WriteFile(dir / "r.cfg", "a\r\n");
    const std::string path = PathOf("r.cfg");
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int lowest = ::dup(0);
        ::close(lowest);
        rlimit limit{static_cast<rlim_t>(lowest + 1), static_cast<rlim_t>(lowest + 1)};
        ::setrlimit(RLIMIT_NOFILE, &limit);
        const Result<void> converted = ConvertNewlinesInPlace(path);
        ::_exit(!converted && converted.error() == SystemError(EMFILE,
                                                               "cannot create a temporary "
                                                               "file beside " +
                                                                   path)
                    ? 0
                    : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile(dir / "r.cfg"), "a\r\n");
    EXPECT_EQ(Names(), std::vector<std::string>{"r.cfg"});
}

// Root may write anywhere, so a full disk is imitated with a file-size limit
// in a child process.
TEST_F(ConvertNewlinesTest, WriteFailureLeavesFileAndNoTemporary) {
    const std::string original = std::string(20000, 'x') + "\r\n";
    WriteFile(dir / "r.cfg", original);
    const std::string path = PathOf("r.cfg");

    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const Result<void> converted = ConvertNewlinesInPlace(path);
        ::_exit(!converted && converted.error() ==
                                  SystemError(EFBIG, "cannot write the conversion of " + path)
                    ? 0
                    : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile(dir / "r.cfg"), original);
    EXPECT_EQ(Names(), std::vector<std::string>{"r.cfg"});
}

}  // namespace
}  // namespace quellin
