// Test peers for the router simulator: the tarnsim process itself, a plain
// TCP line client, a tiny FTP client and the journal reader.  Everything
// waits with a deadline, so a broken simulator fails a test instead of
// hanging it.
#pragma once

#include "file_descriptor.h"

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quellin::tarn::testing {

using std::chrono::milliseconds;
inline constexpr milliseconds kPatience{10000};

struct ReadyRouter {
    std::string name;
    std::string address;
    int telnetPort = 0;
    int ftpPort = 0;
};

// A running tarnsim; stopped with SIGTERM (and, if it lingers, SIGKILL)
// when the object goes away.
class TarnsimProcess {
public:
    // Starts tarnsim with the arguments and waits for "ready all N".
    explicit TarnsimProcess(const std::vector<std::string>& arguments);
    ~TarnsimProcess();
    TarnsimProcess(const TarnsimProcess&) = delete;
    TarnsimProcess& operator=(const TarnsimProcess&) = delete;

    bool ready() const { return ready_; }
    const std::vector<ReadyRouter>& routers() const { return routers_; }
    const ReadyRouter& router(std::size_t i = 0) const { return routers_.at(i); }
    // Sends SIGTERM and waits; the exit status, or -1.
    int Stop();

private:
    pid_t pid_ = -1;
    int output_ = -1;
    bool ready_ = false;
    std::vector<ReadyRouter> routers_;
};

// tarnsim playing the fleet file's text, which it finds as fleet.txt in
// `folder`, keeping its state (and journal) in folder/sim; ready() says
// whether it got ready.
std::unique_ptr<TarnsimProcess> StartFleet(const std::filesystem::path& folder,
                                           const std::string& fleet);

// A port among `pairs` pairs from `first` (its next one is the program's
// too) and a "127.x.y." address block, both of this test process's own, so
// that test programs running at the same time do not meet on loopback.
// Each program passes its own `first` and `salt`.
int OwnPort(int first, int pairs);
std::string OwnAddressBlock(int salt);

// Runs a program to its end with the arguments; its exit status and what it
// wrote to standard output and standard error.
struct RunResult {
    int status = -1;
    std::string output;
};
RunResult RunProgram(const std::string& program, const std::vector<std::string>& arguments);

// Runs a program to its end, for at most `patience` (then it is killed),
// with `environment` entries "NAME=value" set on top of this process's
// environment.  What it wrote to standard output and to standard error, how
// long it ran and the most memory it ever held.
struct MeasuredRun {
    int status = -1;  // 128 + the signal for a program ended by one
    bool killed = false;
    std::string output;
    std::string errors;
    milliseconds elapsed{0};
    long peakKiB = 0;  // largest resident set
};
MeasuredRun RunMeasured(const std::string& program, const std::vector<std::string>& arguments,
                        milliseconds patience, const std::vector<std::string>& environment = {});

std::string BinPath(const std::string& program);

class LineClient {
public:
    LineClient(const std::string& address, int port);

    bool connected() const { return fd_.valid(); }
    bool Send(const std::string& bytes);
    // Everything received until the text has arrived (included); nullopt
    // when the deadline passes or the peer closes first.
    std::optional<std::string> ReadUntil(const std::string& text,
                                         milliseconds patience = kPatience);
    // Everything until the peer closes; nullopt on time-out.
    std::optional<std::string> ReadToEnd(milliseconds patience = kPatience);
    // Whatever arrives within the time (for checking that nothing does).
    std::string ReadFor(milliseconds time);
    // Bytes received but not yet returned.
    const std::string& buffered() const { return buffer_; }
    bool closedByPeer() const { return closed_; }

private:
    bool ReceiveSome(std::chrono::steady_clock::time_point deadline);
    UniqueFd fd_;
    std::string buffer_;
    bool closed_ = false;
};

// Logs in over telnet and waits for the prompt.
bool TelnetLogin(LineClient& client, const std::string& user, const std::string& password);

// Stores the bytes under the remote name over FTP (passive or active).
// Empty on success, else the step that failed and what the server said.
std::string FtpStore(const std::string& address, int port, const std::string& user,
                     const std::string& password, const std::string& remote,
                     const std::string& bytes, bool passive);

// The journal's lines that contain every one of the texts, waiting until
// at least `count` such lines exist.
std::vector<std::string> WaitForJournal(const std::filesystem::path& journal,
                                        const std::vector<std::string>& texts,
                                        std::size_t count = 1, milliseconds patience = kPatience);

}  // namespace quellin::tarn::testing
