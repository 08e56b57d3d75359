// One command dialogue with a router over telnet: connect, log in at the
// router's "Login:" and "Password:" prompts, send one command text, collect
// what the router prints until its prompt "# " has come back and the line has
// stayed silent for the receive timeout, then leave with "exit".
//
// A router that never stops talking cannot hold a dialogue for ever: the
// collected output, each wait and each line have a size limit, and the whole
// dialogue a deadline.
//
// Every failure is described by the step of the dialogue it happened in
// (`TelnetPhase`) and the receive or send outcome that ended it
// (`TelnetEvent`); both have fixed Japanese names from which `LastError`
// builds a one-line CP932 text.
#pragma once

#include "result.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>

namespace quellin {

// The numbers are part of the failure descriptions' meaning and stay fixed.
enum class TelnetPhase : int {
    kWaitingForThread = 0,
    kConnecting = 1,
    kWaitingForLoginPrompt = 2,
    kSendingUser = 3,
    kWaitingForPasswordPrompt = 4,
    kSendingPassword = 5,
    kWaitingForLoggedIn = 6,
    kRunningCommand = 7,
    kRunningDisconnectingCommand = 8,
    kWaitingForResult = 9,
};

enum class TelnetEvent : int {
    kClosedByPeer = 0,
    kSocketError = 1,
    kByteReceived = 2,
    kLineReceived = 3,
    kPromptReceived = 4,
    kTextReceived = 5,
    kTimeout = 6,
    kTooLong = 7,
    kSent = 8,
    kSendFailed = 9,
};

// CP932 names as they appear in failure descriptions; numbers outside the
// enumerations get the name for "unknown".
std::string TelnetPhaseName(TelnetPhase phase);
std::string TelnetEventName(TelnetEvent event);

// What a failed dialogue knew about its failure.
struct TelnetFailure {
    TelnetPhase phase = TelnetPhase::kWaitingForThread;
    TelnetEvent event = TelnetEvent::kSocketError;
    std::optional<std::string> detail;  // CP932
    int systemError = 0;                // errno of the failing call, 0 for none

    bool operator==(const TelnetFailure&) const = default;
};

// phase name + ":" + event name [+ ":" + detail]
// [+ ":GerLastError=" + errno + "(" + strerror + ")"]; a worker thread that
// could not be run gives the thread phase's name + " :" + a fixed text
// instead of event and detail.
std::string FormatTelnetFailure(const TelnetFailure& failure);

// The failure as a value: what callers branch on (a refused login, a
// time-out, an answer over its limit, ...) and its description.
Error ToError(const TelnetFailure& failure);

// Where `RunCommand` delivers the router's output.
struct CommandOutput {
    std::int32_t suppress = 0;  // anything but 0 keeps the output back
    std::string text;           // filled only when the dialogue succeeded
};

// Longest text one wait for a prompt, and one received line, may take.
inline constexpr std::size_t kTelnetReceiveLimit = 4'194'303;

// Most output one dialogue collects over all its commands; far above the
// largest tech-support a router prints.
inline constexpr std::size_t kTelnetOutputLimit = 64u << 20;
// The dialogues that only read a short answer need far less, so that many
// of them at once against routers that flood stay small: the system
// information a router identifies itself with, and its running
// configuration.
inline constexpr std::size_t kIdentificationOutputLimit = 256u << 10;
inline constexpr std::size_t kConfigurationOutputLimit = 4u << 20;

// What the waits for the login prompts take at the least, however small the
// output limit: a router's greeting.
inline constexpr std::size_t kTelnetLoginWaitFloor = 64 * 1024;

// Most of the received text a failure description carries: its end.
inline constexpr std::size_t kTelnetFailureDetailLimit = 4096;

// Bytes a dialogue takes from its channel at once.
inline constexpr std::size_t kTelnetReceiveChunk = 64 * 1024;

// The byte stream a dialogue runs over.  The session's own is a TCP socket;
// tests and fuzzers feed the dialogue from memory.
class TelnetChannel {
public:
    enum class Status { kData, kClosed, kTimeout, kError };
    struct ReadResult {
        Status status = Status::kError;
        std::size_t count = 0;  // bytes placed in the buffer, for kData
        int systemError = 0;    // for kError
    };
    struct WriteResult {
        std::ptrdiff_t sent = -1;  // -1 on error
        int systemError = 0;
    };

