#include "telnet_session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <system_error>
#include <thread>
#include <utility>

#include "codec.h"

namespace quellin {
namespace {

constexpr unsigned char kIac = 255;
constexpr unsigned char kDont = 254;
constexpr unsigned char kDo = 253;
constexpr unsigned char kWont = 252;
constexpr unsigned char kWill = 251;

// The last two bytes of the line are `tail` (a two-byte text).
bool EndsWithPair(const std::string& line, std::string_view tail) {
    return line.size() > 1 && line[line.size() - 2] == tail[0] && line.back() == tail[1];
}

bool IsDisconnectingCommand(std::string_view text) {
    return text.find("reset") != std::string_view::npos ||
           text.find("exit") != std::string_view::npos;
}

int PollTimeout(std::chrono::milliseconds timeout) {
    auto ms = std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0,
                                                         std::numeric_limits<int>::max());
    return static_cast<int>(ms);
}

// How soon a request to stop ends a wait.
constexpr std::chrono::milliseconds kStopCheck{100};

// poll() on one descriptor for at most `timeout`, in short turns while a
// stop may be requested: as poll, or -1 with errno ECANCELED once it is.
int PollUnlessStopped(pollfd& entry, std::chrono::milliseconds timeout,
                      const std::stop_token& stop) {
    if (!stop.stop_possible())
        return ::poll(&entry, 1, PollTimeout(timeout));
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (stop.stop_requested()) {
            errno = ECANCELED;
            return -1;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        const int ready = ::poll(&entry, 1, PollTimeout(std::min(left, kStopCheck)));
        if (ready != 0 || left <= kStopCheck)
            return ready;
    }
}

// Whether the router refused the login: after the password it asked for the
// user name again instead of showing its prompt.
bool IsRefusedLogin(const TelnetFailure& failure) {
    return failure.phase == TelnetPhase::kWaitingForLoggedIn && failure.detail &&
           failure.detail->find("Login:") != std::string::npos;
}

}  // namespace

std::string TelnetPhaseName(TelnetPhase phase) {
    switch (phase) {
        case TelnetPhase::kWaitingForThread:
            return cp932::Jp("スレッド処理待ち");
        case TelnetPhase::kConnecting:
            return cp932::Jp("ソケット作成中");
        case TelnetPhase::kWaitingForLoginPrompt:
            return cp932::Jp("ログインプロンプト待ち");
        case TelnetPhase::kSendingUser:
            return cp932::Jp("ユーザー名送信");
        case TelnetPhase::kWaitingForPasswordPrompt:
            return cp932::Jp("パスワードプロンプト待ち");
        case TelnetPhase::kSendingPassword:
            return cp932::Jp("パスワード送信");
        case TelnetPhase::kWaitingForLoggedIn:
            return cp932::Jp("ログイン完了待ち");
        case TelnetPhase::kRunningCommand:
            return cp932::Jp("コマンド実行");
        case TelnetPhase::kRunningDisconnectingCommand:
            return cp932::Jp("相手から切断されるコマンド実行");
        case TelnetPhase::kWaitingForResult:
            return cp932::Jp("結果待ち");
    }
    return cp932::Jp("不明");
}

std::string TelnetEventName(TelnetEvent event) {
    switch (event) {
        case TelnetEvent::kClosedByPeer:
        case TelnetEvent::kSocketError:
            return cp932::Jp("ソケットエラー発生");
        case TelnetEvent::kByteReceived:
            return cp932::Jp("１文字受信");
        case TelnetEvent::kLineReceived:
            return cp932::Jp("CRLFを受信");
        case TelnetEvent::kPromptReceived:
            return cp932::Jp("プロンプトを受信");
        case TelnetEvent::kTextReceived:
            return cp932::Jp("不明");
        case TelnetEvent::kTimeout:
            return cp932::Jp("受信タイムアウト");
        case TelnetEvent::kTooLong:
            return cp932::Jp("受信メッセージサイズオーバー");
        case TelnetEvent::kSent:
            return cp932::Jp("送信完了");
        case TelnetEvent::kSendFailed:
            return cp932::Jp("送信失敗");
    }
    return cp932::Jp("不明");
}

