// The received-message log as the reception thread writes it: the file is
// kept open between datagrams, lines gather in a buffer and go out at the
// end of every batch of datagrams, so a line is in the file within
// milliseconds of its arrival.
//
// The file is reopened when the configured path changes and when it was
// renamed or removed behind the program (log rotation): every flush that
// comes a check interval after the last one compares the device and inode
// at the path with those of the open file.  A file that cannot be opened or
// written loses the lines of that flush, and a line is in the file whole or
// not at all: the head of a line cut by a full disk is taken out again, so
// that it cannot be glued to the first line written once there is room.
// The failure is reported once, and again only after a later flush went
// through; the lines lost are counted and reported with it.
//
// Rotation (LogRotateType): daily at local midnight or once the file has
// passed a size, the file is renamed to path.1, an older path.1 to path.2
// and so on, keeping `keep` generations; the oldest beyond them is
// removed.  It happens only between flushes, before the next lines are
// written, so a line is never split across files and none is lost.  A
// file found at start-up last written before today's midnight is rotated
// before the first line of the day goes in.
#pragma once

#include "clock.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace quellin::syslogd {

// Whether the log is being written; a change is reported to whoever shows it.
struct LogWriteStatus {
    bool failing = false;
    std::string path;             // CP932, as configured
    std::string reason;           // CP932, the system's reason, when failing
    std::uint64_t lostLines = 0;  // lines not written since start

    bool operator==(const LogWriteStatus&) const = default;
};

class LogWriter {
public:
    using Clock = std::chrono::steady_clock;

    enum class RotationType { None, Daily, BySize };
    struct Rotation {
        RotationType type = RotationType::None;
        std::uint64_t maxBytes = 0;  // BySize: rotate once the file holds this much
        int keep = 7;                // generations path.1 ... path.keep
        bool operator==(const Rotation&) const = default;
    };

    struct Options {
        // Buffered bytes that make a flush before the batch ends.
        std::size_t bufferLimit = 1 << 20;
        // How often a flush looks whether the file was moved away.
        std::chrono::milliseconds checkInterval{50};
        // write(2), or what a test puts in its place (a disk that fills up).
        std::function<ssize_t(int fd, const void* data, std::size_t size)> write;
    };

    LogWriter(std::function<void(const LogWriteStatus&)> onStatusChange, Options options);
    explicit LogWriter(std::function<void(const LogWriteStatus&)> onStatusChange = {})
        : LogWriter(std::move(onStatusChange), Options{}) {}
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // The path (CP932) of the lines appended from now on.  Lines buffered
    // for the previous path are written there first.
    void SetPath(std::string_view path);
    const std::string& path() const { return path_; }

    // The buffer a line is appended to, then LineAppended: the line end is
    // added here.
    std::string& buffer() { return buffer_; }
    void LineAppended();

    // How the file rotates from the next flush on; `clock` tells the date
    // (local midnight) and must outlive the writer.
    void SetRotation(const Rotation& rotation) { rotation_ = rotation; }
    void SetDateClock(const quellin::Clock& clock) { dateClock_ = &clock; }

    // Writes what is buffered.  Nothing buffered: nothing happens.
    void Flush();
    // Writes what is buffered and closes the file (logging switched off).
    void Close();

    // True while the last flush failed.
    bool failing() const { return failing_; }

private:
    bool OpenFile();
    bool MovedAway() const;
    void CloseFile();
    void Report(bool failing, int error);
    // The buffer from `from` on did not reach the file.
    void Lose(std::size_t from, int error);
    bool RotationDue(std::int64_t now) const;
    // Renames the generations and opens a new file; false when the file
    // could not be moved (it is written on as it is).
    bool Rotate();
    std::filesystem::path Generation(int n) const;

    std::function<void(const LogWriteStatus&)> onStatusChange_;
    Options options_;
    std::string path_;
    std::string buffer_;
    int fd_ = -1;
    std::uint64_t device_ = 0;
    std::uint64_t inode_ = 0;
    Clock::time_point lastCheck_{};
    bool failing_ = false;
    std::uint64_t lostLines_ = 0;
    std::uint64_t reportedLost_ = 0;
    Clock::time_point lastReport_{};
    Rotation rotation_;
    const quellin::Clock* dateClock_ = &CurrentClock();
    std::uint64_t fileBytes_ = 0;        // size of the open file
    std::int64_t periodEnd_ = 0;         // Daily: the midnight that ends the open file's day
    Clock::time_point retryRotation_{};  // after a rotation that failed
};

}  // namespace quellin::syslogd
