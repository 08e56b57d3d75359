#include "installer.h"

#include "backup_units.h"
#include "codec.h"
#include "desktop_entry.h"
#include "error_text.h"
#include "file_descriptor.h"
#include "installation_layout.h"
#include "profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quellin::setup {
namespace fs = std::filesystem;

namespace {

SetupMessage Warning(const char* text) {
    return {cp932::Jp(text), MsgIcon::Exclamation};
}

// A path that cannot be found means a wrong folder to the user; anything
// else is shown with its description and number.
SetupMessage ErrorMessage(std::error_code ec) {
    if (ec == std::errc::no_such_file_or_directory)
        return Warning(kFolderWrong);
    if (ec.category() == std::generic_category() || ec.category() == std::system_category())
        return {DescribeError(ec.value()), MsgIcon::Exclamation};
    return {ec.message() + " " + std::to_string(ec.value()), MsgIcon::Exclamation};
}

bool HasDoubleByteCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return cp932::IsLeadByte(static_cast<unsigned char>(c)); });
}

bool IsSameOrBelow(const fs::path& inner, const fs::path& outer) {
    std::error_code ec;
    const fs::path a = fs::weakly_canonical(inner, ec);
    if (ec)
        return false;
    const fs::path b = fs::weakly_canonical(outer, ec);
    if (ec)
        return false;
    auto [ai, bi] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    return bi == b.end() || (std::next(bi) == b.end() && bi->empty());
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

}  // namespace

int MakeDirectory(const fs::path& folder) {
    return ::mkdir(folder.c_str(), 0777) == 0 ? 0 : errno;
}

bool CreateFolderWithParents(std::string_view folder, const MakeDirectoryFn& makeDirectory) {
    const std::string full(folder);
    if (full.empty())
        return false;
    // Each pass creates one more level, so the passes are bounded by the
    // number of levels.
    const auto levels = static_cast<std::size_t>(std::count(full.begin(), full.end(), '/')) + 1;
    for (std::size_t pass = 0; pass <= levels; ++pass) {
        std::string current = full;
        for (;;) {
            const int error = makeDirectory(cp932::ToPath(current));
            if (error == 0 || error == EEXIST)
                break;
            if (error != ENOENT || current.size() < 2)
                return false;
            const auto cut = current.rfind('/', current.size() - 2);
            if (cut == std::string::npos || cut == 0)
                return false;
            current.resize(cut);
        }
        if (current == full)
            return true;
    }
    return false;
}

std::optional<fs::path> FindSettingsFile(const fs::path& folder) {
    std::error_code ec;
    const fs::path exact = folder / InstallationLayout::kSettingsFile;
    if (fs::is_regular_file(exact, ec))
        return exact;
    std::optional<fs::path> found;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (EqualsIgnoringAsciiCase(name, InstallationLayout::kSettingsFile) &&
            it->is_regular_file(ec) && (!found || name < found->filename().string()))
            found = it->path();
    }
    return found;
}

namespace {

std::error_code LastError() {
    return {errno, std::generic_category()};
}

// How often a name that someone else takes between the removal and the
// creation is cleared again.
constexpr int kCopyAttempts = 5;

// The copy writes only files it has just created, and reaches every folder
// without passing a link another user made: in an installation made by root
// the group may create entries in the folder, and nothing its members plant
// under a name of the medium (a link, a file they hold open) may receive a
// program root runs.
std::error_code CopyFileInto(const fs::path& source, int folder, const char* name) {
    const UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!in.valid() || ::fstat(in.get(), &info) != 0)
        return LastError();
    UniqueFd out;
    for (int attempt = 0; attempt < kCopyAttempts && !out.valid(); ++attempt) {
        // A folder in the way reads as a wrong argument, as a copy onto a
        // folder always has.
        if (::unlinkat(folder, name, 0) != 0 && errno != ENOENT)
            return errno == EISDIR ? std::error_code(EINVAL, std::generic_category()) : LastError();
        out = UniqueFd(::openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                S_IRUSR | S_IWUSR));
        if (!out.valid() && errno != EEXIST)
            return LastError();
    }
    if (!out.valid())
        return {EEXIST, std::generic_category()};
    std::string buffer(1 << 16, '\0');
    for (;;) {
        const ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return LastError();
        if (n == 0)
            break;
        if (!WriteAll(out.get(), std::string_view(buffer.data(), static_cast<std::size_t>(n))))
            return LastError();
    }
    if (::fchmod(out.get(), info.st_mode & 07777) != 0 || !out.Close())
        return LastError();
    return {};
}

std::error_code CopySymlinkInto(const fs::path& source, int folder, const char* name) {
    std::error_code ec;
    const fs::path target = fs::read_symlink(source, ec);
    if (ec)
        return ec;
    for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
        if (::unlinkat(folder, name, 0) != 0 && errno != ENOENT)
            return LastError();
        if (::symlinkat(target.c_str(), folder, name) == 0)
            return {};
        if (errno != EEXIST)
            return LastError();
    }
    return {EEXIST, std::generic_category()};
}

