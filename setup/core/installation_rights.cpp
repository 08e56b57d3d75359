#include "installation_rights.h"

#include "codec.h"
#include "error_text.h"
#include "file_descriptor.h"
#include "folder_lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

namespace quellin::setup {
namespace fs = std::filesystem;

namespace {

// Lookups that another installer may change at the same moment are tried
// again a few times: groupadd and usermod refuse while another one holds
// the account files.
constexpr int kToolAttempts = 5;
constexpr auto kToolRetryPause = std::chrono::milliseconds(200);

std::optional<gid_t> FindGroup(const std::string& name) {
    std::vector<char> buffer(16384);
    for (;;) {
        group entry{};
        group* found = nullptr;
        const int rc = ::getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (1u << 24)) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        if (rc != 0 || found == nullptr)
            return std::nullopt;
        return entry.gr_gid;
    }
}

std::optional<passwd> FindUser(const std::string& user, std::vector<char>& buffer) {
    buffer.resize(16384);
    for (;;) {
        passwd entry{};
        passwd* found = nullptr;
        const int rc = ::getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (1u << 24)) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        if (rc != 0 || found == nullptr)
            return std::nullopt;
        return entry;
    }
}

std::optional<gid_t> PrimaryGroupOf(const std::string& user) {
    std::vector<char> buffer;
    const std::optional<passwd> entry = FindUser(user, buffer);
    return entry ? std::optional<gid_t>(entry->pw_gid) : std::nullopt;
}

std::optional<uid_t> UserId(const std::string& user) {
    std::vector<char> buffer;
    const std::optional<passwd> entry = FindUser(user, buffer);
    return entry ? std::optional<uid_t>(entry->pw_uid) : std::nullopt;
}

bool IsListedMember(const std::string& user, gid_t group) {
    std::vector<char> buffer(16384);
    for (;;) {
        struct group entry {};
        struct group* found = nullptr;
        const int rc = ::getgrgid_r(group, &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (1u << 24)) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        if (rc != 0 || found == nullptr || entry.gr_mem == nullptr)
            return false;
        for (char** member = entry.gr_mem; *member != nullptr; ++member)
            if (user == *member)
                return true;
        return false;
    }
}

