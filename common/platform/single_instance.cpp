#include "single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace quellin {

std::filesystem::path RuntimeFolder() {
    if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir != nullptr && *dir != '\0')
        return dir;
    std::filesystem::path dir = "/tmp/quellin-" + std::to_string(getuid());
    ::mkdir(dir.c_str(), 0700);
    return dir;
}

SingleInstanceLock::SingleInstanceLock(const std::string& name) : name_(name) {
    auto path = RuntimeFolder() / (name + ".lock");
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) {
        // Without a lock file there is no way to tell; better to run than
        // to refuse.
        acquired_ = true;
        return;
    }
    acquired_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
}

SingleInstanceLock::~SingleInstanceLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::string SingleInstanceLock::ActivationSocketPath() const {
    return (RuntimeFolder() / (name_ + ".activate")).string();
}

}  // namespace quellin
