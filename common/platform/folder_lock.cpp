#include "folder_lock.h"

#include "codec.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quellin {

FolderLock::FolderLock(const std::string& folder) {
    const auto path = cp932::ToPath(folder + kFolderLockName);
    // Never through a link: in a folder the installation's group may write,
    // a link planted under the lock's name would have root create or open a
    // file anywhere.  flock needs no write access, so a lock file that only
    // lets its reader in serves every member; O_NONBLOCK keeps a FIFO in its
    // place from blocking the start.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        reason_ = std::strerror(errno);
        return;
    }
    int result;
    do {
        result = ::flock(fd_, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0) {
        state_ = State::kAcquired;
    } else if (errno == EWOULDBLOCK) {
        state_ = State::kHeldElsewhere;
    } else {
        reason_ = std::strerror(errno);
    }
}

FolderLock::~FolderLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

}  // namespace quellin
