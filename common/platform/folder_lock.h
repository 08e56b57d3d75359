// One writer per installation folder: the console and the command line both
// rewrite base.db whole, so whichever starts second must not run beside the
// first.  The lock is a file in the folder itself held with flock; the
// operating system releases it when the holder dies, however it dies.  The
// file is opened for reading only and never through a link; Setup creates it
// in an installation made by root, for the installation's group.
#pragma once

#include <string>

namespace quellin {

// The lock file's name inside the installation folder.
inline constexpr char kFolderLockName[] = ".Quellin_tool.lock";

class FolderLock {
public:
    enum class State {
        kAcquired,
        kHeldElsewhere,  // another process holds the folder
        kFailed,         // the lock file cannot be created or locked
    };

    // Tries once, without waiting.  folder ends in "/" and is CP932.
    explicit FolderLock(const std::string& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    State state() const { return state_; }
    bool acquired() const { return state_ == State::kAcquired; }
    // Why kFailed happened (strerror text, ASCII); empty otherwise.
    const std::string& reason() const { return reason_; }

private:
    int fd_ = -1;
    State state_ = State::kFailed;
    std::string reason_;
};

}  // namespace quellin