std::string FormatTelnetFailure(const TelnetFailure& failure) {
    std::string text = TelnetPhaseName(failure.phase);
    if (failure.phase == TelnetPhase::kWaitingForThread) {
        // The worker could not be run at all: no event took place.
        text += cp932::Jp(" :スレッド処理失敗(WAIT_FAILED)");
    } else {
        text += ":" + TelnetEventName(failure.event);
        if (failure.detail)
            text += ":" + *failure.detail;
    }
    if (failure.systemError != 0) {
        // The key keeps its historic spelling: operators search logs for it.
        text += ":GerLastError=" + std::to_string(failure.systemError) + "(" +
                std::system_category().message(failure.systemError) + ")";
    }
    return text;
}

Error ToError(const TelnetFailure& failure) {
    auto code = [&] {
        if (IsRefusedLogin(failure))
            return ErrorCode::kLoginRefused;
        if (failure.systemError == ECANCELED)
            return ErrorCode::kCancelled;
        if (failure.event == TelnetEvent::kTimeout)
            return ErrorCode::kTimeout;
        if (failure.event == TelnetEvent::kTooLong)
            return ErrorCode::kTooLong;
        if (failure.phase == TelnetPhase::kWaitingForThread)
            return ErrorCode::kInternal;
        if (failure.phase != TelnetPhase::kConnecting)
            return ErrorCode::kProtocol;
        // Only the address is refused without a system error.
        if (failure.systemError == 0)
            return ErrorCode::kBadArgument;
        const ErrorCode system = CodeOfErrno(failure.systemError);
        return system == ErrorCode::kIo ? ErrorCode::kConnectionRefused : system;
    };
    return {code(), FormatTelnetFailure(failure)};
}

// --- TelnetDialogue --------------------------------------------------------

TelnetDialogue::TelnetDialogue(TelnetChannel& channel, const TelnetOptions& options)
    : channel_(channel),
      receiveTimeout_(options.receiveTimeout),
      deadline_(options.deadline),
      outputLimit_(options.outputLimit),
      waitLimit_(std::clamp(options.outputLimit, kTelnetLoginWaitFloor, kTelnetReceiveLimit)),
      start_(channel.Now()),
      buffer_(std::max<std::size_t>(options.receiveChunk, 1), '\0') {}

void TelnetDialogue::ReportFailure(std::string_view received, TelnetPhase phase,
                                   TelnetEvent event) {
    // The end of what came tells what went wrong; all of it could be
    // megabytes.
    failure_ =
        TelnetFailure{phase, event, std::string(cp932::Tail(received, kTelnetFailureDetailLimit)),
                      ErrorOf(event)};
}

void TelnetDialogue::ReportSendFailure(std::string detail, TelnetPhase phase, TelnetEvent event) {
    failure_ = TelnetFailure{phase, event, std::move(detail), ErrorOf(event)};
}

int TelnetDialogue::ErrorOf(TelnetEvent event) const {
    return event == TelnetEvent::kSocketError ? systemError_ : 0;
}

TelnetEvent TelnetDialogue::Send(std::string_view bytes) {
    TelnetChannel::WriteResult result = channel_.Write(bytes);
    if (result.sent < 0) {
        systemError_ = result.systemError;
        return TelnetEvent::kSocketError;
    }
    if (static_cast<std::size_t>(result.sent) < bytes.size())
        return TelnetEvent::kSendFailed;
    return TelnetEvent::kSent;
}