    virtual ~TelnetChannel() = default;
    // Waits at most `timeout` for bytes and takes what has arrived, at most
    // buffer.size() bytes.
    virtual ReadResult Read(std::span<char> buffer, std::chrono::milliseconds timeout) = 0;
    // One send of the whole text; may report fewer bytes than given.
    virtual WriteResult Write(std::string_view bytes) = 0;
    // The time the channel's waits pass in; a channel fed from memory may
    // keep a time of its own.
    virtual std::chrono::steady_clock::time_point Now() const {
        return std::chrono::steady_clock::now();
    }
};

// The timings and limits of a dialogue and its connection.
struct TelnetOptions {
    std::uint16_t port = 23;
    // Silence that ends a response after the prompt, and the longest wait
    // for any byte.
    std::chrono::milliseconds receiveTimeout = std::chrono::seconds(5);
    // The caller waits at least this long, while the worker already works.
    std::chrono::milliseconds initialSleep = std::chrono::seconds(2);
    // Bytes taken from the channel at once.
    std::size_t receiveChunk = kTelnetReceiveChunk;
    // The longest the TCP connection may take to come up.
    std::chrono::milliseconds connectTimeout = std::chrono::seconds(21);
    // The longest a dialogue may take from the connection to its end, so
    // that a router which never falls silent cannot hold it; long enough
    // for a slow tech-support.
    std::chrono::milliseconds deadline = std::chrono::minutes(10);
    // Most output the dialogue collects (see kTelnetOutputLimit); the waits
    // for the login prompts take no more either, but at least
    // kTelnetLoginWaitFloor.
    std::size_t outputLimit = kTelnetOutputLimit;
    // Ends the dialogue early (connecting, waiting or reading) when stop is
    // requested, as a socket error ECANCELED: for a caller that gives up,
    // such as a window that closes.
    std::stop_token stop;
};

// What is shown of a password in a failure description.
inline constexpr char kHiddenPassword[] = "********";

// The protocol side of a dialogue: option refusal, prompt and line
// recognition, output collection and failure bookkeeping, over any channel.
// Reads one byte at a time in meaning, but takes the bytes from the channel
// in chunks of `receiveChunk`.  The deadline counts from construction.
class TelnetDialogue {
public:
    TelnetDialogue(TelnetChannel& channel, const TelnetOptions& options);

    // user and password are sent as given, each followed by CR LF; an empty
    // user or password gives an empty line.
    bool LogIn(std::string_view user, std::string_view password);
    // Sends the command text followed by CR LF and collects the response.  A
    // text holding "reset" or "exit" may end with the router closing the
    // connection, which then counts as success.
    bool SendCommand(std::string_view command);

    // Every response line collected so far, over all commands.
    const std::string& output() const { return output_; }
    std::string TakeOutput() { return std::exchange(output_, {}); }
    // False once the router has closed the connection.
    bool connected() const { return connected_; }
    const std::optional<TelnetFailure>& failure() const { return failure_; }

private:
    struct Byte {
        TelnetEvent event;
        char value = 0;
    };
    // Each receive step returns the event that ended it: kByteReceived,
    // kTextReceived, kLineReceived or kPromptReceived on success.
    Byte ReceiveByte();
    TelnetEvent WaitForText(std::string_view text, std::string& received);
    TelnetEvent ReceiveLine();
    TelnetEvent ReceiveResponse();

    // Replaces any earlier failure; the detail keeps only the end of the
    // received text.
    void ReportFailure(std::string_view received, TelnetPhase phase, TelnetEvent event);
    void ReportSendFailure(std::string detail, TelnetPhase phase, TelnetEvent event);
    // kSent, kSocketError or kSendFailed.
    TelnetEvent Send(std::string_view bytes);
    bool FillBuffer(TelnetEvent& ending);
    int ErrorOf(TelnetEvent event) const;

    TelnetChannel& channel_;
    std::chrono::milliseconds receiveTimeout_;
    std::chrono::milliseconds deadline_;
    std::size_t outputLimit_;
    std::size_t waitLimit_;
    std::chrono::steady_clock::time_point start_;
    bool deadlinePassed_ = false;
    std::string buffer_;
    std::size_t bufferBegin_ = 0;
    std::size_t bufferEnd_ = 0;
    std::string currentLine_;
    std::string output_;
    bool connected_ = true;
    int systemError_ = 0;  // errno of the channel call that last failed
    std::optional<TelnetFailure> failure_;
};

class CTelnetSession {
public:
    explicit CTelnetSession(std::uint16_t port = 23, int timeoutSeconds = 5);
    explicit CTelnetSession(const TelnetOptions& options);
    ~CTelnetSession();
    CTelnetSession(const CTelnetSession&) = delete;
    CTelnetSession& operator=(const CTelnetSession&) = delete;

    // Runs the dialogue on a worker thread and blocks until it has ended (and
    // at least for the initial sleep; at most the connect time-out and the
    // deadline).  address is dotted IPv4 text; no name lookup.  An empty user
    // or password is sent as an empty line.  The router's output when
    // connecting, logging in and the command succeeded, else the failure.
    Result<std::string> Run(const std::string& address, const std::string& user,
                            const std::string& password, const std::string& command);

    // Run as the routers' callers have always called it: 0 with the output
    // delivered (output may be null), else -1 with the reason in LastError.
    int RunCommand(const std::string& address, const std::string& user, const std::string& password,
                   const std::string& command, CommandOutput* output, std::int32_t reserved = 0);

    // CP932 description of the last dialogue's failure; empty when none
    // occurred.  A failed "exit" after a successful command is recorded
    // here as well.
    std::string LastError() const;

private:
    class Socket;
    bool Connect(const std::string& address);
    void Work(const std::string& address, const std::string& user, const std::string& password,
              const std::string& command);

    TelnetOptions options_;
    std::string address_;
    std::unique_ptr<Socket> socket_;  // kept open until the session goes
    std::string output_;
    std::optional<TelnetFailure> failure_;
    bool succeeded_ = false;
};

}  // namespace quellin
