#include "config_file.h"

#include "codec.h"
#include "file_descriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace quellin::history {

Result<std::string> ReadConfigFile(const std::string& path) {
    auto fail = [&](int error) { return SystemError(error, path); };
    // Not blocking: opening a FIFO would wait for a writer.
    UniqueFd fd(::open(cp932::ToPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0)
        return fail(errno);
    if (S_ISDIR(info.st_mode))
        return fail(EISDIR);
    if (!S_ISREG(info.st_mode))
        return Error{ErrorCode::kIo, path + ": not a regular file"};
    if (static_cast<std::uint64_t>(info.st_size) > kConfigFileLimit)
        return fail(EFBIG);
    std::string text;
    // One byte more than the limit tells a file that grew while it was read.
    char buffer[65536];
    while (text.size() <= kConfigFileLimit) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(errno);
        if (n == 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return fail(EFBIG);
}

}  // namespace quellin::history