bool TelnetDialogue::FillBuffer(TelnetEvent& ending) {
    // Every wait ends at the deadline at the latest; its passing reads as a
    // receive time-out, but never as the silence after a prompt.
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(channel_.Now() - start_);
    if (deadlinePassed_ || elapsed >= deadline_) {
        deadlinePassed_ = true;
        ending = TelnetEvent::kTimeout;
        return false;
    }
    std::chrono::milliseconds wait = std::min(receiveTimeout_, deadline_ - elapsed);
    TelnetChannel::ReadResult result = channel_.Read(std::span(buffer_), wait);
    switch (result.status) {
        case TelnetChannel::Status::kData:
            if (result.count == 0)
                break;
            bufferBegin_ = 0;
            bufferEnd_ = std::min(result.count, buffer_.size());
            return true;
        case TelnetChannel::Status::kTimeout:
            if (std::chrono::duration_cast<std::chrono::milliseconds>(channel_.Now() - start_) >=
                deadline_)
                deadlinePassed_ = true;
            ending = TelnetEvent::kTimeout;
            return false;
        case TelnetChannel::Status::kClosed:
            break;
        case TelnetChannel::Status::kError:
            systemError_ = result.systemError;
            ending = TelnetEvent::kSocketError;
            return false;
    }
    connected_ = false;
    ending = TelnetEvent::kClosedByPeer;
    return false;
}

TelnetDialogue::Byte TelnetDialogue::ReceiveByte() {
    // Options the router asks us to enable are refused; its own offers and
    // every other command are swallowed.  DO and DONT are never sent.
    bool skipNext = false;
    bool refuseNext = false;
    bool afterIac = false;
    for (;;) {
        if (bufferBegin_ == bufferEnd_) {
            TelnetEvent ending;
            if (!FillBuffer(ending))
                return {ending};
        }
        auto byte = static_cast<unsigned char>(buffer_[bufferBegin_++]);
        if (skipNext) {
            skipNext = false;
        } else if (refuseNext) {
            refuseNext = false;
            const char refusal[3] = {static_cast<char>(kIac), static_cast<char>(kWont),
                                     static_cast<char>(byte)};
            TelnetEvent sent = Send(std::string_view(refusal, sizeof refusal));
            if (sent != TelnetEvent::kSent)
                return {sent};
        } else if (afterIac) {
            afterIac = false;
            if (byte == kDo) {
                refuseNext = true;
            } else if (byte == kWill || byte == kWont || byte == kDont) {
                skipNext = true;
            }
        } else if (byte == kIac) {
            afterIac = true;
        } else {
            return {TelnetEvent::kByteReceived, static_cast<char>(byte)};
        }
    }
}

TelnetEvent TelnetDialogue::WaitForText(std::string_view text, std::string& received) {
    if (text.empty())
        return TelnetEvent::kTextReceived;
    // A mismatching byte restarts the match without being tried as its first
    // byte; routers print their prompts whole, so nothing is lost in practice.
    std::size_t matched = 0;
    for (std::size_t count = 0; count < waitLimit_; ++count) {
        Byte byte = ReceiveByte();
        if (byte.event != TelnetEvent::kByteReceived)
            return byte.event;
        matched = byte.value == text[matched] ? matched + 1 : 0;
        received.push_back(byte.value);
        if (matched == text.size())
            return TelnetEvent::kTextReceived;
    }
    return TelnetEvent::kTooLong;
}

TelnetEvent TelnetDialogue::ReceiveLine() {
    currentLine_.clear();
    for (;;) {
        Byte byte = ReceiveByte();
        if (byte.event == TelnetEvent::kTimeout) {
            // The prompt is the one line a router leaves unterminated.
            return !deadlinePassed_ && EndsWithPair(currentLine_, "# ")
                       ? TelnetEvent::kPromptReceived
                       : TelnetEvent::kTimeout;
        }
        if (byte.event != TelnetEvent::kByteReceived)
            return byte.event;
        char value = byte.value;
        // Telnet sends a bare carriage return as CR NUL.
        if (value == '\0' && currentLine_.size() > 1 && currentLine_.back() == '\r')
            value = '\n';
        currentLine_.push_back(value);
        if (output_.size() + currentLine_.size() > outputLimit_)
            return TelnetEvent::kTooLong;
        if (EndsWithPair(currentLine_, "\r\n"))
            return TelnetEvent::kLineReceived;
        if (currentLine_.size() >= kTelnetReceiveLimit)
            return TelnetEvent::kTooLong;
    }
}

