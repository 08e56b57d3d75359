#include "log_writer.h"

#include "codec.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quellin::syslogd {

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
    if (::fstat(fd_, &opened) == 0) {
        device_ = opened.st_dev;
        inode_ = opened.st_ino;
    }
    lastCheck_ = Clock::now();
    return true;
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
