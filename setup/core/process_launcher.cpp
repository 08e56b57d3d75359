#include "process_launcher.h"

#include "process.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace quellin::setup {

StartResult PosixProcessLauncher::Start(const std::filesystem::path& program,
                                        const std::vector<std::string>& arguments) {
    const ExecStrings argv(program.string(), arguments);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.get(), environ);
    if (rc != 0)
        return {-1, rc};
    return {pid, 0};
}

std::optional<int> PosixProcessLauncher::Wait(int pid) {
    int status = 0;
    pid_t rc;
    do {
        rc = waitpid(pid, &status, 0);
    } while (rc < 0 && errno == EINTR);
    if (rc != pid)
        return std::nullopt;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return std::nullopt;
}

}  // namespace quellin::setup