TelnetEvent TelnetDialogue::ReceiveResponse() {
    for (;;) {
        TelnetEvent event = ReceiveLine();
        if (event == TelnetEvent::kLineReceived) {
            output_ += currentLine_;
            continue;
        }
        if (event == TelnetEvent::kPromptReceived)
            output_ += currentLine_;
        return event;
    }
}

bool TelnetDialogue::LogIn(std::string_view user, std::string_view password) {
    std::string received;
    TelnetEvent event = WaitForText("Login:", received);
    if (event != TelnetEvent::kTextReceived) {
        ReportFailure(received, TelnetPhase::kWaitingForLoginPrompt, event);
        return false;
    }
    event = Send(std::string(user) + "\r\n");
    if (event != TelnetEvent::kSent) {
        ReportSendFailure(std::string(user) + cp932::Jp(" 送信失敗"), TelnetPhase::kSendingUser,
                          event);
        return false;
    }

    received.clear();
    event = WaitForText("Password:", received);
    if (event != TelnetEvent::kTextReceived) {
        ReportFailure(received, TelnetPhase::kWaitingForPasswordPrompt, event);
        return false;
    }
    event = Send(std::string(password) + "\r\n");
    if (event != TelnetEvent::kSent) {
        // The password itself never goes into a text that is logged or shown.
        ReportSendFailure(kHiddenPassword + cp932::Jp(" 送信"), TelnetPhase::kSendingPassword,
                          event);
        return false;
    }

    received.clear();
    event = WaitForText("# ", received);
    if (event != TelnetEvent::kTextReceived) {
        ReportFailure(received, TelnetPhase::kWaitingForLoggedIn, event);
        return false;
    }
    return true;
}

bool TelnetDialogue::SendCommand(std::string_view command) {
    std::string text = std::string(command) + "\r\n";
    // After "reset" or "exit" the router may hang up instead of prompting.
    TelnetPhase phase = IsDisconnectingCommand(text) ? TelnetPhase::kRunningDisconnectingCommand
                                                     : TelnetPhase::kRunningCommand;
    TelnetEvent event = Send(text);
    if (event != TelnetEvent::kSent) {
        ReportSendFailure(std::string(command) + cp932::Jp(" 送信"), phase, event);
        return false;
    }
    event = ReceiveResponse();
    if (event == TelnetEvent::kPromptReceived)
        return true;
    if (event == TelnetEvent::kClosedByPeer && phase == TelnetPhase::kRunningDisconnectingCommand)
        return true;
    ReportFailure(output_, phase, event);
    return false;
}

// --- CTelnetSession --------------------------------------------------------

// A connected TCP socket, non-blocking, closed when it goes.
class CTelnetSession::Socket final : public TelnetChannel {
public:
    Socket(int fd, std::stop_token stop) : fd_(fd), stop_(std::move(stop)) {}
    ~Socket() override {
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    ReadResult Read(std::span<char> buffer, std::chrono::milliseconds timeout) override {
        pollfd readable{fd_, POLLIN, 0};
        for (;;) {
            int ready = PollUnlessStopped(readable, timeout, stop_);
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                return {Status::kError, 0, errno};
            }
            if (ready == 0)
                return {Status::kTimeout};
            ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), 0);
            if (got > 0)
                return {Status::kData, static_cast<std::size_t>(got)};
            if (got == 0)
                return {Status::kClosed};
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            return {Status::kError, 0, errno};
        }
    }

    WriteResult Write(std::string_view bytes) override {
        for (;;) {
            // MSG_NOSIGNAL: a router that has hung up must give an error
            // here, not a SIGPIPE that ends the whole program.
            ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent >= 0)
                return {static_cast<std::ptrdiff_t>(sent)};
            if (errno == EINTR)
                continue;
            return {-1, errno};
        }
    }

private:
    int fd_;
    std::stop_token stop_;
};

CTelnetSession::CTelnetSession(std::uint16_t port, int timeoutSeconds)
    : CTelnetSession(TelnetOptions{port, std::chrono::seconds(timeoutSeconds)}) {}

CTelnetSession::CTelnetSession(const TelnetOptions& options) : options_(options) {}

