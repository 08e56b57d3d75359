#include "text_lines.h"

#include "file_descriptor.h"
#include "profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace quellin {

std::string TextMode(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            continue;
        text += bytes[i];
    }
    return text;
}

std::optional<std::string_view> NextLine(std::string_view& text) {
    if (text.empty())
        return std::nullopt;
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos) {
        std::string_view line = text;
        text = {};
        return line;
    }
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

std::optional<std::string> ReadFileItself(const std::filesystem::path& path, std::size_t limit) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uint64_t>(info.st_size) > limit)
        return std::nullopt;
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            return bytes;
        bytes.append(buffer, static_cast<std::size_t>(got));
        // A file that grows while it is read is cut off at the limit.
        if (bytes.size() > limit)
            return std::nullopt;
    }
}

std::optional<std::vector<std::string>> ReadTextLines(const std::filesystem::path& path,
                                                      Links links) {
    auto bytes = links == Links::kFollow ? ReadWholeFile(path) : ReadFileItself(path);
    if (!bytes)
        return std::nullopt;
    std::vector<std::string> lines;
    std::string_view text = *bytes;
    while (auto line = NextLine(text))
        lines.emplace_back(*line);
    return lines;
}

}  // namespace quellin
