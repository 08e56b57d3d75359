#include "log_writer.h"

#include "codec.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace quellin::syslogd {
namespace {

// Generations beyond the kept ones that a lowered LogKeepCount leaves are
// removed up to this number.
constexpr int kGenerationLimit = 1000;
// A rotation that failed (no right to rename, say) is tried again after this.
constexpr std::chrono::seconds kRotationRetry{60};

// The local midnight that ends the day of `time`.
std::int64_t NextMidnight(std::int64_t time) {
    const std::time_t t = static_cast<std::time_t>(time);
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr)
        return time + 86400;
    return MakeLocalTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday + 1, 0, 0, 0);
}

}  // namespace

LogWriter::LogWriter(std::function<void(const LogWriteStatus&)> onStatusChange, Options options)
    : onStatusChange_(std::move(onStatusChange)), options_(options) {}

LogWriter::~LogWriter() {
    Close();
}

void LogWriter::SetPath(std::string_view path) {
    if (path == path_)
        return;
    Flush();
    CloseFile();
    path_ = std::string(path);
}

void LogWriter::LineAppended() {
    buffer_ += "\r\n";
    if (buffer_.size() >= options_.bufferLimit)
        Flush();
}

bool LogWriter::OpenFile() {
    const std::filesystem::path file = cp932::ToPath(path_);
    fd_ = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0)
        return false;
    struct stat opened {};
    fileBytes_ = 0;
    std::int64_t lastWritten = 0;
    if (::fstat(fd_, &opened) == 0) {
        device_ = opened.st_dev;
        inode_ = opened.st_ino;
        fileBytes_ = static_cast<std::uint64_t>(opened.st_size);
        lastWritten = opened.st_mtim.tv_sec;
    }
    // The day of a file that holds lines is the day it was last written:
    // a file left from yesterday is rotated before today's first line.
    const std::int64_t now = dateClock_->Now();
    periodEnd_ = NextMidnight(fileBytes_ > 0 && lastWritten < now ? lastWritten : now);
    lastCheck_ = Clock::now();
    return true;
}

bool LogWriter::RotationDue(std::int64_t now) const {
    if (fileBytes_ == 0)
        return false;
    switch (rotation_.type) {
        case RotationType::None:
            return false;
        case RotationType::BySize:
            return rotation_.maxBytes > 0 && fileBytes_ >= rotation_.maxBytes;
        case RotationType::Daily:
            // A clock set back by more than a day starts the day afresh
            // rather than waiting for a midnight far ahead.
            return now >= periodEnd_;
    }
    return false;
}

std::filesystem::path LogWriter::Generation(int n) const {
    return cp932::ToPath(path_ + "." + std::to_string(n));
}

bool LogWriter::Rotate() {
    CloseFile();
    const std::filesystem::path current = cp932::ToPath(path_);
    const int keep = std::clamp(rotation_.keep, 0, kGenerationLimit);
    bool moved;
    if (keep == 0) {
        moved = ::unlink(current.c_str()) == 0 || errno == ENOENT;
    } else {
        ::unlink(Generation(keep).c_str());
        for (int n = keep - 1; n >= 1; --n)
            ::rename(Generation(n).c_str(), Generation(n + 1).c_str());
        moved = ::rename(current.c_str(), Generation(1).c_str()) == 0;
    }
    // Generations a lowered count no longer keeps.
    for (int n = keep + 1; n <= kGenerationLimit; ++n) {
        if (::unlink(Generation(n).c_str()) != 0 && errno == ENOENT)
            break;
    }
    return moved;
}

// The file at the path is no longer the open one: renamed, removed, or
// replaced.
bool LogWriter::MovedAway() const {
    struct stat current {};
    if (::stat(cp932::ToPath(path_).c_str(), &current) != 0)
        return true;
    return current.st_dev != device_ || current.st_ino != inode_;
}

void LogWriter::CloseFile() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void LogWriter::Flush() {
    if (buffer_.empty())
        return;
    if (fd_ >= 0) {
        const auto now = Clock::now();
        if (now - lastCheck_ >= options_.checkInterval) {
            lastCheck_ = now;
            if (MovedAway())
                CloseFile();
        }
    }
    if (fd_ < 0 && !OpenFile()) {
        const int error = errno;
        buffer_.clear();
        Report(true, error);
        return;
    }
    // The buffer holds whole lines: rotating here, before they go in,
    // splits none.
    if (rotation_.type != RotationType::None) {
        const std::int64_t now = dateClock_->Now();
        if (rotation_.type == RotationType::Daily && periodEnd_ - now > 2 * 86400)
            periodEnd_ = NextMidnight(now);
        const auto steadyNow = Clock::now();
        if (RotationDue(now) && steadyNow >= retryRotation_) {
            if (!Rotate())
                retryRotation_ = steadyNow + kRotationRetry;
            if (fd_ < 0 && !OpenFile()) {
                const int error = errno;
                buffer_.clear();
                Report(true, error);
                return;
            }
        }
    }
    const char* data = buffer_.data();
    std::size_t left = buffer_.size();
    while (left > 0) {
        const ssize_t written = ::write(fd_, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            // Whatever went wrong (a full disk, a file system gone), the
            // next flush starts again from opening the path.
            const int error = errno;
            CloseFile();
            buffer_.clear();
            Report(true, error);
            return;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
        fileBytes_ += static_cast<std::uint64_t>(written);
    }
    buffer_.clear();
    Report(false, 0);
}

void LogWriter::Close() {
    Flush();
    CloseFile();
}

void LogWriter::Report(bool failing, int error) {
    if (failing == failing_)
        return;
    failing_ = failing;
    if (!onStatusChange_)
        return;
    LogWriteStatus status;
    status.failing = failing;
    status.path = path_;
    if (failing)
        status.reason = std::strerror(error);
    onStatusChange_(status);
}

}  // namespace quellin::syslogd
