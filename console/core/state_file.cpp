#include "state_file.h"

#include "codec.h"
#include "file_descriptor.h"
#include "file_replacement.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quellin::console {
namespace {

constexpr mode_t kMode = 0660;

// An flock on the lock file, released when it goes.
class StateLock {
public:
    explicit StateLock(const std::filesystem::path& file)
        : fd_(::open(file.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kMode)) {
        int result = -1;
        while (fd_.valid() && (result = ::flock(fd_.get(), LOCK_EX)) != 0 && errno == EINTR) {
        }
        held_ = fd_.valid() && result == 0;
    }
    bool held() const { return held_; }

private:
    UniqueFd fd_;
    bool held_ = false;
};

}  // namespace

StateFile::StateFile(const std::string& installationFolder, std::string_view fileName,
                     std::string_view lockName, std::size_t maxBytes)
    : maxBytes_(maxBytes) {
    const std::filesystem::path folder = cp932::ToPath(installationFolder);
    file_ = folder / fileName;
    lock_ = folder / lockName;
}

Result<std::string> StateFile::Read() const {
    UniqueFd fd(::open(file_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.valid()) {
        if (errno == ENOENT)
            return std::string();
        return SystemError(errno, cp932::FromPath(file_));
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return Error{ErrorCode::kFormat, cp932::FromPath(file_) + ": not a regular file"};
    std::string text;
    char buffer[65536];
    while (text.size() < maxBytes_) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return SystemError(errno, cp932::FromPath(file_));
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

Result<void> StateFile::Update(const std::function<std::string(std::string_view)>& change) {
    StateLock lock(lock_);
    if (!lock.held())
        return SystemError(errno, cp932::FromPath(lock_));
    auto text = Read();
    if (!text)
        return text.error();
    return ReplaceFile(file_, change(*text), {.mode = kMode});
}

}  // namespace quellin::console
