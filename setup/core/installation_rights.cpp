#include "installation_rights.h"

#include "codec.h"
#include "error_text.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
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

std::optional<gid_t> PrimaryGroupOf(const std::string& user) {
    std::vector<char> buffer(16384);
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
        return entry.pw_gid;
    }
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

bool InSharedFolder(const fs::path& relative) {
    if (relative.empty())
        return false;
    const std::string top = relative.begin()->string();
    return top == kLogFolder || top == kConfigFolder || top == kHistoryFolder;
}

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
                                 gid_t group) {
    std::error_code ec;
    for (const char* shared : {kLogFolder, kConfigFolder, kHistoryFolder}) {
        fs::create_directory(installFolder / shared, ec);
        if (ec)
            return ec;
    }
    // missingIsFine: an entry of the medium that the installation does not
    // keep (Setup's own programs).
    auto apply = [group, &installFolder](const fs::path& path,
                                         bool missingIsFine) -> std::error_code {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) {
            if (errno == ENOENT && missingIsFine)
                return {};
            return {errno, std::generic_category()};
        }
        if (S_ISLNK(info.st_mode))
            return {};
        if (::lchown(path.c_str(), static_cast<uid_t>(-1), group) != 0)
            return {errno, std::generic_category()};
        mode_t mode = info.st_mode & 07777;
        if (S_ISDIR(info.st_mode))
            mode |= S_IRGRP | S_IXGRP | S_ISGID;
        if (mode & S_IRUSR)
            mode |= S_IRGRP;
        if (mode & S_IXUSR)
            mode |= S_IXGRP;
        if (InSharedFolder(path.lexically_relative(installFolder)))
            mode |= S_IWGRP;
        else
            mode &= ~static_cast<mode_t>(S_IWGRP);
        mode &= ~static_cast<mode_t>(S_IWOTH);
        // Changing the group has cleared a file's set-ID bits; the mode is
        // set afresh after it.
        if (::chmod(path.c_str(), mode) != 0)
            return {errno, std::generic_category()};
        return {};
    };
    if (std::error_code failed = apply(installFolder, false))
        return failed;
    fs::recursive_directory_iterator medium(mediumFolder, ec);
    for (fs::recursive_directory_iterator end; !ec && medium != end; medium.increment(ec)) {
        const fs::path relative = medium->path().lexically_relative(mediumFolder);
        if (std::error_code failed = apply(installFolder / relative, true))
            return failed;
    }
    if (ec)
        return ec;
    for (const char* shared : {kLogFolder, kConfigFolder, kHistoryFolder}) {
        if (std::error_code failed = apply(installFolder / shared, false))
            return failed;
        fs::recursive_directory_iterator it(installFolder / shared, ec);
        for (fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
            if (std::error_code failed = apply(it->path(), false))
                return failed;
        }
        if (ec)
            return ec;
    }
    return apply(installFolder / InstallationLayout::kRegistry, true);
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

    if (std::error_code failed = ApplyGroupRights(mediumFolder, installFolder, group))
        return DescribeError(failed.value());
    return std::nullopt;
}

}  // namespace quellin::setup
