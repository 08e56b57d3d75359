#include "telnet_session.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "file_descriptor.h"
#include "socket_support.h"
#include "test_support.h"

namespace quellin {

void PrintTo(const TelnetFailure& failure, std::ostream* os) {
    *os << "{phase " << static_cast<int>(failure.phase) << ", event "
        << static_cast<int>(failure.event) << ", detail "
        << (failure.detail ? ::testing::PrintToString(*failure.detail) : "none") << ", errno "
        << failure.systemError << "}";
}

namespace {

using namespace std::chrono_literals;

using testing::PeerConnection;
using testing::PrintTo;
using testing::RowName;
using testing::ScriptedPeer;
using testing::Sjis;

// --- A dialogue fed from memory ---------------------------------------------

// Hands out the scripted bytes in chunks, with a silence between bursts,
// then reports how the line ends.  Time is its own: a read that delivers
// takes `readTime`, a wait for bytes that do not come takes the whole
// time-out.
class MemoryChannel final : public TelnetChannel {
public:
    enum class End { kTimeout, kClose, kError };

    explicit MemoryChannel(std::string input, std::size_t chunk = 4096)
        : input_(std::move(input)), chunk_(chunk) {}
    MemoryChannel(const std::vector<std::string>& bursts, std::size_t chunk) : chunk_(chunk) {
        for (const std::string& burst : bursts) {
            if (!input_.empty())
                pauses_.push_back(input_.size());
            input_ += burst;
        }
    }

    End end = End::kTimeout;
    int endError = ECONNRESET;
    // Writes take at most this many bytes; -1 makes them fail with EPIPE.
    std::ptrdiff_t writeLimit = std::numeric_limits<std::ptrdiff_t>::max();
    // This write (counted from 1) fails with EPIPE; 0 for none.
    int failingWrite = 0;
    std::chrono::milliseconds readTime{0};
    std::string written;
    std::size_t delivered = 0;

    ReadResult Read(std::span<char> buffer, std::chrono::milliseconds timeout) override {
        std::size_t available = input_.size() - position_;
        if (pause_ < pauses_.size()) {
            if (pauses_[pause_] == position_) {
                ++pause_;
                now_ += timeout;
                return {Status::kTimeout};
            }
            available = pauses_[pause_] - position_;
        }
        if (available == 0) {
            if (end == End::kClose)
                return {Status::kClosed};
            if (end == End::kError)
                return {Status::kError, 0, endError};
            now_ += timeout;
            return {Status::kTimeout};
        }
        now_ += readTime;
        std::size_t count = std::min({chunk_, buffer.size(), available});
        std::memcpy(buffer.data(), input_.data() + position_, count);
        position_ += count;
        delivered += count;
        return {Status::kData, count};
    }

    WriteResult Write(std::string_view bytes) override {
        if (writeLimit < 0 || ++writes_ == failingWrite)
            return {-1, EPIPE};
        std::size_t count = std::min(bytes.size(), static_cast<std::size_t>(writeLimit));
        written.append(bytes.substr(0, count));
        return {static_cast<std::ptrdiff_t>(count)};
    }

