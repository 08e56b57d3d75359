#include "file_descriptor.h"

#include <unistd.h>

#include <cerrno>

namespace quellin {

bool UniqueFd::Close() {
    int fd = Release();
    return fd < 0 || ::close(fd) == 0;
}

bool ReadAll(int fd, std::string& bytes) {
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace quellin