// The folder of that name, created when missing.  A link in its place is
// followed only when it is the installing user's own; another's is replaced
// by a folder.  A folder someone else made where root installs becomes
// root's, closed to the others, before anything is copied into it.
std::error_code OpenFolderIn(int folder, const char* name, UniqueFd& opened) {
    if (::mkdirat(folder, name, 0777) != 0 && errno != EEXIST)
        return LastError();
    constexpr int kFolder = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    opened = UniqueFd(::openat(folder, name, kFolder | O_NOFOLLOW));
    struct stat link {};
    if (!opened.valid() && (errno == ELOOP || errno == ENOTDIR) &&
        ::fstatat(folder, name, &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode)) {
        if (link.st_uid == ::geteuid())
            opened = UniqueFd(::openat(folder, name, kFolder));
        else if (::unlinkat(folder, name, 0) == 0 && ::mkdirat(folder, name, 0777) == 0)
            opened = UniqueFd(::openat(folder, name, kFolder | O_NOFOLLOW));
        return opened.valid() ? std::error_code() : LastError();
    }
    if (!opened.valid())
        return LastError();
    struct stat info {};
    if (::fstat(opened.get(), &info) != 0)
        return LastError();
    if (::geteuid() == 0 && info.st_uid != 0) {
        if (::fchown(opened.get(), 0, static_cast<gid_t>(-1)) != 0 ||
            ::fchmod(opened.get(), info.st_mode & 07755) != 0)
            return LastError();
    }
    return {};
}

std::error_code CopyInto(const fs::path& from, int to) {
    std::error_code ec;
    fs::directory_iterator it(from, ec);
    // Each step's error ends the copy before the iterator moves on: moving
    // on successfully would clear it.
    for (fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const fs::file_status source = it->symlink_status(ec);
        if (ec)
            return ec;
        if (fs::is_symlink(source)) {
            ec = CopySymlinkInto(it->path(), to, name.c_str());
        } else if (fs::is_directory(source)) {
            UniqueFd folder;
            ec = OpenFolderIn(to, name.c_str(), folder);
            if (!ec)
                ec = CopyInto(it->path(), folder.get());
        } else if (fs::is_regular_file(source)) {
            ec = CopyFileInto(it->path(), to, name.c_str());
        }
        if (ec)
            return ec;
    }
    return ec;
}

}  // namespace

std::error_code CopyFolder(const fs::path& from, const fs::path& to) {
    const UniqueFd folder(::open(to.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid())
        return LastError();
    return CopyInto(from, folder.get());
}

void MakeOwnerWritable(const fs::path& folder) {
    std::error_code ec;
    fs::permissions(folder, fs::perms::owner_write, fs::perm_options::add, ec);
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        // nofollow: an entry swapped for a link meanwhile stays a link.
        if (!it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_write,
                            fs::perm_options::add | fs::perm_options::nofollow, ignored);
    }
}

CInstaller::CInstaller(fs::path mediumFolder, ProcessLauncher& launcher,
                       std::optional<fs::path> desktopFolder, InstallationRights* rights,
                       MakeDirectoryFn makeDirectory)
    : medium_(std::move(mediumFolder)),
      launcher_(launcher),
      desktop_(std::move(desktopFolder)),
      rights_(rights),
      makeDirectory_(std::move(makeDirectory)) {}

std::optional<SetupMessage> CInstaller::PrepareFolder(std::string_view folderText) {
    if (folderText.empty())
        return Warning(kFolderWrong);
    if (HasDoubleByteCharacter(folderText))
        return Warning(kJapaneseInFolder);
    std::string folder(folderText);
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    // A relative folder would land wherever Setup happened to be started;
    // the root or a folder inside the medium would be overwritten by the
    // copy or copied into itself.
    if (folder.front() != '/' || folder == "/" || IsSameOrBelow(cp932::ToPath(folder), medium_))
        return Warning(kFolderWrong);
    // A file of that name "exists" to the walk but cannot take the copy.
    std::error_code ec;
    if (!CreateFolderWithParents(folder, makeDirectory_) ||
        !fs::is_directory(cp932::ToPath(folder), ec))
        return Warning(kFolderWrong);
    folder_ = folder;
    return std::nullopt;
}

std::optional<SetupMessage> CInstaller::CopyAndConfigure() {
    const fs::path install = cp932::ToPath(folder_);
    if (std::error_code ec = CopyFolder(medium_, install))
        return ErrorMessage(ec);

    MakeOwnerWritable(install);

    for (const char* program : {kSetupProgram, kPatcherProgram}) {
        std::error_code ec;
        fs::remove(install / program, ec);
        if (ec)
            return ErrorMessage(ec);
    }

    if (rights_ != nullptr) {
        if (std::optional<std::string> failure = rights_->Arrange(medium_, install))
            return SetupMessage{*failure, MsgIcon::Exclamation};
    }

    const fs::path patcher = medium_ / kPatcherProgram;
    std::error_code ec;
    if (!fs::is_regular_file(patcher, ec))
        return ErrorMessage(std::make_error_code(std::errc::no_such_file_or_directory));
    const InstallationLayout layout(folder_);
    StartResult started = launcher_.Start(
        patcher, {cp932::ToPath(layout.httpdConf()).string(), install.string(), kPatcherPort});
    if (started.error != 0)
        return ErrorMessage(std::error_code(started.error, std::generic_category()));
    patcherPid_ = started.pid;

    if (auto settings = FindSettingsFile(install)) {
        ProfileFile file(*settings);
        const std::pair<const char*, std::string> keys[] = {{"FIRMDIR", layout.firmwareFolder()},
                                                            {"LOGDIR", layout.logFolder()},
                                                            {"PORT", kPatcherPort}};
        for (const auto& [key, value] : keys) {
            errno = 0;
            if (!file.WriteString("Config", key, value))
                return ErrorMessage(
                    std::error_code(errno != 0 ? errno : EIO, std::generic_category()));
        }
    }

    if (std::error_code units = FillInBackupUnits(install))
        return ErrorMessage(units);

    if (!desktop_)
        return SetupMessage{cp932::Jp(kHomeNotSet), MsgIcon::Exclamation};
    if (std::error_code entry = WriteDesktopEntry(*desktop_, install))
        return ErrorMessage(entry);
    return std::nullopt;
}

}  // namespace quellin::setup
