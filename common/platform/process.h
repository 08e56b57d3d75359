// Starting other programs and finding running ones.
#pragma once

#include "result.h"

#include <string>
#include <vector>

namespace quellin {

// Strings as exec and posix_spawn take them (an argument vector or an
// environment): C strings followed by a null pointer.  Built before a fork,
// since the child of a process with threads must not allocate.  Neither
// copied nor moved: the pointers point into the strings held here.
class ExecStrings {
public:
    explicit ExecStrings(std::vector<std::string> strings);
    // An argument vector: the program's path first, then the arguments.
    ExecStrings(const std::string& program, const std::vector<std::string>& arguments);
    ExecStrings(const ExecStrings&) = delete;
    ExecStrings& operator=(const ExecStrings&) = delete;

    char* const* get() const { return pointers_.data(); }

private:
    std::vector<std::string> strings_;
    std::vector<char*> pointers_;
};

// Starts the program (a path, no search, never through a shell) with the
// arguments and returns as soon as it runs.  It runs in a session of its own
// as a grandchild that the system reaps, so no zombie is left, with its
// standard streams on /dev/null; with a folder it starts there.  A failure
// is "cannot start <program>: <why>" with the failing step's errno.
Result<void> StartDetached(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& folder = {});

struct ProgramRun {
    bool ran = false;  // the program started and was waited for
    int status = -1;   // its exit status, -1 when a signal ended it
    std::string output;
};

// Runs the program (a path, no search, never through a shell) with the
// arguments to its end and collects its standard output.
ProgramRun RunAndRead(const std::string& program, const std::vector<std::string>& arguments);

// The id of the first running process of this very program file (a path;
// the same file reached through links counts), or 0.  A program of the same
// name elsewhere, or a process whose program cannot be read (another
// user's), does not count; processes that have ended but are not yet
// reaped are skipped.
int FindProcessOf(const std::string& program);

}  // namespace quellin
