#include "license_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quellin::setup {

std::string JoinLicenseLines(std::string_view fileBytes) {
    std::string text;
    text.reserve(fileBytes.size() + fileBytes.size() / 16 + 2);
    std::size_t start = 0;
    while (start < fileBytes.size()) {
        std::size_t end = fileBytes.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            text.append(fileBytes.substr(start));
            text.append("\r\n");
            break;
        }
        text.append(fileBytes.substr(start, end - start));
        text.append("\r\n");
        start = end + 1;
        if (fileBytes[end] == '\r' && start < fileBytes.size() && fileBytes[start] == '\n')
            ++start;
    }
    return text;
}

LicenseText ReadLicenseText(const std::filesystem::path& mediumFolder) {
    const std::filesystem::path path = mediumFolder / kLicenseFileName;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 && errno == ENOENT)
        return {};
    std::string bytes;
    int error = 0;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
    } else {
        char buffer[8192];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                bytes.append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0) {
                break;
            } else if (errno != EINTR) {
                error = errno;
                break;
            }
        }
        ::close(fd);
    }
    if (error != 0)
        return {{}, std::string(std::strerror(error)) + " " + std::to_string(error)};
    return {JoinLicenseLines(bytes), {}};
}

}  // namespace quellin::setup