CTelnetSession::~CTelnetSession() = default;

std::string CTelnetSession::LastError() const {
    return failure_ ? FormatTelnetFailure(*failure_) : std::string();
}

bool CTelnetSession::Connect(const std::string& address) {
    auto fail = [this](std::string detail, int systemError) {
        failure_ = TelnetFailure{TelnetPhase::kConnecting, TelnetEvent::kSocketError,
                                 std::move(detail), systemError};
        return false;
    };
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        return fail(cp932::Jp("ソケット作成失敗"), errno);
    socket_ = std::make_unique<Socket>(fd, options_.stop);

    address_ = address;
    // inet_addr also yields INADDR_NONE for 255.255.255.255, which is no
    // router's address either.  A NUL inside the text would hide its tail.
    in_addr_t host =
        address.find('\0') == std::string::npos ? ::inet_addr(address.c_str()) : INADDR_NONE;
    if (host == INADDR_NONE)
        return fail(cp932::Jp("アドレス(") + address + cp932::Jp(")が不正"), 0);

    // Non-blocking from the start, so that the connection attempt has a
    // time-out of its own instead of the system's (about two minutes).
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return fail(cp932::Jp("ノンブブロッキング化失敗"), errno);

    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(options_.port);
    peer.sin_addr.s_addr = host;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0)
        return true;
    if (errno != EINPROGRESS && errno != EINTR)
        return fail(cp932::Jp("接続失敗"), errno);
    const auto until = std::chrono::steady_clock::now() + options_.connectTimeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return fail(cp932::Jp("接続失敗"), ETIMEDOUT);
        pollfd writable{fd, POLLOUT, 0};
        int ready = PollUnlessStopped(writable, left, options_.stop);
        if (ready < 0 && errno != EINTR)
            return fail(cp932::Jp("接続失敗"), errno);
        if (ready > 0)
            break;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    if (error != 0)
        return fail(cp932::Jp("接続失敗"), error);
    return true;
}

void CTelnetSession::Work(const std::string& address, const std::string& user,
                          const std::string& password, const std::string& command) {
    if (!Connect(address))
        return;
    TelnetDialogue dialogue(*socket_, options_);
    bool ok = dialogue.LogIn(user, password) && dialogue.SendCommand(command);
    // The router's answer to "exit" does not decide the outcome.
    if (ok && dialogue.connected())
        dialogue.SendCommand("exit");
    output_ = dialogue.TakeOutput();
    failure_ = dialogue.failure();
    succeeded_ = ok;
}

Result<std::string> CTelnetSession::Run(const std::string& address, const std::string& user,
                                        const std::string& password, const std::string& command) {
    // Nothing of an earlier dialogue on this object counts for this one.
    succeeded_ = false;
    output_.clear();
    failure_.reset();
    std::thread worker;
    try {
        worker = std::thread([&] { Work(address, user, password, command); });
    } catch (const std::system_error& error) {
        failure_ = TelnetFailure{TelnetPhase::kWaitingForThread, TelnetEvent::kSocketError,
                                 std::nullopt, error.code().value()};
        return ToError(*failure_);
    }
    // The initial wait is the router's due; a caller that gives up does not
    // owe it.
    const auto slept = std::chrono::steady_clock::now() + options_.initialSleep;
    while (std::chrono::steady_clock::now() < slept && !options_.stop.stop_requested())
        std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(
            kStopCheck, slept - std::chrono::steady_clock::now()));
    worker.join();

    std::string collected = std::exchange(output_, {});
    if (!succeeded_)
        return ToError(failure_.value_or(TelnetFailure{}));
    return collected;
}

int CTelnetSession::RunCommand(const std::string& address, const std::string& user,
                               const std::string& password, const std::string& command,
                               CommandOutput* output, [[maybe_unused]] std::int32_t reserved) {
    Result<std::string> answer = Run(address, user, password, command);
    if (!answer)
        return -1;
    if (output != nullptr && output->suppress == 0)
        output->text = std::move(*answer);
    return 0;
}

}  // namespace quellin
