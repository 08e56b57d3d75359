// The router side of one telnet dialogue: option requests, "Login:" and
// "Password:", the "# " prompt, echo of every command line and the paced
// output of the router shell.
#pragma once

#include <deque>
#include <string>

#include "sim_router.h"

namespace quellin::tarn {

// Splits the client's bytes into lines and telnet option replies.
class TelnetInput {
public:
    struct Option {
        unsigned char verb;  // 251 WILL, 252 WONT, 253 DO, 254 DONT
        unsigned char option;
    };
    static constexpr std::size_t kMaxLine = 4096;

    // Feeds received bytes; complete lines (without CR LF) and option
    // replies are collected in order of arrival.
    void Feed(const char* data, std::size_t size);
    std::deque<std::string>& lines() { return lines_; }
    std::deque<Option>& options() { return options_; }

private:
    void Data(char c);

    enum class State { kData, kCommand, kOption, kSub, kSubCommand };
    State state_ = State::kData;
    unsigned char verb_ = 0;
    bool afterCr_ = false;
    std::string line_;
    std::deque<std::string> lines_;
    std::deque<Option> options_;
};

// "WONT ECHO", "DO 24", ...
std::string DescribeOption(const TelnetInput::Option& option);

class TelnetConnection final : public Connection {
public:
    TelnetConnection(SimRouter& router, UniqueFd socket);
    ~TelnetConnection() override;

    void Start() override;
    void Close() override;

private:
    enum class Stage { kUser, kPassword, kShell, kSilent };
    enum class After { kNothing, kClose, kReset };
    // An answer without end, made as the client takes it.
    enum class Endless { kNone, kFlood, kTrickle, kLongLine };

    void OnEvents(short revents);
    void Drive();
    void HandleLine(const std::string& line);
    void HandleCommand(const std::string& line);
    bool StartEndlessAnswer(const std::string& line);
    void ContinueEndlessAnswer();
    void Queue(std::string bytes, int delayMs = 0);
    void Pump();
    void PumpPending();
    void UpdateWatch();
    bool busy() const { return !pending_.empty() || waiting_ || endless_ != Endless::kNone; }

    UniqueFd socket_;
    std::string peer_;
    TelnetInput input_;
    Stage stage_ = Stage::kUser;
    After after_ = After::kNothing;
    std::string resetSlot_;
    std::string user_;
    int failedLogins_ = 0;
    RouterShell shell_;
    std::deque<OutputPiece> pending_;
    std::string out_;
    bool waiting_ = false;
    EventLoop::TimerId timer_ = 0;
    Endless endless_ = Endless::kNone;
    std::size_t endlessLeft_ = 0;  // bytes of a long line still to come
    std::uint64_t endlessLines_ = 0;
};

}  // namespace quellin::tarn
