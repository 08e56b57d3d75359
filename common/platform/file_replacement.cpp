#include "file_replacement.h"

#include "codec.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

namespace quellin {
namespace {

std::filesystem::path FolderOf(const std::filesystem::path& target) {
    std::filesystem::path folder = target.parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

// "<file>.tmp<PID>-XXXXXX" with six random letters and digits.
std::filesystem::path TemporaryName(const std::filesystem::path& target) {
    static constexpr char kAlphabet[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    thread_local std::mt19937 engine{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 2);
    std::string suffix = ".tmp" + std::to_string(::getpid()) + "-";
    for (int i = 0; i < 6; ++i)
        suffix += kAlphabet[pick(engine)];
    std::filesystem::path name = target;
    name += suffix;
    return name;
}

// How often a name already taken is replaced by another before giving up.
constexpr int kNameAttempts = 100;

bool FileSystemLacksUnnamedFiles(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// The process's umask, read without changing it (umask() would, for every
// thread at once); 022 where /proc does not tell.
mode_t ProcessUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    for (int lines = 0; lines < 64 && std::getline(status, line); ++lines) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8) & 0777);
    }
    return 022;
}

// Whether the process may still be writing: a process that cannot be
// signalled for lack of permission exists too.
bool ProcessExists(long long pid) {
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

FileReplacement::FileReplacement(std::filesystem::path target, std::filesystem::path temporary,
                                 std::optional<mode_t> mode)
    : target_(std::move(target)), fixed_(!temporary.empty()) {
    constexpr mode_t kOwnerOnly = S_IRUSR | S_IWUSR;
    if (fixed_) {
        fd_ = UniqueFd(::open(temporary.c_str(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, kOwnerOnly));
        if (fd_.valid())
            named_ = std::move(temporary);
    } else {
        fd_ = UniqueFd(
            ::open(FolderOf(target_).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, kOwnerOnly));
        unnamed_ = fd_.valid();
    }
    if (!fixed_ && !fd_.valid() && FileSystemLacksUnnamedFiles(errno)) {
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            std::filesystem::path name = TemporaryName(target_);
            // A name planted in the folder, link or not, is never opened.
            fd_ = UniqueFd(::open(
                name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kOwnerOnly));
            if (fd_.valid()) {
                named_ = std::move(name);
                break;
            }
            if (errno != EEXIST)
                break;
        }
    }
    if (!fd_.valid())
        return;
    // The owner first: a change of owner may clear mode bits.  Only root
    // can give a file away; anyone else's file simply stays theirs.
    struct stat replaced {};
    if (::lstat(target_.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode))
        (void)::fchown(fd_.get(), replaced.st_uid, replaced.st_gid);
    struct stat old {};
    const mode_t final = mode                                 ? *mode
                         : ::stat(target_.c_str(), &old) == 0 ? old.st_mode & 07777
                                                              : 0666 & ~ProcessUmask();
    if (::fchmod(fd_.get(), final) != 0) {
        const int error = errno;
        fd_.Close();
        unnamed_ = false;
        errno = error;
    }
}

FileReplacement::~FileReplacement() {
    if (!named_.empty() && !keep_)
        ::unlink(named_.c_str());
}

bool FileReplacement::Finish() {
    if (!fd_.valid() || finished_) {
        errno = EBADF;
        return false;
    }
    if (::fsync(fd_.get()) != 0)
        return false;
    // An unnamed file lives only as long as its descriptor: it is closed
    // once it has a name.
    if (!unnamed_ && !fd_.Close())
        return false;
    finished_ = true;
    return true;
}

bool FileReplacement::Replace() {
    if (!finished_) {
        errno = EBADF;
        return false;
    }
    if (unnamed_) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
        for (int attempt = 0; attempt < kNameAttempts && named_.empty(); ++attempt) {
            std::filesystem::path name = TemporaryName(target_);
            // Naming a descriptor directly needs a privilege; its entry in
            // /proc does not.
            if (::linkat(fd_.get(), "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0 ||
                (errno != EEXIST && ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(),
                                             AT_SYMLINK_FOLLOW) == 0)) {
                named_ = std::move(name);
            } else if (errno != EEXIST) {
                return false;
            }
        }
        if (named_.empty()) {
            errno = EEXIST;
            return false;
        }
        unnamed_ = false;
        if (!fd_.Close()) {
            const int error = errno;
            ::unlink(named_.c_str());
            named_.clear();
            errno = error;
            return false;
        }
    }
    if (::rename(named_.c_str(), target_.c_str()) != 0) {
        const int error = errno;
        keep_ = fixed_;
        if (!keep_) {
            ::unlink(named_.c_str());
            named_.clear();
        }
        errno = error;
        return false;
    }
    named_.clear();
    return true;
}

Result<void> ReplaceFile(const std::filesystem::path& target, std::string_view bytes,
                         const ReplaceOptions& options) {
    const char* failed = nullptr;
    int error = 0;
    {
        FileReplacement replacement(target, options.temporary, options.mode);
        if (!replacement.valid())
            failed = "cannot create the new file for ";
        else if (!WriteAll(replacement.fd(), bytes) || !replacement.Finish())
            failed = "cannot write the new file for ";
        else if (!replacement.Replace())
            failed = "cannot rename the new file over ";
        else
            return {};
        error = errno;
    }
    // Callers that only ask whether it worked still find errno, whatever
    // clearing up the unfinished file did to it.
    Error reason = SystemError(error, failed + cp932::FromPath(target));
    errno = error;
    return reason;
}

int RemoveStaleReplacements(const std::filesystem::path& target) {
    namespace fs = std::filesystem;
    const std::string prefix = target.filename().string() + ".tmp";
    std::error_code error;
    fs::directory_iterator entries(FolderOf(target), error);
    if (error)
        return 0;
    int removed = 0;
    for (; entries != fs::directory_iterator(); entries.increment(error)) {
        if (error)
            break;
        const std::string name = entries->path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string rest = name.substr(prefix.size());
        const std::size_t digits = rest.find_first_not_of("0123456789");
        const std::size_t length = digits == std::string::npos ? rest.size() : digits;
        if (length == 0 || length > 9 || (digits != std::string::npos && rest[digits] != '-'))
            continue;
        const long long pid = std::stoll(rest.substr(0, length));
        if (pid <= 0 || ProcessExists(pid))
            continue;
        std::error_code kind;
        if (entries->is_directory(kind) && !entries->is_symlink(kind))
            continue;
        if (::unlink(entries->path().c_str()) == 0)
            ++removed;
    }
    return removed;
}

}  // namespace quellin