    std::chrono::steady_clock::time_point Now() const override {
        return std::chrono::steady_clock::time_point(now_);
    }

private:
    std::string input_;
    std::size_t chunk_;
    std::size_t position_ = 0;
    std::vector<std::size_t> pauses_;
    std::size_t pause_ = 0;
    int writes_ = 0;
    std::chrono::milliseconds now_{0};
};

constexpr char kIac = '\xff';
constexpr char kWill = '\xfb';
constexpr char kWont = '\xfc';
constexpr char kDo = '\xfd';
constexpr char kDont = '\xfe';

std::string Bytes(std::initializer_list<char> bytes) {
    return std::string(bytes);
}

// A router that prompts at once and takes any login.
const std::string kLoggedIn = "Login:Password:\r\nTarn# ";

// Options of a dialogue fed from memory: no real waits.
TelnetOptions MemoryOptions(std::size_t receiveChunk = kTelnetReceiveChunk) {
    TelnetOptions options;
    options.receiveTimeout = 0ms;
    options.receiveChunk = receiveChunk;
    return options;
}

TelnetFailure Failure(TelnetPhase phase, TelnetEvent event, std::string detail,
                      int systemError = 0) {
    return TelnetFailure{phase, event, std::move(detail), systemError};
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
        SCOPED_TRACE(chunk);
        // What the router said before falling silent is the failure's detail.
        MemoryChannel silent(row.input, chunk);
        TelnetDialogue waiting(silent, MemoryOptions(chunk));
        EXPECT_FALSE(waiting.LogIn("u", "p"));
        EXPECT_EQ(waiting.failure(), Failure(TelnetPhase::kWaitingForLoginPrompt,
                                             TelnetEvent::kTimeout, row.expectedText));
        EXPECT_EQ(silent.written, row.expectedReply);

        // Negotiation before the prompt does not hide the prompt.
        MemoryChannel channel(row.input + kLoggedIn, chunk);
        TelnetDialogue dialogue(channel, MemoryOptions(chunk));
        EXPECT_TRUE(dialogue.LogIn("u", "p"));
        EXPECT_EQ(channel.written, row.expectedReply + "u\r\np\r\n");
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
    MemoryChannel channel("Login:Password:\r\nTarn## ");
    TelnetDialogue dialogue(channel, MemoryOptions());
    EXPECT_FALSE(dialogue.LogIn("u", "p"));
    EXPECT_EQ(dialogue.failure(),
              Failure(TelnetPhase::kWaitingForLoggedIn, TelnetEvent::kTimeout, "\r\nTarn## "));
}

TEST(TelnetDialogueTest, WaitStopsRightAfterTheText) {
    // The user goes out as soon as the colon is in; the space after it is
    // the first thing the password wait sees.
    MemoryChannel channel("Login: rest");
    TelnetDialogue dialogue(channel, MemoryOptions());
    EXPECT_FALSE(dialogue.LogIn("admin", "pw"));
    EXPECT_EQ(dialogue.failure(),
              Failure(TelnetPhase::kWaitingForPasswordPrompt, TelnetEvent::kTimeout, " rest"));
    EXPECT_EQ(channel.written, "admin\r\n");
}

struct LimitCase {
    const char* name;
    std::size_t length;  // bytes up to and including the awaited text or CR LF
    bool fits;
};

const auto kLimitRows = ::testing::Values(LimitCase{"OneBelow", kTelnetReceiveLimit - 1, true},
                                          LimitCase{"AtLimit", kTelnetReceiveLimit, true},
                                          LimitCase{"OneAbove", kTelnetReceiveLimit + 1, false});

class TelnetWaitLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(TelnetWaitLimit, CountsEveryReceivedByte) {
    const LimitCase& row = GetParam();
    MemoryChannel channel(std::string(row.length - 6, 'x') + "Login:", 65536);
    TelnetDialogue dialogue(channel, MemoryOptions());
    EXPECT_FALSE(dialogue.LogIn("u", "p"));
    ASSERT_TRUE(dialogue.failure());
    if (row.fits) {
        EXPECT_EQ(dialogue.failure(),
                  Failure(TelnetPhase::kWaitingForPasswordPrompt, TelnetEvent::kTimeout, ""));
    } else {
        // Only the end of the text goes into the description.
        EXPECT_EQ(dialogue.failure(),
                  Failure(TelnetPhase::kWaitingForLoginPrompt, TelnetEvent::kTooLong,
                          std::string(kTelnetFailureDetailLimit - 5, 'x') + "Login"));
    }
}

INSTANTIATE_TEST_SUITE_P(Bytes, TelnetWaitLimit, kLimitRows, RowName());

class TelnetLineLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(TelnetLineLimit, CountsEveryByteOfTheLine) {
    const LimitCase& row = GetParam();
    MemoryChannel channel(kLoggedIn + std::string(row.length - 2, 'x') + "\r\nTarn# ", 65536);
    TelnetDialogue dialogue(channel, MemoryOptions());
    ASSERT_TRUE(dialogue.LogIn("u", "p"));
    EXPECT_EQ(dialogue.SendCommand("cmd"), row.fits);
    if (row.fits) {
        EXPECT_EQ(dialogue.output().size(), row.length + 6);
    } else {
        EXPECT_EQ(dialogue.failure(),
                  Failure(TelnetPhase::kRunningCommand, TelnetEvent::kTooLong, ""));
        EXPECT_EQ(dialogue.output(), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Bytes, TelnetLineLimit, kLimitRows, RowName());

struct ResponseCase {
    const char* name;
    std::string response;
    bool ok;
    std::string output;
};

class TelnetResponse : public ::testing::TestWithParam<ResponseCase> {};

TEST_P(TelnetResponse, EndsAtAPromptFollowedBySilence) {
    const ResponseCase& row = GetParam();
    MemoryChannel channel(kLoggedIn + row.response);
    TelnetDialogue dialogue(channel, MemoryOptions());
    ASSERT_TRUE(dialogue.LogIn("u", "p"));
    EXPECT_EQ(dialogue.SendCommand("cmd"), row.ok);
    EXPECT_EQ(dialogue.output(), row.output);
    if (!row.ok) {
        // The unfinished line is not part of the output.
        EXPECT_EQ(dialogue.failure(),
                  Failure(TelnetPhase::kRunningCommand, TelnetEvent::kTimeout, row.output));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TelnetResponse,
    ::testing::Values(ResponseCase{"Lines", "abc\r\n\r\ndef# ", true, "abc\r\n\r\ndef# "},
                      ResponseCase{"BareLfDoesNotEnd", "abc\ndef# ", true, "abc\ndef# "},
                      ResponseCase{"CrNulBecomesCrLf", std::string("abc\r\0# ", 7), true,
                                   "abc\r\n# "},
                      ResponseCase{"CrNulAtLineStartStays", std::string("\r\0# ", 4), true,
                                   std::string("\r\0# ", 4)},
                      ResponseCase{"NulElsewhereStays", std::string("a\0b\r\n# ", 7), true,
                                   std::string("a\0b\r\n# ", 7)},
                      ResponseCase{"PromptAlone", "# ", true, "# "},
                      ResponseCase{"NamedPrompt", "cmd\r\nTarn# ", true, "cmd\r\nTarn# "},
                      ResponseCase{"HashWithoutSpace", "cmd\r\nTarn#", false, "cmd\r\n"},
                      ResponseCase{"SpaceAfterPrompt", "cmd\r\nTarn#  ", false, "cmd\r\n"},
                      ResponseCase{"PromptInsideALine", "Tarn# x\r\nmore", false, "Tarn# x\r\n"},
                      ResponseCase{"Nothing", "", false, ""}),
    RowName());

TEST(TelnetDialogueTest, OutputCollectsLinesAndPromptsOverCommands) {
    MemoryChannel channel(kLoggedIn + "cmd\r\nline 1\r\nline 2\r\nTarn# ");
    TelnetDialogue dialogue(channel, MemoryOptions());
    ASSERT_TRUE(dialogue.LogIn("u", "p"));
    EXPECT_TRUE(dialogue.SendCommand("cmd"));
    EXPECT_FALSE(dialogue.SendCommand("exit"));  // no answer at all
    EXPECT_EQ(dialogue.output(), "cmd\r\nline 1\r\nline 2\r\nTarn# ");
    EXPECT_EQ(channel.written, "u\r\np\r\ncmd\r\nexit\r\n");
}

TEST(TelnetDialogueTest, PeerCloseClearsConnected) {
    MemoryChannel channel(kLoggedIn + "restarting\r\npartial");
    channel.end = MemoryChannel::End::kClose;
    TelnetDialogue dialogue(channel, MemoryOptions());
    ASSERT_TRUE(dialogue.LogIn("u", "p"));
    EXPECT_TRUE(dialogue.connected());
    EXPECT_FALSE(dialogue.SendCommand("show system information"));
    EXPECT_FALSE(dialogue.connected());
    EXPECT_EQ(dialogue.failure(),
              Failure(TelnetPhase::kRunningCommand, TelnetEvent::kClosedByPeer, "restarting\r\n"));
}

TEST(TelnetDialogueTest, ReceiveErrorCarriesItsErrno) {
    MemoryChannel channel("");
    channel.end = MemoryChannel::End::kError;
    TelnetDialogue dialogue(channel, MemoryOptions());
    EXPECT_FALSE(dialogue.LogIn("user", "pw"));
    EXPECT_EQ(dialogue.failure(), Failure(TelnetPhase::kWaitingForLoginPrompt,
                                          TelnetEvent::kSocketError, "", ECONNRESET));
    EXPECT_TRUE(dialogue.connected());
}

TEST(TelnetDialogueTest, ShortSendOfTheUserIsAFailure) {
    MemoryChannel channel("Login:");
    channel.writeLimit = 3;
    TelnetDialogue dialogue(channel, MemoryOptions());
    EXPECT_FALSE(dialogue.LogIn("admin", "pw"));
    EXPECT_EQ(dialogue.failure(), Failure(TelnetPhase::kSendingUser, TelnetEvent::kSendFailed,
                                          "admin" + Sjis(" 送信失敗")));
}

TEST(TelnetDialogueTest, FailedSendOfTheRefusalEndsTheWait) {
    MemoryChannel channel(Bytes({kIac, kDo, 1}) + "Login:");
    channel.writeLimit = -1;
    TelnetDialogue dialogue(channel, MemoryOptions());
    EXPECT_FALSE(dialogue.LogIn("u", "p"));
    EXPECT_EQ(dialogue.failure(),
              Failure(TelnetPhase::kWaitingForLoginPrompt, TelnetEvent::kSocketError, "", EPIPE));
    MemoryChannel shortChannel(Bytes({kIac, kDo, 1}) + "Login:");
    shortChannel.writeLimit = 2;
    TelnetDialogue shortDialogue(shortChannel, MemoryOptions());
    EXPECT_FALSE(shortDialogue.LogIn("u", "p"));
    EXPECT_EQ(shortDialogue.failure(),
              Failure(TelnetPhase::kWaitingForLoginPrompt, TelnetEvent::kSendFailed, ""));
}

TEST(TelnetDialogueTest, FailedSendOfThePasswordHidesIt) {
    MemoryChannel channel("Login:Password:");
    channel.failingWrite = 2;  // the user line goes through
    TelnetDialogue dialogue(channel, MemoryOptions());
    EXPECT_FALSE(dialogue.LogIn("admin", "secret"));
    EXPECT_EQ(dialogue.failure(), Failure(TelnetPhase::kSendingPassword, TelnetEvent::kSocketError,
                                          kHiddenPassword + Sjis(" 送信"), EPIPE));
    EXPECT_EQ(channel.written, "admin\r\n");
}

// --- Bounds of a router that keeps talking ----------------------------------

std::string NumberedLines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "line " + std::to_string(i) + "\r\n";
    return text;
}

TEST(TelnetBoundsTest, OutputLimitCountsEveryCollectedByte) {
    const std::string response = "cmd\r\n" + NumberedLines(100) + "Tarn# ";
    const std::string exitResponse = "exit\r\nTarn# ";
    const std::size_t whole = response.size() + exitResponse.size();
    struct Row {
        const char* name;
        std::size_t limit;
        bool commandOk;
        bool exitOk;
    };
    const Row rows[] = {
        {"both_fit", whole, true, true},
        {"exit_answer_one_over", whole - 1, true, false},
        {"command_answer_fits_exactly", response.size(), true, false},
        {"command_answer_one_over", response.size() - 1, false, false},
        {"nothing_fits", 0, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (std::size_t chunk : {std::size_t{1}, std::size_t{4096}}) {
            MemoryChannel channel({kLoggedIn + response, exitResponse}, chunk);
            TelnetOptions options = MemoryOptions(chunk);
            options.outputLimit = row.limit;
            TelnetDialogue dialogue(channel, options);
            ASSERT_TRUE(dialogue.LogIn("u", "p"));
            EXPECT_EQ(dialogue.SendCommand("cmd"), row.commandOk);
            if (row.commandOk) {
                EXPECT_EQ(dialogue.SendCommand("exit"), row.exitOk);
            }
            EXPECT_LE(dialogue.output().size(), row.limit);
            if (!row.exitOk) {
                ASSERT_TRUE(dialogue.failure());
                EXPECT_EQ(dialogue.failure()->event, TelnetEvent::kTooLong);
            }
        }
    }
}

TEST(TelnetBoundsTest, EndlessOutputEndsAtTheLimitWithItsLastLinesAsDetail) {
    // Lines without end, far more than the limit allows.
    const std::string flood = kLoggedIn + "cmd\r\n" + NumberedLines(20000);
    MemoryChannel channel(flood, 4096);
    TelnetOptions options = MemoryOptions();
    options.outputLimit = 64 * 1024;
    TelnetDialogue dialogue(channel, options);
    ASSERT_TRUE(dialogue.LogIn("u", "p"));
    EXPECT_FALSE(dialogue.SendCommand("cmd"));
    ASSERT_TRUE(dialogue.failure());
    EXPECT_EQ(dialogue.failure()->event, TelnetEvent::kTooLong);
    EXPECT_LE(channel.delivered, kLoggedIn.size() + options.outputLimit + options.receiveChunk);
    ASSERT_TRUE(dialogue.failure()->detail);
    const std::string& detail = *dialogue.failure()->detail;
    EXPECT_EQ(detail.size(), kTelnetFailureDetailLimit);
    EXPECT_TRUE(dialogue.output().ends_with(detail));
    EXPECT_EQ(FormatTelnetFailure(*dialogue.failure()),
              Sjis("コマンド実行:受信メッセージサイズオーバー:") + detail);
}

TEST(TelnetBoundsTest, FailureDetailKeepsDoubleByteCharactersWhole) {
    // Lines of 19 bytes, "x", eight "あ" (two bytes each) and CR LF: the
    // 4 KiB end starts at the second byte of the fourth "あ".
    std::string text;
    while (text.size() < 3 * kTelnetFailureDetailLimit)
        text += "x" + Sjis("ああああああああ") + "\r\n";
    ASSERT_EQ((text.size() - kTelnetFailureDetailLimit) % 19, 8u);
    MemoryChannel channel(kLoggedIn + text + "no prompt");
    TelnetDialogue dialogue(channel, MemoryOptions());
    ASSERT_TRUE(dialogue.LogIn("u", "p"));
    EXPECT_FALSE(dialogue.SendCommand("cmd"));
    ASSERT_TRUE(dialogue.failure() && dialogue.failure()->detail);
    const std::string& detail = *dialogue.failure()->detail;
    EXPECT_EQ(detail.size(), kTelnetFailureDetailLimit - 1);
    EXPECT_TRUE(text.ends_with(detail));
    EXPECT_EQ(detail.substr(0, 2), Sjis("あ"));
}

TEST(TelnetBoundsTest, RouterThatNeverFallsSilentEndsAtTheDeadline) {
    // A byte every 300 ms: silence never as long as the 5 s receive timeout.
    MemoryChannel channel(kLoggedIn + "cmd\r\n" + NumberedLines(1000), 1);
    channel.readTime = 300ms;
    TelnetOptions options = MemoryOptions(8);
    options.receiveTimeout = 5s;
    options.deadline = 60s;
    TelnetDialogue dialogue(channel, options);
    ASSERT_TRUE(dialogue.LogIn("u", "p"));
    EXPECT_FALSE(dialogue.SendCommand("cmd"));
    ASSERT_TRUE(dialogue.failure());
    EXPECT_EQ(dialogue.failure()->phase, TelnetPhase::kRunningCommand);
    EXPECT_EQ(dialogue.failure()->event, TelnetEvent::kTimeout);
    EXPECT_EQ(channel.Now().time_since_epoch(), 60s);
    EXPECT_EQ(channel.delivered, 200u);
}

TEST(TelnetBoundsTest, DeadlineCountsFromTheStartOfTheDialogue) {
    // Each wait is shortened to what is left, and the silence after a
    // prompt that the deadline cuts short is no prompt.
    MemoryChannel channel("Login:Password:\r\nTarn# cmd\r\nTarn# ");
    channel.readTime = 1s;
    TelnetOptions options = MemoryOptions();
    options.receiveTimeout = 5s;
    options.deadline = 5s;
    TelnetDialogue dialogue(channel, options);
    ASSERT_TRUE(dialogue.LogIn("u", "p"));
    EXPECT_FALSE(dialogue.SendCommand("cmd"));
    EXPECT_EQ(dialogue.failure(),
              Failure(TelnetPhase::kRunningCommand, TelnetEvent::kTimeout, "cmd\r\n"));
    EXPECT_EQ(channel.Now().time_since_epoch(), 5s);
    // Nothing is read once the deadline has passed.
    EXPECT_FALSE(dialogue.SendCommand("exit"));
    EXPECT_EQ(channel.Now().time_since_epoch(), 5s);

    MemoryChannel early("Login:Password:\r\nTarn# cmd\r\nTarn# ");
    early.readTime = 1s;
    options.deadline = 7s;  // the 5 s of silence fit
    TelnetDialogue enough(early, options);
    ASSERT_TRUE(enough.LogIn("u", "p"));
    EXPECT_TRUE(enough.SendCommand("cmd"));
    EXPECT_EQ(enough.output(), "cmd\r\nTarn# ");
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
        const Result<std::string> answer = session.Run("127.0.0.1", "admin", "pw", kShowSystem);
        ASSERT_FALSE(answer);
        EXPECT_EQ(answer.error(),
                  (Error{ErrorCode::kTimeout, Sjis("ログインプロンプト待ち:受信タイムアウト:")}));
        EXPECT_EQ(session.LastError(), answer.error().detail);
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
    EXPECT_EQ(session.Run("127.0.0.1", "admin", "pw", kShowSystem).error(),
              (Error{ErrorCode::kConnectionRefused,
                     Sjis("ソケット作成中:ソケットエラー発生:接続失敗:GerLastError=") +
                         std::to_string(ECONNREFUSED) + "(" + std::strerror(ECONNREFUSED) + ")"}));
}

TEST(TelnetSessionTest, ConnectGivesUpAfterItsTimeOut) {
    // A listener whose accept queue is full: the system drops further SYNs,
    // so connecting to it hangs until the time-out.
    UniqueFd listener = testing::ListenOnLoopback(0);
    const std::uint16_t port = testing::BoundPort(listener.get());
    ASSERT_NE(port, 0);
    const auto to = testing::LoopbackAddress(testing::kLoopback, port);
    ASSERT_TRUE(to);
    std::vector<UniqueFd> waiting;
    bool full = false;
    while (!full && waiting.size() < 16) {
        UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        ASSERT_TRUE(fd.valid());
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&*to), sizeof *to);
        pollfd connected{fd.get(), POLLOUT, 0};
        full = ::poll(&connected, 1, 300) == 0;
        waiting.push_back(std::move(fd));
    }
    ASSERT_TRUE(full);

    TelnetOptions options = OptionsFor(port);
    options.connectTimeout = 500ms;
    CTelnetSession session(options);
    const auto start = std::chrono::steady_clock::now();
    const Result<std::string> answer = session.Run("127.0.0.1", "admin", "pw", kShowSystem);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(answer.error(),
              (Error{ErrorCode::kTimeout,
                     Sjis("ソケット作成中:ソケットエラー発生:接続失敗:GerLastError=") +
                         std::to_string(ETIMEDOUT) + "(" + std::strerror(ETIMEDOUT) + ")"}));
}

TEST(TelnetSessionTest, RouterThatNeverFallsSilentEndsAtTheDeadline) {
    ScriptedPeer peer([](PeerConnection& c) {
        ServeLogin(c);
        c.ReadUntil("\r\n");
        c.Send("cmd\r\n");
        // A line every 50 ms until the client hangs up (or 10 s have passed).
        for (int i = 0; i < 200; ++i) {
            c.Send("line " + std::to_string(i) + "\r\n");
            const auto start = std::chrono::steady_clock::now();
            c.WaitForHangUp(50ms);
            if (std::chrono::steady_clock::now() - start < 40ms)
                break;
        }
    });
    {
        TelnetOptions options = OptionsFor(peer.port());
        options.deadline = 1s;
        CTelnetSession session(options);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(session.RunCommand("127.0.0.1", "admin", "pw", "cmd", nullptr), -1);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
        const std::string prefix = Sjis("コマンド実行:受信タイムアウト:cmd\r\nline 0\r\n");
        EXPECT_EQ(session.LastError().substr(0, prefix.size()), prefix);
    }
    peer.Finish();
}

// Serves one connection after the other, each with its own script.
class SequentialPeer {
public:
    explicit SequentialPeer(std::vector<std::function<void(PeerConnection&)>> scripts)
        : listener_(testing::ListenOnLoopback(4)), port_(testing::BoundPort(listener_.get())) {
        thread_ = std::thread([this, scripts = std::move(scripts)] {
            for (const auto& script : scripts) {
                pollfd ready{listener_.get(), POLLIN, 0};
                if (::poll(&ready, 1, static_cast<int>(testing::kPeerPatience.count())) != 1)
                    return;
                PeerConnection connection(
                    UniqueFd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC)));
                script(connection);
            }
        });
    }
    ~SequentialPeer() { thread_.join(); }
    std::uint16_t port() const { return port_; }

private:
    UniqueFd listener_;
    std::uint16_t port_;
    std::thread thread_;
};

TEST(TelnetSessionTest, EachRunStartsWithoutTheFailuresOfTheRunBefore) {
    SequentialPeer peer({
        [](PeerConnection& c) { c.WaitForHangUp(); },  // silent: login fails
        Router(kSystemResponse),
        [](PeerConnection& c) {
            ServeLogin(c);
            c.ReadUntil("\r\n");
            c.Send("cmd\r\n% Invalid input\r\n");
            c.WaitForHangUp();
        },
    });
    ASSERT_NE(peer.port(), 0);
    CTelnetSession session(OptionsFor(peer.port()));
    EXPECT_EQ(session.RunCommand("127.0.0.1", "admin", "pw", kShowSystem, nullptr), -1);
    EXPECT_EQ(session.LastError(), Sjis("ログインプロンプト待ち:受信タイムアウト:"));

    // The address is refused before connecting; then a dialogue succeeds.
    const Result<std::string> named = session.Run("localhost", "admin", "pw", kShowSystem);
    EXPECT_EQ(named.error().code, ErrorCode::kBadArgument);
    CommandOutput output;
    EXPECT_EQ(session.RunCommand("127.0.0.1", "admin", "pw", kShowSystem, &output), 0);
    EXPECT_EQ(session.LastError(), "");
    EXPECT_EQ(output.text, kSystemResponse + "exit\r\n");

    // A failure after a success is this run's own.
    EXPECT_EQ(session.RunCommand("127.0.0.1", "admin", "pw", "cmd", &output), -1);
    EXPECT_EQ(session.LastError(),
              Sjis("コマンド実行:受信タイムアウト:cmd\r\n% Invalid input\r\n"));
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
