// Owned file descriptors, and whole reads and writes on them.  Files,
// sockets and pipes are closed by whoever holds them last, on every path.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace quellin {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Close(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = other.Release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Gives up ownership without closing.
    int Release() { return std::exchange(fd_, -1); }
    // Closes now rather than at the end of the scope.  False when close
    // fails: lost delayed writes show up there on some file systems, so a
    // writer checks it.  Nothing to close counts as success.
    bool Close();

private:
    int fd_ = -1;
};

// Appends everything up to the end of the file; false on a read error
// (errno tells which).
bool ReadAll(int fd, std::string& bytes);

// Writes all the bytes, however many calls that takes; false on a write
// error (errno tells which, EIO for a write that took nothing).
bool WriteAll(int fd, std::string_view bytes);

}  // namespace quellin