std::optional<fs::path> FindSystemTool(const char* tool) {
    for (const char* folder : {"/usr/sbin", "/sbin", "/usr/bin", "/bin"}) {
        const fs::path candidate = fs::path(folder) / tool;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

std::string ToolOutcome(const char* tool, const std::optional<int>& status) {
    if (!status)
        return std::string(tool) + cp932::Jp(" を実行できません");
    return std::string(tool) + cp932::Jp(": 終了ステータス ") + std::to_string(*status);
}

std::string_view TrimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool IsSharedFolder(const std::string& name) {
    return name == kLogFolder || name == kConfigFolder || name == kHistoryFolder;
}

std::error_code LastError() {
    return {errno, std::generic_category()};
}

// Members' folders may nest without end; the walk keeps to this depth and
// gives up beyond this many entries.
constexpr int kSharedDepth = 32;
constexpr std::size_t kMostEntries = 1000000;

enum class Place {
    kInstallFolder,  // group-writable and sticky
    kPrivate,        // what the group reads and runs only
    kShared,         // the group writes it
    kSecret,         // the owner's and the group's alone: base.db, the lock
};

mode_t RightsFor(const struct stat& info, Place place) {
    constexpr mode_t kOwnerAndGroup = S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP;
    if (place == Place::kSecret)
        return kOwnerAndGroup;
    mode_t mode = info.st_mode & 07777;
    if (S_ISDIR(info.st_mode))
        mode |= S_IRGRP | S_IXGRP | S_ISGID;
    if (mode & S_IRUSR)
        mode |= S_IRGRP;
    if (mode & S_IXUSR)
        mode |= S_IXGRP;
    if (place == Place::kPrivate)
        mode &= ~static_cast<mode_t>(S_IWGRP);
    else
        mode |= S_IWGRP;
    if (place == Place::kInstallFolder)
        mode |= S_ISVTX;
    return mode & ~static_cast<mode_t>(S_IWOTH);
}

// An entry of a folder opened without following a link; no descriptor when
// it is left alone.
struct Entry {
    UniqueFd fd;
    struct stat info {};
};

// Opened for reading, which root always may and which writes nothing;
// O_NONBLOCK keeps a FIFO from waiting for a writer.
std::error_code OpenEntry(int folder, const char* name, int create, bool missingIsFine,
                          Entry& entry) {
    entry.fd = UniqueFd(::openat(folder, name,
                                 O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | create,
                                 S_IRUSR | S_IWUSR));
    if (!entry.fd.valid()) {
        // A link, a socket, or an entry gone since the folder was read.
        if (errno == ELOOP || errno == ENXIO || (errno == ENOENT && missingIsFine))
            return {};
        return LastError();
    }
    if (::fstat(entry.fd.get(), &entry.info) != 0)
        return LastError();
    const bool ownFile = S_ISREG(entry.info.st_mode) && entry.info.st_nlink == 1;
    if (!ownFile && !S_ISDIR(entry.info.st_mode))
        entry.fd = UniqueFd();
    return {};
}

class RightsWalk {
public:
    RightsWalk(gid_t group, const GroupRightsOptions& options) : group_(group), options_(options) {}

    std::error_code Change(const Entry& entry, const fs::path& shown, Place place,
                           uid_t owner = static_cast<uid_t>(-1)) {
        if (options_.beforeChange)
            options_.beforeChange(shown);
        if (::fchown(entry.fd.get(), owner, group_) != 0)
            return LastError();
        // Changing the group has cleared a file's set-ID bits; the mode is
        // set afresh after it.
        if (::fchmod(entry.fd.get(), RightsFor(entry.info, place)) != 0)
            return LastError();
        return {};
    }

    // The entries of the medium's folder as copied into `installed`.
    std::error_code Medium(const fs::path& medium, int installed, const fs::path& shown,
                           std::optional<Place> place) {
        std::error_code ec;
        for (fs::directory_iterator it(medium, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            // Missing: Setup's own programs, which the installation does not keep.
            Entry entry;
            if (std::error_code failed = OpenEntry(installed, name.c_str(), 0, true, entry))
                return failed;
            if (!entry.fd.valid())
                continue;
            const Place own =
                place.value_or(IsSharedFolder(name) ? Place::kShared : Place::kPrivate);
            if (std::error_code failed = Change(entry, shown / name, own))
                return failed;
            std::error_code kind;
            if (S_ISDIR(entry.info.st_mode) && it->is_directory(kind) && !it->is_symlink(kind)) {
                if (std::error_code failed = Medium(it->path(), entry.fd.get(), shown / name, own))
                    return failed;
            }
        }
        return ec;
    }

    // Everything below a shared folder.
    std::error_code Shared(int folder, const fs::path& shown, int depth) {
        if (depth >= kSharedDepth)
            return {};
        UniqueFd own(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!own.valid())
            return LastError();
        std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(own.get()), ::closedir);
        if (!listing)
            return LastError();
        own.Release();
        for (;;) {
            errno = 0;
            const dirent* found = ::readdir(listing.get());
            if (found == nullptr)
                return errno == 0 ? std::error_code() : LastError();
            const std::string name = found->d_name;
            if (name == "." || name == "..")
                continue;
            if (++entries_ > kMostEntries)
                return {EOVERFLOW, std::generic_category()};
            Entry entry;
            if (std::error_code failed =
                    OpenEntry(::dirfd(listing.get()), name.c_str(), 0, true, entry))
                return failed;
            if (!entry.fd.valid())
                continue;
            if (std::error_code failed = Change(entry, shown / name, Place::kShared))
                return failed;
            if (S_ISDIR(entry.info.st_mode)) {
                if (std::error_code failed = Shared(entry.fd.get(), shown / name, depth + 1))
                    return failed;
            }
        }
    }

private:
    gid_t group_;
    const GroupRightsOptions& options_;
    std::size_t entries_ = 0;
};

}  // namespace

std::string WebServerUser(std::string_view httpdConf) {
    std::size_t start = 0;
    while (start < httpdConf.size()) {
        std::size_t end = httpdConf.find('\n', start);
        if (end == std::string_view::npos)
            end = httpdConf.size();
        const std::string_view line = TrimBlanks(httpdConf.substr(start, end - start));
        start = end + 1;
        if (line.size() < 5 || line.substr(0, 4) != "User" || (line[4] != ' ' && line[4] != '\t'))
            continue;
        std::string_view user = TrimBlanks(line.substr(5));
        if (user.size() >= 2 && user.front() == '"' && user.back() == '"')
            user = user.substr(1, user.size() - 2);
        if (!user.empty())
            return std::string(user);
    }
    return kDefaultWebServerUser;
}

std::optional<std::string> SudoOperator(const EnvironmentLookup& environment) {
    std::optional<std::string> user = environment("SUDO_USER");
    if (!user || user->empty() || *user == "root")
        return std::nullopt;
    return user;
}

std::error_code ApplyGroupRights(const fs::path& mediumFolder, const fs::path& installFolder,
                                 gid_t group, const GroupRightsOptions& options) {
    const UniqueFd install(
        ::open(installFolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!install.valid())
        return LastError();
    for (const char* shared : {kLogFolder, kConfigFolder, kHistoryFolder}) {
        if (::mkdirat(install.get(), shared, 0777) != 0 && errno != EEXIST)
            return LastError();
    }
    RightsWalk walk(group, options);
    Entry folder;
    if (::fstat(install.get(), &folder.info) != 0)
        return LastError();
    folder.fd = UniqueFd(::dup(install.get()));
    if (!folder.fd.valid())
        return LastError();
    if (std::error_code failed = walk.Change(folder, installFolder, Place::kInstallFolder))
        return failed;
    if (std::error_code failed = walk.Medium(mediumFolder, install.get(), installFolder, {}))
        return failed;
    for (const char* name : {kLogFolder, kConfigFolder, kHistoryFolder}) {
        Entry shared;
        if (std::error_code failed = OpenEntry(install.get(), name, 0, false, shared))
            return failed;
        // A link in a shared folder's place is not the installation's.
        if (!shared.fd.valid() || !S_ISDIR(shared.info.st_mode))
            return {ENOTDIR, std::generic_category()};
        if (std::error_code failed = walk.Change(shared, installFolder / name, Place::kShared))
            return failed;
        if (std::error_code failed = walk.Shared(shared.fd.get(), installFolder / name, 0))
            return failed;
    }
    // The lock is root's, so no member can take it away from the others.
    // The web view's logins and the fleet state are the operator's like
    // base.db (the web server's user reads them through the group); the
    // state's lock is root's like the folder lock.
    const uid_t operatorOwner = options.registryOwner.value_or(static_cast<uid_t>(-1));
    const std::pair<const char*, uid_t> secrets[] = {{InstallationLayout::kRegistry, operatorOwner},
                                                     {kFolderLockName, ::geteuid()},
                                                     {"web-users", operatorOwner},
                                                     {"fleet-state.txt", operatorOwner},
                                                     {"fleet-state.lock", ::geteuid()}};
    for (const auto& [name, owner] : secrets) {
        Entry entry;
        if (std::error_code failed = OpenEntry(install.get(), name, O_CREAT, false, entry))
            return failed;
        if (entry.fd.valid() && S_ISREG(entry.info.st_mode)) {
            if (std::error_code failed =
                    walk.Change(entry, installFolder / name, Place::kSecret, owner))
                return failed;
        }
    }
    return {};
}

SystemInstallationRights::SystemInstallationRights(ProcessLauncher& launcher,
                                                   EnvironmentLookup environment)
    : launcher_(launcher), environment_(std::move(environment)) {}

std::optional<int> SystemInstallationRights::RunTool(const char* tool,
                                                     const std::vector<std::string>& arguments) {
    const std::optional<fs::path> program = FindSystemTool(tool);
    if (!program)
        return std::nullopt;
    const StartResult started = launcher_.Start(*program, arguments);
    if (started.error != 0)
        return std::nullopt;
    return launcher_.Wait(started.pid);
}

std::optional<std::string> SystemInstallationRights::EnsureGroup(gid_t& group) {
    std::optional<int> status;
    for (int attempt = 0; attempt < kToolAttempts; ++attempt) {
        if (std::optional<gid_t> found = FindGroup(kInstallationGroup)) {
            group = *found;
            return std::nullopt;
        }
        if (attempt > 0)
            std::this_thread::sleep_for(kToolRetryPause);
        status = RunTool("groupadd", {"--system", kInstallationGroup});
        if (!status)
            break;
    }
    if (std::optional<gid_t> found = FindGroup(kInstallationGroup)) {
        group = *found;
        return std::nullopt;
    }
    return cp932::Jp("インストールフォルダのグループ ") + kInstallationGroup +
           cp932::Jp(" を作成できませんでした。(") + ToolOutcome("groupadd", status) + ")";
}

std::optional<std::string> SystemInstallationRights::EnsureMember(const std::string& user,
                                                                  gid_t group) {
    auto isMember = [&] {
        std::optional<gid_t> primary = PrimaryGroupOf(user);
        return primary == group || IsListedMember(user, group);
    };
    // An account that does not exist here has nothing to share.
    if (!PrimaryGroupOf(user))
        return std::nullopt;
    std::optional<int> status;
    for (int attempt = 0; attempt < kToolAttempts; ++attempt) {
        if (isMember())
            return std::nullopt;
        if (attempt > 0)
            std::this_thread::sleep_for(kToolRetryPause);
        status = RunTool("usermod", {"-a", "-G", kInstallationGroup, user});
        if (!status)
            break;
    }
    if (isMember())
        return std::nullopt;
    return cp932::Jp("ユーザ ") + user + cp932::Jp(" をグループ ") + kInstallationGroup +
           cp932::Jp(" に加えられませんでした。(") + ToolOutcome("usermod", status) + ")";
}

std::optional<std::string> SystemInstallationRights::Arrange(const fs::path& mediumFolder,
                                                             const fs::path& installFolder) {
    notice_.clear();
    if (::geteuid() != 0) {
        notice_ = std::string("root 以外で実行されたため、インストールフォルダのグループ (") +
                  kInstallationGroup +
                  ") と権限は設定していません。Web サーバの Netprov "
                  "がログと構成定義ファイルに書き込めるようにするには、root で実行してください。";
        return std::nullopt;
    }
    gid_t group = 0;
    if (auto failure = EnsureGroup(group))
        return failure;

    std::vector<std::string> members;
    std::error_code ec;
    const fs::path conf = installFolder / InstallationLayout::kHttpdConf;
    std::string confText;
    if (fs::is_regular_file(conf, ec)) {
        std::ifstream in(conf, std::ios::binary);
        confText.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    members.push_back(WebServerUser(confText));
    if (std::optional<std::string> person = SudoOperator(environment_))
        members.push_back(*person);
    for (const std::string& member : members)
        if (auto failure = EnsureMember(member, group))
            return failure;

    GroupRightsOptions options;
    if (std::optional<std::string> person = SudoOperator(environment_))
        options.registryOwner = UserId(*person);
    if (std::error_code failed = ApplyGroupRights(mediumFolder, installFolder, group, options))
        return DescribeError(failed.value());
    return std::nullopt;
}

}  // namespace quellin::setup
