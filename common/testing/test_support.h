// Helpers shared by the tests of every module, and the fakes of the
// platform's seams.
#pragma once

#include "fake_clock.h"
#include "fake_message_boxes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace quellin::testing {

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The folder as CP932 text ending in "/", as the programs build paths.
    std::string folder() const { return path_.string() + "/"; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// A fixture holding a TempDir as `dir`.
class TempDirTest : public ::testing::Test {
protected:
    TempDir dir;
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, std::string_view bytes);

// The text n times over (a file of n equal lines, say).
std::string Repeat(const std::string& text, int n);

// A UTF-8 literal as CP932 bytes (short for cp932::Jp).
std::string Sjis(std::string_view utf8);

// The message parts of a device's operation log ("date time,name,message"
// CR LF lines), "<malformed> LINE" for a line not in that form; the line of
// the device's registration is left out, so that a test sees its
// operations' lines alone.
std::vector<std::string> LogMessages(const std::filesystem::path& file, const std::string& name);

// A program started by a test, killed and reaped when the object goes.
class ChildProcess {
public:
    // Starts program with the arguments (argv[0] is added); `environment`
    // entries "NAME=value" are added to this process's environment.
    // With stdoutPath (stderrPath), the program's standard output (error)
    // goes to that file.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::vector<std::string>& environment = {},
                 const std::string& workingDirectory = {}, const std::string& stdoutPath = {},
                 const std::string& stderrPath = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    int pid() const { return pid_; }
    // Waits up to timeoutMs for the end; the exit status, or nullopt while it
    // still runs (a signal ending it gives 128 + the signal number).
    std::optional<int> Wait(int timeoutMs);
    bool Running();
    void Signal(int signal);

private:
    int pid_ = -1;
    std::optional<int> status_;
};

// Names parameterised cases after their table row's `name`.
struct RowName {
    template <typename Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& row) const {
        return row.param.name;
    }
};

// Table rows show as their name in test listings and failure messages.
// gtest finds this through argument-dependent lookup, so a test file brings
// it into the rows' namespace with `using quellin::testing::PrintTo;`.
template <typename Row>
requires requires(const Row& row) {
    row.name;
}
void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

// Polls the condition every 20 ms for up to timeoutMs.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

// The id of a process that has ended and been reaped: one that no longer
// holds what it left behind.
int EndedProcess();

}  // namespace quellin::testing
