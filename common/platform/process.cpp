#include "process.h"

#include "file_descriptor.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

extern char** environ;

namespace quellin {
namespace {

// A pipe whose ends close on exec; the write end tells the parent why an
// exec failed, and its closing on a successful exec tells that it worked.
class ErrorPipe {
public:
    ErrorPipe() {
        if (::pipe2(fds_, O_CLOEXEC) != 0)
            fds_[0] = fds_[1] = -1;
    }
    ~ErrorPipe() {
        CloseRead();
        CloseWrite();
    }
    ErrorPipe(const ErrorPipe&) = delete;
    ErrorPipe& operator=(const ErrorPipe&) = delete;

    bool valid() const { return fds_[0] >= 0; }
    int read() const { return fds_[0]; }
    int write() const { return fds_[1]; }
    void CloseRead() {
        if (fds_[0] >= 0)
            ::close(fds_[0]);
        fds_[0] = -1;
    }
    void CloseWrite() {
        if (fds_[1] >= 0)
            ::close(fds_[1]);
        fds_[1] = -1;
    }

private:
    int fds_[2];
};

// Runs in the forked children: only async-signal-safe calls from here on,
// since the parent may have had other threads.
[[noreturn]] void ExecGrandchild(const char* program, char* const* argv, const char* folder,
                                 int errorFd) {
    ::setsid();
    // The standard streams are replaced next; keep the pipe out of their way.
    if (errorFd <= STDERR_FILENO)
        errorFd = ::fcntl(errorFd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        if (null > STDERR_FILENO)
            ::close(null);
    }
    if (folder[0] == '\0' || ::chdir(folder) == 0)
        ::execv(program, argv);
    int error = errno;
    ssize_t ignored = ::write(errorFd, &error, sizeof error);
    static_cast<void>(ignored);
    ::_exit(127);
}

}  // namespace

ExecStrings::ExecStrings(std::vector<std::string> strings) : strings_(std::move(strings)) {
    for (auto& text : strings_)
        pointers_.push_back(text.data());
    pointers_.push_back(nullptr);
}

ExecStrings::ExecStrings(const std::string& program, const std::vector<std::string>& arguments)
    : ExecStrings([&] {
          std::vector<std::string> words{program};
          words.insert(words.end(), arguments.begin(), arguments.end());
          return words;
      }()) {}

Result<void> StartDetached(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& folder) {
    // Everything the children need is prepared before the fork.
    const ExecStrings argv(program, arguments);
    auto fail = [&](int error) { return SystemError(error, "cannot start " + program); };

    ErrorPipe pipe;
    if (!pipe.valid())
        return fail(errno);
    pid_t child = ::fork();
    if (child < 0)
        return fail(errno);
    if (child == 0) {
        // The intermediate child only forks again and ends, so the program
        // becomes the system's child and is reaped when it ends.
        pipe.CloseRead();
        pid_t grandchild = ::fork();
        if (grandchild == 0)
            ExecGrandchild(program.c_str(), argv.get(), folder.c_str(), pipe.write());
        if (grandchild < 0) {
            int error = errno;
            ssize_t ignored = ::write(pipe.write(), &error, sizeof error);
            static_cast<void>(ignored);
        }
        ::_exit(0);
    }
    pipe.CloseWrite();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // End of file without an error number: the exec succeeded.
    int error = 0;
    ssize_t got = 0;
    do {
        got = ::read(pipe.read(), &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    if (got == static_cast<ssize_t>(sizeof error))
        return fail(error);
    if (got != 0)
        return fail(EIO);
    return {};
}

ProgramRun RunAndRead(const std::string& program, const std::vector<std::string>& arguments) {
    ProgramRun run;
    const ExecStrings argv(program, arguments);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return run;
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.get(), environ);
    posix_spawn_file_actions_destroy(&actions);
    writeEnd.Close();
    if (rc != 0)
        return run;
    // What the program printed before a read error is still worth having.
    ReadAll(readEnd.get(), run.output);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.ran = true;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

int FindProcessOf(const std::string& program) {
    // The program as the system names it in each process's "exe" link: its
    // real path, links and ".." resolved.
    std::error_code error;
    const std::string wanted = std::filesystem::weakly_canonical(program, error).string();
    if (error || wanted.empty())
        return 0;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return 0;
    int found = 0;
    while (dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        const std::string base = std::string("/proc/") + entry->d_name;
        // A process whose link cannot be read (another user's) cannot be
        // told from a program of the same name elsewhere, so it is not ours.
        char target[4096];
        ssize_t n = ::readlink((base + "/exe").c_str(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        std::string path(target, static_cast<std::size_t>(n));
        // The program file replaced (an update) while it runs.
        const std::string deleted = " (deleted)";
        if (path != wanted && path.ends_with(deleted))
            path.resize(path.size() - deleted.size());
        if (path != wanted)
            continue;
        std::ifstream stat(base + "/stat");
        std::string line;
        if (!std::getline(stat, line))
            continue;
        auto close = line.rfind(')');
        if (close == std::string::npos || close + 2 >= line.size() || line[close + 2] == 'Z')
            continue;
        found = static_cast<int>(pid);
        break;
    }
    ::closedir(proc);
    return found;
}

}  // namespace quellin
