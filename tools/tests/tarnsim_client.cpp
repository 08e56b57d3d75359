#include "tarnsim_client.h"

#include "process.h"
#include "socket_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace quellin::tarn::testing {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

pid_t Spawn(const std::string& program, const std::vector<std::string>& arguments, int& output,
            bool withErrors = false) {
    int pipes[2];
    if (::pipe2(pipes, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipes[1], STDOUT_FILENO);
    if (withErrors)
        posix_spawn_file_actions_adddup2(&actions, pipes[1], STDERR_FILENO);
    const ExecStrings argv(program, arguments);
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.get(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipes[1]);
    output = pipes[0];
    return pid;
}

// Waits for the child for at most the time; its status, or nullopt.
std::optional<int> WaitFor(pid_t pid, milliseconds patience) {
    auto deadline = Clock::now() + patience;
    while (true) {
        int status = 0;
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0)
            return -1;
        if (Clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(milliseconds(10));
    }
}

}  // namespace

std::string BinPath(const std::string& program) {
    return std::string(QUELLIN_BIN_DIR) + "/" + program;
}

std::unique_ptr<TarnsimProcess> StartFleet(const std::filesystem::path& folder,
                                           const std::string& fleet) {
    std::ofstream(folder / "fleet.txt", std::ios::binary) << fleet;
    return std::make_unique<TarnsimProcess>(std::vector<std::string>{
        "--state", (folder / "sim").string(), "--fleet", (folder / "fleet.txt").string()});
}

int OwnPort(int first, int pairs) {
    return first + static_cast<int>(::getpid() % pairs) * 2;
}

std::string OwnAddressBlock(int salt) {
    const int pid = static_cast<int>(::getpid());
    return "127." + std::to_string(40 + (pid + salt) % 200) + "." +
           std::to_string(pid / 200 % 250) + ".";
}

TarnsimProcess::TarnsimProcess(const std::vector<std::string>& arguments) {
    pid_ = Spawn(BinPath("tarnsim"), arguments, output_);
    if (pid_ < 0)
        return;
    std::string text;
    auto deadline = Clock::now() + kPatience;
    while (!ready_) {
        pollfd p{output_, POLLIN, 0};
        if (::poll(&p, 1, RemainingMs(deadline)) <= 0)
            return;
        char buffer[4096];
        ssize_t n = ::read(output_, buffer, sizeof buffer);
        if (n <= 0)
            return;
        text.append(buffer, static_cast<std::size_t>(n));
        std::size_t lf;
        while ((lf = text.find('\n')) != std::string::npos) {
            std::istringstream line(text.substr(0, lf));
            text.erase(0, lf + 1);
            std::string word;
            ReadyRouter router;
            std::string telnet;
            std::string ftp;
            line >> word >> router.name >> router.address >> telnet >> ftp;
            if (word != "ready")
                continue;
            if (router.name == "all") {
                ready_ = true;
                break;
            }
            if (telnet.rfind("telnet=", 0) == 0)
                router.telnetPort = std::stoi(telnet.substr(7));
            if (ftp.rfind("ftp=", 0) == 0)
                router.ftpPort = std::stoi(ftp.substr(4));
            routers_.push_back(router);
        }
    }
}

int TarnsimProcess::Stop() {
    if (pid_ < 0)
        return -1;
    ::kill(pid_, SIGTERM);
    auto status = WaitFor(pid_, milliseconds(5000));
    if (!status) {
        ::kill(pid_, SIGKILL);
        status = WaitFor(pid_, milliseconds(5000));
    }
    pid_ = -1;
    if (output_ >= 0)
        ::close(output_);
    output_ = -1;
    return status.value_or(-1);
}

