#include "telnet_connection.h"

#include <sys/socket.h>

#include <cerrno>
#include <ctime>

namespace quellin::tarn {
namespace {

constexpr unsigned char kIac = 255;
constexpr unsigned char kSb = 250;
constexpr unsigned char kSe = 240;
constexpr unsigned char kWill = 251;
constexpr unsigned char kDo = 253;
constexpr unsigned char kDont = 254;
constexpr unsigned char kEcho = 1;
constexpr const char* kPrompt = "# ";
constexpr int kMaxFailedLogins = 3;
constexpr std::size_t kMaxQueuedLines = 64;
// An endless answer is made in portions of about this size, each when the
// one before has gone out.
constexpr std::size_t kEndlessPortion = 256 * 1024;

std::int64_t Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

}  // namespace

void TelnetInput::Data(char c) {
    if (c == '\n' || (c == '\0' && afterCr_)) {
        if (!line_.empty() && line_.back() == '\r')
            line_.pop_back();
        lines_.push_back(std::move(line_));
        line_.clear();
        afterCr_ = false;
        return;
    }
    afterCr_ = c == '\r';
    // An endless line is cut, not collected without bound.
    if (line_.size() < kMaxLine)
        line_.push_back(c);
}

void TelnetInput::Feed(const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        auto byte = static_cast<unsigned char>(data[i]);
        switch (state_) {
            case State::kData:
                if (byte == kIac) {
                    state_ = State::kCommand;
                } else {
                    Data(data[i]);
                }
                break;
            case State::kCommand:
                if (byte == kIac) {
                    Data(data[i]);
                    state_ = State::kData;
                } else if (byte >= kWill && byte <= kDont) {
                    verb_ = byte;
                    state_ = State::kOption;
                } else if (byte == kSb) {
                    state_ = State::kSub;
                } else {
                    state_ = State::kData;
                }
                break;
            case State::kOption:
                options_.push_back({verb_, byte});
                state_ = State::kData;
                break;
            case State::kSub:
                if (byte == kIac)
                    state_ = State::kSubCommand;
                break;
            case State::kSubCommand:
                state_ = byte == kSe ? State::kData : State::kSub;
                break;
        }
    }
}

std::string DescribeOption(const TelnetInput::Option& option) {
    static const char* const kVerbs[] = {"WILL", "WONT", "DO", "DONT"};
    std::string text = kVerbs[option.verb - kWill];
    text += " ";
    switch (option.option) {
        case 1:
            return text + "ECHO";
        case 3:
            return text + "SUPPRESS-GO-AHEAD";
        case 24:
            return text + "TERMINAL-TYPE";
        case 31:
            return text + "NAWS";
        default:
            return text + std::to_string(option.option);
    }
}

TelnetConnection::TelnetConnection(SimRouter& router, UniqueFd socket)
    : Connection(router),
      socket_(std::move(socket)),
      peer_(PeerAddress(socket_.get())),
      shell_(router.config(), router.state()) {}

TelnetConnection::~TelnetConnection() {
    Close();
}

void TelnetConnection::Start() {
    const RouterConfig& config = router_.config();
    router_.loop().Watch(socket_.get(), POLLIN, [this](short revents) { OnEvents(revents); });
    if (config.faults.noBanner) {
        stage_ = Stage::kSilent;
        router_.Record("fault", JsonLine().Add("peer", peer_).Add("fault", "no-banner"));
        return;
    }
    std::string options;
    if (config.doEcho)
        options += std::string{char(kIac), char(kDo), char(kEcho)};
    if (config.willEcho)
        options += std::string{char(kIac), char(kWill), char(kEcho)};
    if (!options.empty())
        Queue(options);
    Queue("\r\n" + router_.state().model + " " + router_.name() + "\r\n\r\nLogin: ");
    Drive();
}

void TelnetConnection::Close() {
    if (closed_)
        return;
    closed_ = true;
    if (timer_ != 0)
        router_.loop().Cancel(timer_);
    router_.loop().Unwatch(socket_.get());
    socket_.Close();
    router_.ConnectionClosed();
}

void TelnetConnection::OnEvents(short revents) {
    if (revents & (POLLIN | POLLHUP | POLLERR)) {
        char buffer[4096];
        long n = ReceiveSome(socket_.get(), buffer, sizeof buffer);
        if (n < 0) {
            Close();
            return;
        }
        if (n > 0) {
            Touch();
            input_.Feed(buffer, static_cast<std::size_t>(n));
            while (!input_.options().empty()) {
                router_.Record("telnet-option",
                               JsonLine()
                                   .Add("peer", peer_)
                                   .Add("received", DescribeOption(input_.options().front())));
                input_.options().pop_front();
            }
        }
    }
    Drive();
}

void TelnetConnection::HandleLine(const std::string& line) {
    const RouterConfig& config = router_.config();
    switch (stage_) {
        case Stage::kSilent:
            return;
        case Stage::kUser:
            user_ = line;
            Queue(line + "\r\nPassword: ");
            stage_ = Stage::kPassword;
            return;
        case Stage::kPassword: {
            bool ok = !config.faults.wrongPassword && line == config.password &&
                      (config.user.empty() || user_ == config.user);
            router_.Record("login", JsonLine()
                                        .Add("service", "telnet")
                                        .Add("peer", peer_)
                                        .Add("user", user_)
                                        .Add("ok", ok));
            if (ok) {
                stage_ = Stage::kShell;
                Queue(std::string("\r\n") + kPrompt);
                router_.Notify(6, "login: user " + user_ + " from " + peer_);
                return;
            }
            stage_ = Stage::kUser;
            if (++failedLogins_ >= kMaxFailedLogins) {
                Queue("\r\nLogin incorrect\r\n");
                after_ = After::kClose;
                return;
            }
            Queue("\r\nLogin incorrect\r\n\r\nLogin: ");
            return;
        }
        case Stage::kShell:
            HandleCommand(line);
            return;
    }
}

