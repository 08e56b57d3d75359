// The rights of an installation made by root.  The web server runs Netprov
// as its own user (www-data), the operator runs the console and quellin as
// another; all of them append to the same operation logs and replace the
// configuration files named in base.db.  They share that work through one
// system group, the installation's group.
#pragma once

#include "desktop_entry.h"
#include "installation_layout.h"
#include "process_launcher.h"

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace quellin::setup {

inline constexpr const char* kInstallationGroup = "quellin";
// The web server's user when httpd.conf names none (Debian's apache2).
inline constexpr const char* kDefaultWebServerUser = "www-data";
// The folders the group's members write: the operation logs, the
// configuration files that base.db names, and the configuration history
// that quellin's backups keep.
inline constexpr const char* kLogFolder = InstallationLayout::kLogFolder;
inline constexpr const char* kConfigFolder = InstallationLayout::kConfigFolder;
inline constexpr const char* kHistoryFolder = InstallationLayout::kHistoryFolder;

// The user of the first User directive of httpd.conf (CR LF or LF lines,
// comment lines skipped, quotes removed); the default without one.
std::string WebServerUser(std::string_view httpdConf);

// The operator who started Setup through sudo (SUDO_USER); nullopt when
// there is none, or when it is root.
std::optional<std::string> SudoOperator(const EnvironmentLookup& environment);

struct GroupRightsOptions {
    // Who base.db belongs to: the operator, whose console and quellin must
    // replace it in the sticky installation folder.  nullopt keeps its owner.
    std::optional<uid_t> registryOwner;
    // Called with each entry between looking at it and changing it.
    std::function<void(const std::filesystem::path&)> beforeChange;
};

// Gives the installation to the group: the installation folder itself,
// what was copied there from the medium, everything in the log,
// configuration and history folders, base.db and the folder lock's file.
// Anything else in the folder (it may have existed before) is left as it
// is.  Then:
//  - each of them belongs to the group;
//  - the group may read what the owner may read and run what the owner may
//    run;
//  - every folder passes its group on to what is created in it
//    (set-group-ID), so new logs and replaced files stay the group's;
//  - the log, configuration and history folders and everything in them
//    are group-writable;
//  - the installation folder is group-writable and sticky: a member creates
//    files there (the lock, a replacement's temporary file) but renames or
//    removes only their own, so no member replaces a program that root or
//    the web server runs;
//  - base.db and the folder lock's file (both created when missing) are
//    the owner's and the group's alone (0660); nothing else is
//    group-writable, nothing is writable by others.
// Every entry is opened without following a link and changed through its
// descriptor, so an entry swapped for a link meanwhile never leads the
// change outside the tree.  Links, files with more than one name (the other
// may lie outside the tree), what is neither file nor folder, and folders
// nested deeper than 32 levels in the shared folders are left alone.  The
// three shared folders are created when missing.  The first failure ends
// the walk.
std::error_code ApplyGroupRights(const std::filesystem::path& mediumFolder,
                                 const std::filesystem::path& installFolder, gid_t group,
                                 const GroupRightsOptions& options = {});

class InstallationRights {
public:
    virtual ~InstallationRights() = default;
    // Called once the medium has been copied into the installation folder.
    // nullopt when the rights are in place (or are left as they are), else
    // the error to show (CP932).
    virtual std::optional<std::string> Arrange(const std::filesystem::path& mediumFolder,
                                               const std::filesystem::path& installFolder) = 0;
    // A note for the person installing (UTF-8); empty when there is none.
    virtual std::string notice() const { return {}; }
};

// The system's own accounts.  Run by root: creates the installation's group
// when it is missing (groupadd --system), makes the web server's user and
// the sudo operator members (usermod -a -G; accounts that do not exist are
// left out) and applies the rights, base.db going to the sudo operator.  Membership counts for
// processes started afterwards: the web server is to be started (again) and the operator to log in
// again.  Run by another user: nothing changes, since only root can hand files to a group; notice()
// says so.
class SystemInstallationRights final : public InstallationRights {
public:
    SystemInstallationRights(ProcessLauncher& launcher, EnvironmentLookup environment);

    std::optional<std::string> Arrange(const std::filesystem::path& mediumFolder,
                                       const std::filesystem::path& installFolder) override;
    std::string notice() const override { return notice_; }

private:
    std::optional<std::string> EnsureGroup(gid_t& group);
    std::optional<std::string> EnsureMember(const std::string& user, gid_t group);
    // Runs a tool of the system to its end; its exit status, or nullopt
    // when it is missing or cannot be started.
    std::optional<int> RunTool(const char* tool, const std::vector<std::string>& arguments);

    ProcessLauncher& launcher_;
    EnvironmentLookup environment_;
    std::string notice_;
};

}  // namespace quellin::setup
