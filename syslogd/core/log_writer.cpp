#include "log_writer.h"

#include "codec.h"
#include "system_error_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace quellin::syslogd {
namespace {

// Generations beyond the kept ones that a lowered LogKeepCount leaves are
// removed up to this number.
constexpr int kGenerationLimit = 1000;
// A rotation that failed (no right to rename, say) is tried again after this.
constexpr std::chrono::seconds kRotationRetry{60};
// How often a count of lost lines that keeps growing is told.
constexpr std::chrono::seconds kLostLinesInterval{1};

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
    : onStatusChange_(std::move(onStatusChange)), options_(std::move(options)) {
    if (!options_.write)
        options_.write = ::write;
}

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
        Lose(0, errno);
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
                Lose(0, errno);
                return;
            }
        }
    }
    std::size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t written = options_.write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (written <= 0) {
            if (written < 0 && errno == EINTR)
                continue;
            // Whatever went wrong (a full disk, a file system gone), the
            // next flush starts again from opening the path.
            Lose(done, written < 0 ? errno : ENOSPC);
            return;
        }
        done += static_cast<std::size_t>(written);
        fileBytes_ += static_cast<std::uint64_t>(written);
    }
    buffer_.clear();
    Report(false, 0);
}

void LogWriter::Lose(std::size_t from, int error) {
    // The buffer holds whole lines; the one the failure cut goes out of
    // the file again.
    const std::size_t cut = from == 0 ? std::string::npos : buffer_.rfind('\n', from - 1);
    const std::size_t whole = cut == std::string::npos ? 0 : cut + 1;
    struct stat written {};
    if (from > whole && fd_ >= 0 && ::fstat(fd_, &written) == 0 &&
        written.st_size >= static_cast<off_t>(from - whole)) {
        if (::ftruncate(fd_, written.st_size - static_cast<off_t>(from - whole)) == 0)
            fileBytes_ -= std::min<std::uint64_t>(fileBytes_, from - whole);
    }
    lostLines_ += static_cast<std::uint64_t>(
        std::count(buffer_.begin() + static_cast<std::ptrdiff_t>(whole), buffer_.end(), '\n'));
    CloseFile();
    buffer_.clear();
    Report(true, error);
}

void LogWriter::Close() {
    Flush();
    CloseFile();
}

void LogWriter::Report(bool failing, int error) {
    // A change of state is told at once; more lines lost while the file
    // stays unwritable, at most once an interval.
    const auto now = Clock::now();
    if (failing == failing_ &&
        (lostLines_ == reportedLost_ || now - lastReport_ < kLostLinesInterval))
        return;
    failing_ = failing;
    reportedLost_ = lostLines_;
    lastReport_ = now;
    if (!onStatusChange_)
        return;
    LogWriteStatus status;
    status.failing = failing;
    status.path = path_;
    status.lostLines = lostLines_;
    if (failing)
        status.reason = SystemErrorText(error);
    onStatusChange_(status);
}

}  // namespace quellin::syslogd
