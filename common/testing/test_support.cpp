#include "test_support.h"

#include "codec.h"
#include "process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace quellin::testing {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quellin-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        std::abort();
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return std::move(content).str();
}

void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Repeat(const std::string& text, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += text;
    return out;
}

std::string Sjis(std::string_view utf8) {
    return cp932::Jp(utf8);
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment,
                           const std::string& workingDirectory, const std::string& stdoutPath,
                           const std::string& stderrPath) {
    const ExecStrings argv(program, arguments);

    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        env.emplace_back(*e);
    for (const auto& extra : environment) {
        auto name = extra.substr(0, extra.find('=') + 1);
        std::erase_if(env, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
        env.push_back(extra);
    }
    const ExecStrings envp(std::move(env));

    if (!workingDirectory.empty() || !stdoutPath.empty() || !stderrPath.empty()) {
        // posix_spawn has no portable chdir action in this libc; fork instead.
        pid_t pid = fork();
        if (pid == 0) {
            if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0)
                _exit(127);
            for (const auto& [path, target] : {std::pair{&stdoutPath, 1}, {&stderrPath, 2}}) {
                if (path->empty())
                    continue;
                int fd = ::open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd < 0 || dup2(fd, target) < 0)
                    _exit(127);
                ::close(fd);
            }
            execve(program.c_str(), argv.get(), envp.get());
            _exit(127);
        }
        pid_ = pid;
        return;
    }
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.get(), envp.get()) == 0)
        pid_ = pid;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

std::optional<int> ChildProcess::Wait(int timeoutMs) {
    if (status_ || pid_ <= 0)
        return status_;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        int status = 0;
        pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return status_;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return std::nullopt;
}

bool ChildProcess::Running() {
    return pid_ > 0 && !Wait(0);
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0 && !status_)
        ::kill(pid_, signal);
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

int EndedProcess() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

std::vector<std::string> LogMessages(const std::filesystem::path& file, const std::string& name) {
    std::vector<std::string> messages;
    std::istringstream log(std::filesystem::exists(file) ? ReadFile(file) : "");
    for (std::string line; std::getline(log, line);) {
        auto at = line.find("," + name + ",");
        if (at != 19 || !line.ends_with("\r")) {
            messages.push_back("<malformed> " + line);
            continue;
        }
        messages.push_back(line.substr(at + name.size() + 2, line.size() - at - name.size() - 3));
    }
    std::erase(messages, Sjis("装置を登録しました。"));
    return messages;
}

}  // namespace quellin::testing
