#include "operation_log.h"

#include "clock.h"
#include "codec.h"
#include "installation_layout.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string_view>

namespace quellin {

std::string FormatOperationLogLine(std::int64_t time, const std::string& name,
                                   const std::string& message) {
    return FormatLocalTime(time, "%Y/%m/%d %H:%M:%S") + "," + name + "," + message + "\r\n";
}

std::string LogFileStem(const std::string& name) {
    const bool plain = !name.empty() && name != "." && name != ".." &&
                       name.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
    if (plain)
        return name;
    std::string stem;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '/' || c == '%' || c == '\0' || (i == 0 && c == '.')) {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", static_cast<unsigned char>(c));
            stem += escape;
        } else {
            stem += c;
        }
    }
    return stem.empty() ? "%00" : stem;
}

void WriteOperationLog(const std::string& name, const std::string& baseFolder,
                       const std::string& message) {
    std::string line = FormatOperationLogLine(CurrentClock().Now(), name, message);
    const std::string folder =
        InstallationLayout(baseFolder).Joined(InstallationLayout::kLogFolder);
    auto folderPath = cp932::ToPath(folder);
    // One level only: the base folder itself must exist.
    if (::mkdir(folderPath.c_str(), 0777) != 0 && errno != EEXIST)
        return;
    auto filePath = cp932::ToPath(folder + "/" + LogFileStem(name) + ".log");
    // Never through a link planted in the shared folder.
    int fd = ::open(filePath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    // O_APPEND makes the seek and the write one step: whole lines only.
    ssize_t n;
    do {
        n = ::write(fd, line.data(), line.size());
    } while (n < 0 && errno == EINTR);
    ::close(fd);
}

}  // namespace quellin
