#include "license_text.h"

#include "error_text.h"
#include "file_descriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid() || !ReadAll(fd.get(), bytes))
        error = errno;
    if (error != 0)
        return {{}, DescribeError(error)};
    return {JoinLicenseLines(bytes), {}};
}

}  // namespace quellin::setup
