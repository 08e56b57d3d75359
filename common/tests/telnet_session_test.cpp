#include "telnet_session.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <limits>
#include <string>

#include "file_descriptor.h"
#include "socket_support.h"
#include "test_support.h"

namespace quellin {
namespace {

using namespace std::chrono_literals;

using testing::PeerConnection;
using testing::PrintTo;
using testing::RowName;
using testing::ScriptedPeer;
using testing::Sjis;

// --- A dialogue fed from memory ---------------------------------------------

// Hands out the scripted bytes in chunks, then reports how the line ends.
class MemoryChannel final : public TelnetChannel {
public:
    enum class End { kTimeout, kClose, kError };

    explicit MemoryChannel(std::string input, std::size_t chunk = 4096)
        : input_(std::move(input)), chunk_(chunk) {}

    End end = End::kTimeout;
    int endError = ECONNRESET;
    // Writes take at most this many bytes; -1 makes them fail with EPIPE.
    std::ptrdiff_t writeLimit = std::numeric_limits<std::ptrdiff_t>::max();
    // This write (counted from 1) fails with EPIPE; 0 for none.
    int failingWrite = 0;
    std::string written;

    ReadResult Read(std::span<char> buffer, std::chrono::milliseconds) override {
        if (position_ == input_.size()) {
            if (end == End::kClose)
                return {Status::kClosed};
            if (end == End::kError)
                return {Status::kError, 0, endError};
            return {Status::kTimeout};
        }
        std::size_t count = std::min({chunk_, buffer.size(), input_.size() - position_});
        std::memcpy(buffer.data(), input_.data() + position_, count);
        position_ += count;
        return {Status::kData, count};
    }

