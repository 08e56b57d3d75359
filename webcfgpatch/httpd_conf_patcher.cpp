#include "httpd_conf_patcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace quellin::webcfgpatch {
namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    bool Close() {
        if (fd_ < 0)
            return true;
        int fd = std::exchange(fd_, -1);
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

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
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool Contains(const std::string& line, std::string_view marker) {
    return line.find(marker) != std::string::npos;
}

}  // namespace

std::uint16_t ParsePort(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    // Arithmetic modulo 2^16 gives the same low 16 bits as converting to a
    // wider integer first.
    std::uint16_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = static_cast<std::uint16_t>(value * 10u + static_cast<unsigned>(text[i] - '0'));
    if (negative)
        value = static_cast<std::uint16_t>(0u - value);
    return value;
}

std::string PatchLine(const std::string& line, const std::string& folder, std::uint16_t port) {
    // A comment never changes, even when it holds a marker or a Listen.
    if (!line.empty() && line.front() == '#')
        return line;
    // Deliberately a prefix test: ListenBacklog lines are rewritten as well.
    if (line.compare(0, 6, "Listen") == 0)
        return "Listen " + std::to_string(port);
    if (Contains(line, "*ServerRoot*"))
        return "ServerRoot \"" + folder + "/httpd\"";
    if (Contains(line, "*ScriptAlias*"))
        return "ScriptAlias /cgi-bin/ \"" + folder + "/httpd/cgi-bin/\"";
    if (Contains(line, "*cgiDir*"))
        return "<Directory \"" + folder + "/httpd/cgi-bin\">";
    if (Contains(line, "*DocumentRoot*"))
        return "DocumentRoot \"" + folder + "/httpd/htdocs\"";
    return line;
}

std::string PatchText(std::string_view text, const std::string& folder, std::uint16_t port) {
    std::string out;
    out.reserve(text.size() + text.size() / 16 + 64);
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (end != std::string_view::npos && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        out += PatchLine(std::string(line), folder, port);
        out += "\r\n";
    }
    return out;
}

int PatchFile(const std::string& configPath, const std::string& folder, std::uint16_t port) {
    FileDescriptor in(::open(configPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in.valid())
        return kCannotOpen;
    struct stat info {};
    // A folder opens for reading here but is no configuration file.
    if (::fstat(in.get(), &info) != 0 || S_ISDIR(info.st_mode))
        return kCannotOpen;

    const std::string tempPath = configPath + ".tmp";
    FileDescriptor out(
        ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, info.st_mode & 0666));
    if (!out.valid())
        return kCannotOpen;

    std::string text;
    if (!ReadAll(in.get(), text)) {
        out.Close();
        ::unlink(tempPath.c_str());
        return kCannotOpen;
    }
    in.Close();

    // An incomplete temporary file must never take the configuration's
    // place: a failed write leaves the configuration as it was.
    bool written = WriteAll(out.get(), PatchText(text, folder, port)) && ::fsync(out.get()) == 0;
    if (!out.Close() || !written) {
        ::unlink(tempPath.c_str());
        return kCannotReplace;
    }
    // rename replaces the file in one step, so there is no moment without a
    // configuration; when it fails the patched text stays in the .tmp file.
    if (::rename(tempPath.c_str(), configPath.c_str()) != 0)
        return kCannotReplace;
    return kPatched;
}

int Run(const std::vector<std::string>& arguments) {
    if (arguments.size() != 3)
        return kUsage;
    return PatchFile(arguments[0], arguments[1], ParsePort(arguments[2]));
}

}  // namespace quellin::webcfgpatch
