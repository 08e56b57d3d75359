// The operator's own commands run on an event (a changed configuration, a
// failing device, ...): started without a shell, the value split into
// words, the event's facts in the environment, killed when they outlast
// their time.  A hook's failure is logged, never the run's failure.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quellin::console {

// The command's words: split at blanks; double quotes hold a word with
// blanks together (and lose their quotes).  At most 256 words.
std::vector<std::string> SplitCommandWords(std::string_view command);

struct HookRun {
    bool started = false;
    int status = -1;  // its exit status, -1 when a signal ended it
    bool timedOut = false;
    std::string output;  // standard output and error, at most kMaxHookOutput bytes
    std::string error;   // why it did not start (ASCII)
};

// What is kept of a hook's output; the rest is read and dropped.
inline constexpr std::size_t kMaxHookOutput = 4096;

// Runs the command (its first word a path, or a name looked up in PATH)
// with the variables added to this process's environment and waits for it,
// at most `timeout`: then it and every process it started in its group are
// killed.  Its standard input is /dev/null.
HookRun RunHook(const std::vector<std::string>& words,
                const std::vector<std::pair<std::string, std::string>>& variables,
                std::chrono::milliseconds timeout);

}  // namespace quellin::console