    WriteResult Write(std::string_view bytes) override {
        if (writeLimit < 0 || ++writes_ == failingWrite)
            return {-1, EPIPE};
        std::size_t count = std::min(bytes.size(), static_cast<std::size_t>(writeLimit));
        written.append(bytes.substr(0, count));
        return {static_cast<std::ptrdiff_t>(count)};
    }

private:
    std::string input_;
    std::size_t chunk_;
    std::size_t position_ = 0;
    int writes_ = 0;
};

constexpr char kIac = '\xff';
constexpr char kWill = '\xfb';
constexpr char kWont = '\xfc';
constexpr char kDo = '\xfd';
constexpr char kDont = '\xfe';

std::string Bytes(std::initializer_list<char> bytes) {
    return std::string(bytes);
}

struct NegotiationCase {
    const char* name;
    std::string input;
    std::string expectedReply;
    std::string expectedText;
};

class TelnetNegotiation : public ::testing::TestWithParam<NegotiationCase> {};

TEST_P(TelnetNegotiation, RefusesWhatIsAskedAndHidesTheCommands) {
    const NegotiationCase& row = GetParam();
    // One-byte chunks as well, so that a command split over reads is handled.
    for (std::size_t chunk : {std::size_t{1}, std::size_t{4096}}) {
        MemoryChannel channel(row.input + "Login:", chunk);
        TelnetDialogue dialogue(channel, 0ms, chunk);
        std::string received;
        EXPECT_EQ(dialogue.WaitForText("Login:", received), TelnetEvent::kTextReceived);
        EXPECT_EQ(received, row.expectedText + "Login:") << "chunk " << chunk;
        EXPECT_EQ(channel.written, row.expectedReply) << "chunk " << chunk;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, TelnetNegotiation,
    ::testing::Values(
        NegotiationCase{"DoEcho", Bytes({kIac, kDo, 1}), Bytes({kIac, kWont, 1}), ""},
        NegotiationCase{"WillEcho", Bytes({kIac, kWill, 1}), "", ""},
        NegotiationCase{"WontEcho", Bytes({kIac, kWont, 1}), "", ""},
        NegotiationCase{"DontEcho", Bytes({kIac, kDont, 1}), "", ""},
        NegotiationCase{"DoTwoOptions", Bytes({kIac, kDo, 24, kIac, kDo, 31}),
                        Bytes({kIac, kWont, 24, kIac, kWont, 31}), ""},
        NegotiationCase{"WillAndDoMixed", Bytes({kIac, kWill, 3, kIac, kDo, 1, kIac, kWill, 1}),
                        Bytes({kIac, kWont, 1}), ""},
        NegotiationCase{"OptionByteIsAnIac", Bytes({kIac, kDo, kIac}), Bytes({kIac, kWont, kIac}),
                        ""},
        NegotiationCase{"DoubledIacIsDropped", "a" + Bytes({kIac, kIac}) + "b", "", "ab"},
        NegotiationCase{"OtherCommandIsDropped", "a" + Bytes({kIac, '\xf1'}) + "b", "", "ab"},
        NegotiationCase{"TextAroundNegotiation", "\r\nTarn" + Bytes({kIac, kDo, 1}) + "\r\n",
                        Bytes({kIac, kWont, 1}), "\r\nTarn\r\n"}),
    RowName());

TEST(TelnetDialogueTest, MismatchRestartsTheMatchWithoutRetryingTheByte) {
    // "## " never matches "# ": the second '#' only resets the match.
    MemoryChannel channel("Tarn## ");
    TelnetDialogue dialogue(channel, 0ms);
    std::string received;
    EXPECT_EQ(dialogue.WaitForText("# ", received), TelnetEvent::kTimeout);
    EXPECT_EQ(received, "Tarn## ");
}

TEST(TelnetDialogueTest, WaitStopsRightAfterTheText) {
    MemoryChannel channel("Login: rest");
    TelnetDialogue dialogue(channel, 0ms);
    std::string received;
    ASSERT_EQ(dialogue.WaitForText("Login:", received), TelnetEvent::kTextReceived);
    EXPECT_EQ(received, "Login:");
    received.clear();
    EXPECT_EQ(dialogue.WaitForText("rest", received), TelnetEvent::kTextReceived);
    EXPECT_EQ(received, " rest");
}

struct LimitCase {
    const char* name;
    std::size_t length;  // bytes up to and including the awaited text or CR LF
    TelnetEvent expected;
};

class TelnetWaitLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(TelnetWaitLimit, CountsEveryReceivedByte) {
    const LimitCase& row = GetParam();
    MemoryChannel channel(std::string(row.length - 6, 'x') + "Login:", 65536);
    TelnetDialogue dialogue(channel, 0ms);
    std::string received;
    EXPECT_EQ(dialogue.WaitForText("Login:", received), row.expected);
    EXPECT_EQ(received.size(), std::min(row.length, kTelnetReceiveLimit));
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, TelnetWaitLimit,
    ::testing::Values(LimitCase{"OneBelow", kTelnetReceiveLimit - 1, TelnetEvent::kTextReceived},
                      LimitCase{"AtLimit", kTelnetReceiveLimit, TelnetEvent::kTextReceived},
                      LimitCase{"OneAbove", kTelnetReceiveLimit + 1, TelnetEvent::kTooLong}),
    RowName());

class TelnetLineLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(TelnetLineLimit, CountsEveryByteOfTheLine) {
    const LimitCase& row = GetParam();
    MemoryChannel channel(std::string(row.length - 2, 'x') + "\r\n", 65536);
    TelnetDialogue dialogue(channel, 0ms);
    EXPECT_EQ(dialogue.ReceiveLine(), row.expected);
    EXPECT_EQ(dialogue.currentLine().size(), std::min(row.length, kTelnetReceiveLimit));
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, TelnetLineLimit,
    ::testing::Values(LimitCase{"OneBelow", kTelnetReceiveLimit - 1, TelnetEvent::kLineReceived},
                      LimitCase{"AtLimit", kTelnetReceiveLimit, TelnetEvent::kLineReceived},
                      LimitCase{"OneAbove", kTelnetReceiveLimit + 1, TelnetEvent::kTooLong}),
    RowName());

struct LineCase {
    const char* name;
    std::string input;
    TelnetEvent expected;
    std::string line;
};

class TelnetReceiveLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(TelnetReceiveLine, EndsAtCrLfOrAtAPromptFollowedBySilence) {
    const LineCase& row = GetParam();
    MemoryChannel channel(row.input);
    TelnetDialogue dialogue(channel, 0ms);
    EXPECT_EQ(dialogue.ReceiveLine(), row.expected);
    EXPECT_EQ(dialogue.currentLine(), row.line);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TelnetReceiveLine,
    ::testing::Values(LineCase{"CrLf", "abc\r\ndef", TelnetEvent::kLineReceived, "abc\r\n"},
                      LineCase{"EmptyLine", "\r\n", TelnetEvent::kLineReceived, "\r\n"},
                      LineCase{"BareLfDoesNotEnd", "abc\ndef# ", TelnetEvent::kPromptReceived,
                               "abc\ndef# "},
                      LineCase{"CrNulBecomesCrLf", std::string("abc\r\0", 5),
                               TelnetEvent::kLineReceived, "abc\r\n"},
                      LineCase{"CrNulAtLineStartStays", std::string("\r\0# ", 4),
                               TelnetEvent::kPromptReceived, std::string("\r\0# ", 4)},
                      LineCase{"NulElsewhereStays", std::string("a\0b\r\n", 5),
                               TelnetEvent::kLineReceived, std::string("a\0b\r\n", 5)},
                      LineCase{"PromptAlone", "# ", TelnetEvent::kPromptReceived, "# "},
                      LineCase{"NamedPrompt", "Tarn# ", TelnetEvent::kPromptReceived, "Tarn# "},
                      LineCase{"HashWithoutSpace", "Tarn#", TelnetEvent::kTimeout, "Tarn#"},
                      LineCase{"SpaceAfterPrompt", "Tarn#  ", TelnetEvent::kTimeout, "Tarn#  "},
                      LineCase{"Nothing", "", TelnetEvent::kTimeout, ""}),
    RowName());

TEST(TelnetDialogueTest, ResponseCollectsLinesAndThePromptOverCommands) {
    MemoryChannel channel("cmd\r\nline 1\r\nline 2\r\nTarn# ");
    TelnetDialogue dialogue(channel, 0ms);
    EXPECT_EQ(dialogue.ReceiveResponse(), TelnetEvent::kPromptReceived);
    EXPECT_EQ(dialogue.output(), "cmd\r\nline 1\r\nline 2\r\nTarn# ");
}

TEST(TelnetDialogueTest, PeerCloseClearsConnected) {
    MemoryChannel channel("partial");
    channel.end = MemoryChannel::End::kClose;
    TelnetDialogue dialogue(channel, 0ms);
    EXPECT_TRUE(dialogue.connected());
    EXPECT_EQ(dialogue.ReceiveLine(), TelnetEvent::kClosedByPeer);
    EXPECT_FALSE(dialogue.connected());
}

TEST(TelnetDialogueTest, ReceiveErrorCarriesItsErrno) {
    MemoryChannel channel("");
    channel.end = MemoryChannel::End::kError;
    TelnetDialogue dialogue(channel, 0ms);
    EXPECT_FALSE(dialogue.LogIn("user", "pw"));
    ASSERT_TRUE(dialogue.failure());
    EXPECT_EQ(*dialogue.failure(),
              (TelnetFailure{TelnetPhase::kWaitingForLoginPrompt, TelnetEvent::kSocketError,
                             std::string(), ECONNRESET}));
    EXPECT_TRUE(dialogue.connected());
}

TEST(TelnetDialogueTest, ShortSendOfTheUserIsAFailure) {
    MemoryChannel channel("Login:");
    channel.writeLimit = 3;
    TelnetDialogue dialogue(channel, 0ms);
    EXPECT_FALSE(dialogue.LogIn("admin", "pw"));
    ASSERT_TRUE(dialogue.failure());
    EXPECT_EQ(*dialogue.failure(),
              (TelnetFailure{TelnetPhase::kSendingUser, TelnetEvent::kSendFailed,
                             "admin" + Sjis(" 送信失敗"), 0}));
}

TEST(TelnetDialogueTest, FailedSendOfTheRefusalEndsTheWait) {
    MemoryChannel channel(Bytes({kIac, kDo, 1}) + "Login:");
    channel.writeLimit = -1;
    TelnetDialogue dialogue(channel, 0ms);
    std::string received;
    EXPECT_EQ(dialogue.WaitForText("Login:", received), TelnetEvent::kSocketError);
    MemoryChannel shortChannel(Bytes({kIac, kDo, 1}) + "Login:");
    shortChannel.writeLimit = 2;
    TelnetDialogue shortDialogue(shortChannel, 0ms);
    EXPECT_EQ(shortDialogue.WaitForText("Login:", received), TelnetEvent::kSendFailed);
}

TEST(TelnetDialogueTest, FailedSendOfThePasswordNamesIt) {
    MemoryChannel channel("Login:Password:");
    channel.failingWrite = 2;  // the user line goes through
    TelnetDialogue dialogue(channel, 0ms);
    EXPECT_FALSE(dialogue.LogIn("admin", "secret"));
    ASSERT_TRUE(dialogue.failure());
    EXPECT_EQ(*dialogue.failure(),
              (TelnetFailure{TelnetPhase::kSendingPassword, TelnetEvent::kSocketError,
                             "secret" + Sjis(" 送信"), EPIPE}));
    EXPECT_EQ(channel.written, "admin\r\n");
}

// --- Failure texts ----------------------------------------------------------

struct FormatCase {
    const char* name;
    TelnetPhase phase;
    TelnetEvent event;
    const char* detail;  // nullptr: none
    int systemError;
    std::string expected;
};

class TelnetFailureText : public ::testing::TestWithParam<FormatCase> {};

TEST_P(TelnetFailureText, JoinsPhaseEventDetailAndSystemError) {
    const FormatCase& row = GetParam();
    TelnetFailure failure{row.phase, row.event, std::nullopt, row.systemError};
    if (row.detail != nullptr)
        failure.detail = row.detail;
    EXPECT_EQ(FormatTelnetFailure(failure), row.expected);
}

std::string SystemErrorText(int code) {
    return ":GerLastError=" + std::to_string(code) + "(" + std::strerror(code) + ")";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TelnetFailureText,
    ::testing::Values(
        FormatCase{"WithoutDetail", TelnetPhase::kRunningCommand, TelnetEvent::kTimeout, nullptr, 0,
                   Sjis("コマンド実行:受信タイムアウト")},
        FormatCase{"EmptyDetailKeepsItsColon", TelnetPhase::kWaitingForLoginPrompt,
                   TelnetEvent::kTimeout, "", 0, Sjis("ログインプロンプト待ち:受信タイムアウト:")},
        FormatCase{"SystemError", TelnetPhase::kSendingPassword, TelnetEvent::kSocketError, "x",
                   EPIPE, Sjis("パスワード送信:ソケットエラー発生:x") + SystemErrorText(EPIPE)},
        FormatCase{"ClosedByPeerSharesTheSocketErrorName", TelnetPhase::kRunningCommand,
                   TelnetEvent::kClosedByPeer, "", 0, Sjis("コマンド実行:ソケットエラー発生:")},
        FormatCase{
            "ThreadFailure", TelnetPhase::kWaitingForThread, TelnetEvent::kSocketError, nullptr,
            EAGAIN,
            Sjis("スレッド処理待ち :スレッド処理失敗(WAIT_FAILED)") + SystemErrorText(EAGAIN)},
        FormatCase{"ShortSend", TelnetPhase::kSendingUser, TelnetEvent::kSendFailed, "u", 0,
                   Sjis("ユーザー名送信:送信失敗:u")},
        FormatCase{"TooLong", TelnetPhase::kRunningDisconnectingCommand, TelnetEvent::kTooLong, "",
                   0, Sjis("相手から切断されるコマンド実行:受信メッセージサイズオーバー:")},
        FormatCase{"UnknownNumbers", static_cast<TelnetPhase>(10), static_cast<TelnetEvent>(-1),
                   "d", 0, Sjis("不明:不明:d")}),
    RowName());

// --- Sessions against a scripted router on loopback --------------------------

// Long enough that a busy machine does not make a router look silent.
constexpr auto kReceiveTimeout = 1000ms;

TelnetOptions OptionsFor(std::uint16_t port) {
    TelnetOptions options;
    options.port = port;
    options.receiveTimeout = kReceiveTimeout;
    options.initialSleep = 0ms;
    return options;
}

const std::string kShowSystem = "show system information";
const std::string kSystemResponse = kShowSystem +
                                    "\r\nSystem : Tarn-90\r\nFirm Ver. : V10.02 \r\n"
                                    "Startup-config : Thu Jan 26 13:08:04 2006 config1\r\nTarn# ";

// Login as routers do it, with a space after each prompt.
void ServeLogin(PeerConnection& c) {
    c.Send("\r\nLogin: ");
    c.ReadUntil("\r\n");
    c.Send("Password: ");
    c.ReadUntil("\r\n");
    c.Send("\r\nTarn# ");
}

// Answers one command with `response`, then "exit" by hanging up.
std::function<void(PeerConnection&)> Router(std::string response) {
    return [response](PeerConnection& c) {
        ServeLogin(c);
        c.ReadUntil("\r\n");
        c.Send(response);
        c.ReadUntil("exit\r\n");
        c.Send("exit\r\n");
    };
}

TEST(TelnetSessionTest, RunsTheWholeDialogueAndDeliversTheOutput) {
    ScriptedPeer peer(Router(kSystemResponse));
    CTelnetSession session(OptionsFor(peer.port()));
    CommandOutput output;
    EXPECT_EQ(session.RunCommand("127.0.0.1", "admin", "secret", kShowSystem, &output), 0);
    EXPECT_EQ(output.text, kSystemResponse + "exit\r\n");
    EXPECT_EQ(session.LastError(), "");
    EXPECT_EQ(peer.Finish(), "admin\r\nsecret\r\nshow system information\r\nexit\r\n");
}

TEST(TelnetSessionTest, SuppressedOrMissingOutputIsNotDelivered) {
    {
        ScriptedPeer peer(Router(kSystemResponse));
        CTelnetSession session(OptionsFor(peer.port()));
        CommandOutput output{1, "untouched"};
        EXPECT_EQ(session.RunCommand("127.0.0.1", "admin", "secret", kShowSystem, &output), 0);
        EXPECT_EQ(output.text, "untouched");
    }
    {
        ScriptedPeer peer(Router(kSystemResponse));
        CTelnetSession session(OptionsFor(peer.port()));
        EXPECT_EQ(session.RunCommand("127.0.0.1", "admin", "secret", kShowSystem, nullptr), 0);
    }
}

TEST(TelnetSessionTest, RefusesOptionsOnTheWire) {
    ScriptedPeer peer([](PeerConnection& c) {
        c.Send(Bytes({kIac, kDo, 1, kIac, kWill, 1, kIac, kWill, 3}) + "Login:");
        c.ReadUntil("\r\n");
        // The password goes out as soon as the prompt is in; the request
        // behind it is refused during the next wait.
        c.Send("Password:" + Bytes({kIac, kDo, 31}));
        c.ReadUntil("\r\n");
        c.Send("# ");
        c.ReadUntil("\r\n");
        c.Send("cmd\r\nok\r\n# ");
        c.ReadUntil("exit\r\n");
    });
    CTelnetSession session(OptionsFor(peer.port()));
    CommandOutput output;
    EXPECT_EQ(session.RunCommand("127.0.0.1", "u", "p", "cmd", &output), 0);
    EXPECT_EQ(output.text, "cmd\r\nok\r\n# ");
    EXPECT_EQ(peer.Finish(), Bytes({kIac, kWont, 1}) + "u\r\np\r\n" + Bytes({kIac, kWont, 31}) +
                                 "cmd\r\nexit\r\n");
}

TEST(TelnetSessionTest, SpaceAfterLoginIsReadByTheNextWait) {
    // The user name goes out as soon as the colon is in; the space then
    // shows up as all the password wait received.
    ScriptedPeer peer([](PeerConnection& c) {
        c.Send("Login: ");
        c.ReadUntil("\r\n");
        c.WaitForHangUp();
    });
    {
        CTelnetSession session(OptionsFor(peer.port()));
        EXPECT_EQ(session.RunCommand("127.0.0.1", "admin", "", kShowSystem, nullptr), -1);
        EXPECT_EQ(session.LastError(), Sjis("パスワードプロンプト待ち:受信タイムアウト: "));
    }
    EXPECT_EQ(peer.Finish(), "admin\r\n");
}

TEST(TelnetSessionTest, DoubledHashIsNotTheLoginPrompt) {
    ScriptedPeer peer([](PeerConnection& c) {
        c.Send("Login:");
        c.ReadUntil("\r\n");
        c.Send("Password:");
        c.ReadUntil("\r\n");
        c.Send("\r\nTarn## ");
        c.WaitForHangUp();
    });
    {
        CTelnetSession session(OptionsFor(peer.port()));
        EXPECT_EQ(session.RunCommand("127.0.0.1", "admin", "pw", kShowSystem, nullptr), -1);
        EXPECT_EQ(session.LastError(), Sjis("ログイン完了待ち:受信タイムアウト:\r\nTarn## "));
    }
    EXPECT_EQ(peer.Finish(), "admin\r\npw\r\n");
}

TEST(TelnetSessionTest, SilentRouterFailsWhileWaitingForLogin) {
    ScriptedPeer peer([](PeerConnection& c) { c.WaitForHangUp(); });
    {
        CTelnetSession session(OptionsFor(peer.port()));
        EXPECT_EQ(session.RunCommand("127.0.0.1", "admin", "pw", kShowSystem, nullptr), -1);
        EXPECT_EQ(session.LastError(), Sjis("ログインプロンプト待ち:受信タイムアウト:"));
        ASSERT_TRUE(session.LastFailure());
        EXPECT_EQ(session.LastFailure()->event, TelnetEvent::kTimeout);
    }
    EXPECT_EQ(peer.Finish(), "");
}

TEST(TelnetSessionTest, TimeoutDetailIsWhatTheRouterSaidSoFar) {
    ScriptedPeer peer([](PeerConnection& c) {
        c.Send("Welcome to Tarn\r\n");
        c.WaitForHangUp();
    });
    CTelnetSession session(OptionsFor(peer.port()));
    EXPECT_EQ(session.RunCommand("127.0.0.1", "admin", "pw", kShowSystem, nullptr), -1);
    EXPECT_EQ(session.LastError(),
              Sjis("ログインプロンプト待ち:受信タイムアウト:Welcome to Tarn\r\n"));
}

TEST(TelnetSessionTest, RefusedConnectionNamesTheSystemError) {
    // A bound socket that does not listen: connections to its port are
    // refused, and no other program can take the port meanwhile.
    UniqueFd holder = testing::BindOnLoopback(SOCK_STREAM);
    const std::uint16_t port = testing::BoundPort(holder.get());
    ASSERT_NE(port, 0);

    CTelnetSession session(OptionsFor(port));
    EXPECT_EQ(session.RunCommand("127.0.0.1", "admin", "pw", kShowSystem, nullptr), -1);
    EXPECT_EQ(session.LastError(),
              Sjis("ソケット作成中:ソケットエラー発生:接続失敗:GerLastError=") +
                  std::to_string(ECONNREFUSED) + "(" + std::strerror(ECONNREFUSED) + ")");
}

struct AddressCase {
    const char* name;
    std::string address;
};

class TelnetBadAddress : public ::testing::TestWithParam<AddressCase> {};

TEST_P(TelnetBadAddress, FailsBeforeConnecting) {
    CTelnetSession session(OptionsFor(9));
    EXPECT_EQ(session.RunCommand(GetParam().address, "admin", "pw", kShowSystem, nullptr), -1);
    EXPECT_EQ(session.LastError(), Sjis("ソケット作成中:ソケットエラー発生:アドレス(") +
                                       GetParam().address + Sjis(")が不正"));
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, TelnetBadAddress,
    ::testing::Values(AddressCase{"HostName", "localhost"},
                      AddressCase{"QualifiedName", "router.example.com"},
                      AddressCase{"Broadcast", "255.255.255.255"}, AddressCase{"Empty", ""},
                      AddressCase{"OctetTooLarge", "192.168.1.256"},
                      AddressCase{"EmbeddedNul", std::string("127.0.0.1\0x", 11)}),
    RowName());

struct DisconnectCase {
    const char* name;
    std::string command;
    int expected;
};

class TelnetDisconnect : public ::testing::TestWithParam<DisconnectCase> {};

TEST_P(TelnetDisconnect, HangUpCountsAsSuccessOnlyAfterResetOrExit) {
    const DisconnectCase& row = GetParam();
    ScriptedPeer peer([](PeerConnection& c) {
        ServeLogin(c);
        c.ReadUntil("\r\n");
        c.Send("restarting\r\n");
    });
    CTelnetSession session(OptionsFor(peer.port()));
    CommandOutput output;
    EXPECT_EQ(session.RunCommand("127.0.0.1", "admin", "pw", row.command, &output), row.expected);
    if (row.expected == 0) {
        EXPECT_EQ(output.text, "restarting\r\n");
        EXPECT_EQ(session.LastError(), "");
        // Nothing is sent after the hang-up: no "exit".
        EXPECT_EQ(peer.Finish(), "admin\r\npw\r\n" + row.command + "\r\n");
    } else {
        EXPECT_EQ(session.LastError(), Sjis("コマンド実行:ソケットエラー発生:restarting\r\n"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, TelnetDisconnect,
    ::testing::Values(DisconnectCase{"ResetNow", "reset config1", 0},
                      DisconnectCase{"ScheduledReset",
                                     "addact 0 2401011200 reset config2\r\nenable", 0},
                      DisconnectCase{"Exit", "exit", 0},
                      DisconnectCase{"ResetInsideAWord", "noresetx", 0},
                      DisconnectCase{"ShowSystemInformation", "show system information", -1},
                      DisconnectCase{"UpperCaseReset", "RESET config1", -1}),
    RowName());

TEST(TelnetSessionTest, MultiLineCommandGoesOutAsOneBlock) {
    const std::string command = "configure\r\naddact 0 2401011200 reset config2\r\ncommit\r\nexit";
    ScriptedPeer peer([&](PeerConnection& c) {
        ServeLogin(c);
        c.ReadUntil("commit\r\nexit\r\n");
        c.Send(
            "configure\r\nTarn(config)# addact 0 2401011200 reset config2\r\n"
            "Tarn(config)# commit\r\nTarn(config)# exit\r\nTarn# ");
        c.ReadUntil("exit\r\n");
    });
    CTelnetSession session(OptionsFor(peer.port()));
    CommandOutput output;
    EXPECT_EQ(session.RunCommand("127.0.0.1", "admin", "pw", command, &output), 0);
    EXPECT_EQ(output.text,
              "configure\r\nTarn(config)# addact 0 2401011200 reset config2\r\n"
              "Tarn(config)# commit\r\nTarn(config)# exit\r\nTarn# ");
    EXPECT_EQ(peer.Finish(), "admin\r\npw\r\n" + command + "\r\nexit\r\n");
}

TEST(TelnetSessionTest, EmptyUserAndPasswordAreEmptyLines) {
    ScriptedPeer peer(Router("cmd\r\n# "));
    CTelnetSession session(OptionsFor(peer.port()));
    EXPECT_EQ(session.RunCommand("127.0.0.1", "", "", "cmd", nullptr), 0);
    EXPECT_EQ(peer.Finish(), "\r\n\r\ncmd\r\nexit\r\n");
}

TEST(TelnetSessionTest, UnansweredExitDoesNotUndoTheCommand) {
    ScriptedPeer peer([](PeerConnection& c) {
        ServeLogin(c);
        c.ReadUntil("\r\n");
        c.Send("cmd\r\n# ");
        c.ReadUntil("exit\r\n");
        c.WaitForHangUp();
    });
    CTelnetSession session(OptionsFor(peer.port()));
    CommandOutput output;
    EXPECT_EQ(session.RunCommand("127.0.0.1", "admin", "pw", "cmd", &output), 0);
    EXPECT_EQ(output.text, "cmd\r\n# ");
    // The failed "exit" is still on record.
    EXPECT_EQ(session.LastError(),
              Sjis("相手から切断されるコマンド実行:受信タイムアウト:cmd\r\n# "));
}

TEST(TelnetSessionTest, CrNulFromTheRouterIsDeliveredAsCrLf) {
    ScriptedPeer peer(Router(std::string("cmd\r\0line\r\0# ", 13)));
    CTelnetSession session(OptionsFor(peer.port()));
    CommandOutput output;
    EXPECT_EQ(session.RunCommand("127.0.0.1", "admin", "pw", "cmd", &output), 0);
    EXPECT_EQ(output.text, "cmd\r\nline\r\n# exit\r\n");
}

TEST(TelnetSessionTest, ResponseWithoutPromptFailsWithItsOutput) {
    ScriptedPeer peer([](PeerConnection& c) {
        ServeLogin(c);
        c.ReadUntil("\r\n");
        c.Send("cmd\r\n% Invalid input\r\nTarn>");
        c.WaitForHangUp();
    });
    CTelnetSession session(OptionsFor(peer.port()));
    CommandOutput output{0, "untouched"};
    EXPECT_EQ(session.RunCommand("127.0.0.1", "admin", "pw", "cmd", &output), -1);
    EXPECT_EQ(output.text, "untouched");
    EXPECT_EQ(session.LastError(),
              Sjis("コマンド実行:受信タイムアウト:cmd\r\n% Invalid input\r\n"));
}

}  // namespace
}  // namespace quellin
