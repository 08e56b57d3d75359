#include "config_file.h"

#include "codec.h"
#include "file_descriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace quellin::history {

std::optional<std::string> ReadConfigFile(const std::string& path, std::string& reason) {
    auto fail = [&](const char* why) {
        reason = path + ": " + why;
        return std::nullopt;
    };
    // Not blocking: opening a FIFO would wait for a writer.
    UniqueFd fd(::open(cp932::ToPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0)
        return fail(std::strerror(errno));
    if (S_ISDIR(info.st_mode))
        return fail(std::strerror(EISDIR));
    if (!S_ISREG(info.st_mode))
        return fail("not a regular file");
    if (static_cast<std::uint64_t>(info.st_size) > kConfigFileLimit)
        return fail(std::strerror(EFBIG));
    std::string text;
    // One byte more than the limit tells a file that grew while it was read.
    char buffer[65536];
    while (text.size() <= kConfigFileLimit) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(std::strerror(errno));
        if (n == 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return fail(std::strerror(EFBIG));
}

}  // namespace quellin::history