void TelnetConnection::HandleCommand(const std::string& line) {
    const Faults& faults = router_.config().faults;
    router_.Record("command", JsonLine().Add("peer", peer_).Add("text", line));
    Queue(line + "\r\n");
    if (faults.closeAfterCommand && !line.empty() &&
        line.find(*faults.closeAfterCommand) != std::string::npos) {
        router_.Record("fault", JsonLine().Add("peer", peer_).Add("fault", "close-after-command"));
        after_ = After::kClose;
        return;
    }
    if (StartEndlessAnswer(line))
        return;

    ShellReply reply = shell_.Run(line, Now());
    std::vector<OutputPiece> output = std::move(reply.output);
    if (faults.silenceMs > 0)
        output = InsertSilence(std::move(output), faults.silenceMs);
    for (auto& piece : output)
        Queue(std::move(piece.bytes), piece.delayMs);
    if (reply.plan)
        router_.Plan(*reply.plan);
    switch (reply.then) {
        case ShellReply::Then::kPrompt:
            if (!faults.noPrompt)
                Queue(kPrompt);
            break;
        case ShellReply::Then::kClose:
            after_ = After::kClose;
            break;
        case ShellReply::Then::kReset:
            after_ = After::kReset;
            resetSlot_ = reply.resetSlot;
            // Whatever else the client typed is lost with the restart.
            input_.lines().clear();
            break;
    }
}

bool TelnetConnection::StartEndlessAnswer(const std::string& line) {
    const Faults& faults = router_.config().faults;
    if (line.empty() || line.find(faults.outputCommand) == std::string::npos)
        return false;
    const char* name = nullptr;
    if (faults.flood) {
        endless_ = Endless::kFlood;
        name = "flood";
    } else if (faults.longLineBytes > 0) {
        endless_ = Endless::kLongLine;
        endlessLeft_ = faults.longLineBytes;
        name = "long-line";
    } else if (faults.trickleMs > 0) {
        endless_ = Endless::kTrickle;
        name = "trickle";
    } else {
        return false;
    }
    router_.Record("fault", JsonLine().Add("peer", peer_).Add("fault", name));
    return true;
}

void TelnetConnection::ContinueEndlessAnswer() {
    switch (endless_) {
        case Endless::kNone:
            return;
        case Endless::kFlood:
            while (out_.size() < kEndlessPortion) {
                out_ += "flood " + std::to_string(++endlessLines_) +
                        ": interface lan0 link up, 100Mbps full duplex\r\n";
            }
            return;
        case Endless::kLongLine: {
            const std::size_t room =
                kEndlessPortion > out_.size() ? kEndlessPortion - out_.size() : 0;
            const std::size_t count = std::min(room, endlessLeft_);
            out_.append(count, 'x');
            endlessLeft_ -= count;
            if (endlessLeft_ == 0)
                endless_ = Endless::kNone;  // silence from here on
            return;
        }
        case Endless::kTrickle:
            pending_.push_back({"trickle " + std::to_string(++endlessLines_) + "\r\n",
                                router_.config().faults.trickleMs});
            return;
    }
}

void TelnetConnection::Queue(std::string bytes, int delayMs) {
    pending_.push_back({std::move(bytes), delayMs});
}

void TelnetConnection::Pump() {
    for (;;) {
        PumpPending();
        if (waiting_ || !pending_.empty() || endless_ == Endless::kNone ||
            out_.size() >= kEndlessPortion)
            return;
        ContinueEndlessAnswer();
        if (endless_ != Endless::kTrickle)
            return;
    }
}

void TelnetConnection::PumpPending() {
    while (!waiting_ && !pending_.empty()) {
        OutputPiece& piece = pending_.front();
        if (piece.delayMs > 0) {
            waiting_ = true;
            timer_ = router_.loop().After(std::chrono::milliseconds(piece.delayMs), [this] {
                timer_ = 0;
                waiting_ = false;
                pending_.front().delayMs = 0;
                Drive();
            });
            return;
        }
        out_ += piece.bytes;
        pending_.pop_front();
    }
}

void TelnetConnection::Drive() {
    if (closed_)
        return;
    Pump();
    // One line at a time: a line waits while the output of the one before
    // is still being paced out.
    while (!busy() && after_ == After::kNothing && !input_.lines().empty()) {
        std::string line = std::move(input_.lines().front());
        input_.lines().pop_front();
        HandleLine(line);
        Pump();
    }
    if (!out_.empty()) {
        long sent = SendSome(socket_.get(), out_);
        if (sent < 0) {
            Close();
            return;
        }
        out_.erase(0, static_cast<std::size_t>(sent));
        // An endless answer goes on once its portion is out; waiting for
        // the socket to take more paces it.
        if (out_.empty())
            Pump();
    }
    if (out_.empty() && !busy()) {
        if (after_ == After::kClose) {
            Close();
            return;
        }
        if (after_ == After::kReset) {
            std::string slot = resetSlot_;
            SimRouter& router = router_;
            Close();
            router.Reset(slot, false);
            return;
        }
    }
    UpdateWatch();
}

void TelnetConnection::UpdateWatch() {
    if (closed_)
        return;
    // A client that types far ahead of the router is not read further
    // until the router catches up.
    short events = input_.lines().size() < kMaxQueuedLines ? POLLIN : 0;
    if (!out_.empty())
        events |= POLLOUT;
    router_.loop().SetEvents(socket_.get(), events);
}

}  // namespace quellin::tarn