TarnsimProcess::~TarnsimProcess() {
    Stop();
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments) {
    RunResult result;
    int output = -1;
    pid_t pid = Spawn(program, arguments, output, true);
    if (pid < 0)
        return result;
    auto deadline = Clock::now() + kPatience;
    while (true) {
        pollfd p{output, POLLIN, 0};
        if (::poll(&p, 1, RemainingMs(deadline)) <= 0)
            break;
        char buffer[4096];
        ssize_t n = ::read(output, buffer, sizeof buffer);
        if (n <= 0)
            break;
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(output);
    auto status = WaitFor(pid, milliseconds(5000));
    if (!status) {
        ::kill(pid, SIGKILL);
        status = WaitFor(pid, milliseconds(5000));
    }
    result.status = status.value_or(-1);
    return result;
}

MeasuredRun RunMeasured(const std::string& program, const std::vector<std::string>& arguments,
                        milliseconds patience, const std::vector<std::string>& environment) {
    MeasuredRun run;
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return run;
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return run;
    }
    std::vector<std::string> variables;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string text = *variable;
        const bool replaced = std::any_of(environment.begin(), environment.end(), [&](auto& e) {
            return e.substr(0, e.find('=') + 1) == text.substr(0, text.find('=') + 1);
        });
        if (!replaced)
            variables.push_back(text);
    }
    variables.insert(variables.end(), environment.begin(), environment.end());
    const ExecStrings envp(variables);
    const ExecStrings argv(program, arguments);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    const auto start = Clock::now();
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.get(), envp.get()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    if (pid < 0) {
        ::close(out[0]);
        ::close(err[0]);
        return run;
    }
    const auto deadline = start + patience;
    pollfd pipes[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* texts[2] = {&run.output, &run.errors};
    while ((pipes[0].fd >= 0 || pipes[1].fd >= 0) && ::poll(pipes, 2, RemainingMs(deadline)) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (pipes[i].revents == 0)
                continue;
            char buffer[65536];
            ssize_t n = ::read(pipes[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                texts[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(pipes[i].fd);
                pipes[i].fd = -1;  // poll skips negative descriptors
            }
        }
    }
    int status = 0;
    rusage usage{};
    pid_t done = 0;
    while ((done = ::wait4(pid, &status, WNOHANG, &usage)) == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(10));
    if (done == 0) {
        ::kill(pid, SIGKILL);
        run.killed = true;
        done = ::wait4(pid, &status, 0, &usage);
    }
    run.elapsed = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    for (const pollfd& p : pipes)
        if (p.fd >= 0)
            ::close(p.fd);
    if (done == pid) {
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.peakKiB = usage.ru_maxrss;
    }
    return run;
}

LineClient::LineClient(const std::string& address, int port)
    : fd_(::quellin::testing::ConnectToLoopback(address, static_cast<std::uint16_t>(port))) {}

bool LineClient::Send(const std::string& bytes) {
    if (!fd_.valid())
        return false;
    return ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

bool LineClient::ReceiveSome(Clock::time_point deadline) {
    if (!fd_.valid() || closed_)
        return false;
    pollfd p{fd_.get(), POLLIN, 0};
    if (::poll(&p, 1, RemainingMs(deadline)) <= 0)
        return false;
    char buffer[8192];
    ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, 0);
    if (n <= 0) {
        closed_ = true;
        return false;
    }
    buffer_.append(buffer, static_cast<std::size_t>(n));
    return true;
}

std::optional<std::string> LineClient::ReadUntil(const std::string& text, milliseconds patience) {
    auto deadline = Clock::now() + patience;
    while (true) {
        if (auto at = buffer_.find(text); at != std::string::npos) {
            std::string result = buffer_.substr(0, at + text.size());
            buffer_.erase(0, at + text.size());
            return result;
        }
        if (!ReceiveSome(deadline))
            return std::nullopt;
    }
}

std::optional<std::string> LineClient::ReadToEnd(milliseconds patience) {
    auto deadline = Clock::now() + patience;
    while (!closed_) {
        if (!ReceiveSome(deadline) && !closed_)
            return std::nullopt;
    }
    std::string result = std::move(buffer_);
    buffer_.clear();
    return result;
}

std::string LineClient::ReadFor(milliseconds time) {
    auto deadline = Clock::now() + time;
    while (Clock::now() < deadline && ReceiveSome(deadline)) {
    }
    std::string result = std::move(buffer_);
    buffer_.clear();
    return result;
}

bool TelnetLogin(LineClient& client, const std::string& user, const std::string& password) {
    return client.ReadUntil("Login:") && client.Send(user + "\r\n") &&
           client.ReadUntil("Password:") && client.Send(password + "\r\n") &&
           client.ReadUntil("# ");
}

namespace {

// Reads one (possibly multi-line) FTP reply; its text, empty on failure.
std::string FtpReply(LineClient& control) {
    auto first = control.ReadUntil("\r\n");
    if (!first)
        return {};
    std::string reply = *first;
    if (reply.size() >= 4 && reply[3] == '-') {
        std::string end = reply.substr(0, 3) + " ";
        while (true) {
            auto line = control.ReadUntil("\r\n");
            if (!line)
                return {};
            reply += *line;
            if (line->rfind(end, 0) == 0)
                break;
        }
    }
    return reply;
}

}  // namespace

std::string FtpStore(const std::string& address, int port, const std::string& user,
                     const std::string& password, const std::string& remote,
                     const std::string& bytes, bool passive) {
    LineClient control(address, port);
    if (!control.connected())
        return "connect";
    auto expect = [&](const std::string& command, const char* code) -> std::string {
        if (!command.empty() && !control.Send(command + "\r\n"))
            return command + ": send";
        std::string reply = FtpReply(control);
        if (reply.rfind(code, 0) != 0)
            return (command.empty() ? "greeting" : command) + ": " + reply;
        return {};
    };
    if (auto e = expect("", "220"); !e.empty())
        return e;
    if (auto e = expect("USER " + user, "331"); !e.empty())
        return e;
    if (auto e = expect("PASS " + password, "230"); !e.empty())
        return e;
    if (auto e = expect("TYPE I", "200"); !e.empty())
        return e;

    UniqueFd data;
    UniqueFd listener;
    if (passive) {
        control.Send("PASV\r\n");
        std::string reply = FtpReply(control);
        auto open = reply.find('(');
        unsigned n[6] = {};
        if (reply.rfind("227", 0) != 0 || open == std::string::npos ||
            std::sscanf(reply.c_str() + open, "(%u,%u,%u,%u,%u,%u)", &n[0], &n[1], &n[2], &n[3],
                        &n[4], &n[5]) != 6)
            return "PASV: " + reply;
        std::string host = std::to_string(n[0]) + "." + std::to_string(n[1]) + "." +
                           std::to_string(n[2]) + "." + std::to_string(n[3]);
        data = ::quellin::testing::ConnectToLoopback(host,
                                                     static_cast<std::uint16_t>(n[4] * 256 + n[5]));
        if (!data.valid())
            return "data connect";
    } else {
        listener = ::quellin::testing::ListenOnLoopback(1);
        unsigned p = ::quellin::testing::BoundPort(listener.get());
        if (p == 0)
            return "listen";
        if (auto e = expect(
                "PORT 127,0,0,1," + std::to_string(p >> 8) + "," + std::to_string(p & 255), "200");
            !e.empty())
            return e;
    }
    std::string failure;
    if (!control.Send("STOR " + remote + "\r\n"))
        failure = "STOR: send";
    if (failure.empty()) {
        if (!passive) {
            pollfd p{listener.get(), POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(kPatience.count())) == 1)
                data = UniqueFd(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (!data.valid())
                failure = "accept";
        }
    }
    if (failure.empty()) {
        std::string reply = FtpReply(control);
        if (reply.rfind("150", 0) != 0)
            failure = "STOR: " + reply;
    }
    if (failure.empty()) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            ssize_t n = ::send(data.get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<std::size_t>(n);
        }
        if (sent != bytes.size())
            failure = "data send";
    }
    data.Close();
    listener.Close();
    if (failure.empty()) {
        std::string reply = FtpReply(control);
        if (reply.rfind("226", 0) != 0)
            failure = "transfer: " + reply;
    }
    if (failure.empty())
        failure = expect("QUIT", "221");
    return failure;
}

std::vector<std::string> WaitForJournal(const std::filesystem::path& journal,
                                        const std::vector<std::string>& texts, std::size_t count,
                                        milliseconds patience) {
    auto deadline = Clock::now() + patience;
    std::vector<std::string> found;
    while (true) {
        found.clear();
        std::ifstream in(journal);
        std::string line;
        while (std::getline(in, line)) {
            bool all = true;
            for (const auto& text : texts)
                all = all && line.find(text) != std::string::npos;
            if (all)
                found.push_back(line);
        }
        if (found.size() >= count || Clock::now() >= deadline)
            return found;
        std::this_thread::sleep_for(milliseconds(20));
    }
}

}  // namespace quellin::tarn::testing
