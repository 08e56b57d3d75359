#include "hooks.h"

#include "file_descriptor.h"
#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace quellin::console {
namespace {

constexpr std::size_t kMaxWords = 256;

// Reads what the pipe holds now; false at its end or on an error.
bool Drain(int fd, std::string& output) {
    char buffer[4096];
    for (int reads = 0; reads < 64; ++reads) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno == EAGAIN;
        if (n == 0)
            return false;
        const std::size_t room = kMaxHookOutput - std::min(kMaxHookOutput, output.size());
        output.append(buffer, std::min(room, static_cast<std::size_t>(n)));
    }
    return true;
}

int ExitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::vector<std::string> SplitCommandWords(std::string_view command) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < command.size() && words.size() < kMaxWords) {
        while (i < command.size() && (command[i] == ' ' || command[i] == '\t'))
            ++i;
        if (i == command.size())
            break;
        std::string word;
        bool quoted = false;
        for (; i < command.size() && (quoted || (command[i] != ' ' && command[i] != '\t')); ++i) {
            if (command[i] == '"')
                quoted = !quoted;
            else
                word += command[i];
        }
        words.push_back(std::move(word));
    }
    return words;
}

HookRun RunHook(const std::vector<std::string>& words,
                const std::vector<std::pair<std::string, std::string>>& variables,
                std::chrono::milliseconds timeout) {
    HookRun run;
    if (words.empty() || words.front().empty()) {
        run.error = "no command";
        return run;
    }
    std::vector<std::string> environment;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        const std::string_view entry(*e);
        const bool replaced = std::ranges::any_of(
            variables, [&](const auto& v) { return entry.starts_with(v.first + "="); });
        if (!replaced)
            environment.emplace_back(entry);
    }
    for (const auto& [name, value] : variables)
        environment.push_back(name + "=" + value);
    const ExecStrings envp(std::move(environment));
    const ExecStrings argv(words);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        run.error = std::strerror(errno);
        return run;
    }
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    ::fcntl(readEnd.get(), F_SETFL, O_NONBLOCK);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDERR_FILENO);
    // A group of its own, so that what the hook starts dies with it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    const int rc =
        ::posix_spawnp(&pid, words.front().c_str(), &actions, &attributes, argv.get(), envp.get());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    writeEnd.Close();
    if (rc != 0) {
        run.error = std::string("cannot start ") + words.front() + ": " + std::strerror(rc);
        return run;
    }
    run.started = true;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool open = true;
    int status = 0;
    for (;;) {
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid) {
            // What it wrote before it ended; a child it left behind holding
            // the pipe does not hold us.
            Drain(readEnd.get(), run.output);
            ::kill(-pid, SIGKILL);
            run.status = ExitStatus(status);
            return run;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd watch{readEnd.get(), POLLIN, 0};
        const int wait = static_cast<int>(std::min<long long>(left.count(), 100));
        if (open && ::poll(&watch, 1, wait) > 0)
            open = Drain(readEnd.get(), run.output);
        else if (!open)
            ::poll(nullptr, 0, wait);
    }
    run.timedOut = true;
    ::kill(-pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = -1;
    return run;
}

}  // namespace quellin::console
