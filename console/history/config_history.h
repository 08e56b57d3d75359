// Every router's running configuration kept with its history: a git
// repository in one folder of the installation (written through libgit2),
// one file per device (named as device_file_name.h says, LF lines as the
// router shows them), one commit per change with the device and the time
// in its message.  Storing a configuration that has not changed commits
// nothing.
//
// The folder is an ordinary git working folder: the files there are the
// newest stored versions, and git itself can read the history.
#pragma once

#include "config_text.h"
#include "result.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace quellin::history {

class ConfigHistory {
public:
    enum class Access {
        kRead,   // history and diffs: the repository must exist
        kWrite,  // storing: folder and repository are made when missing
    };

    // Opens the repository in the folder.  For kWrite the folder (not its
    // parents) and the repository are created when they are missing, and
    // both must be writable.  For kRead a folder without one is kNotFound.
    static Result<std::unique_ptr<ConfigHistory>> Open(const std::filesystem::path& folder,
                                                       Access access);
    ~ConfigHistory();
    ConfigHistory(const ConfigHistory&) = delete;
    ConfigHistory& operator=(const ConfigHistory&) = delete;

    const std::filesystem::path& folder() const { return folder_; }

    struct Stored {
        bool committed = false;  // else unchanged: nothing was committed
        std::string commit;      // the new commit's id, when committed
    };
    // Stores the device's configuration (CP932 name, not empty) as read at
    // `time` (seconds since 1970); a commit only when it differs from the
    // newest stored version.  Stores from several threads and processes
    // take turns.  A name whose file name is too long for the folder fails
    // before anything is stored, and so does a commit while a git command
    // holds one of git's lock files in the folder (one younger than ten
    // minutes; an older one is left over and removed), with kBusy.
    Result<Stored> Store(const std::string& deviceName, std::string_view text, std::int64_t time);

    struct Version {
        std::int64_t time = 0;  // when it was read
        std::string commit;     // full id
        LineChanges changes;    // from the version before
    };
    // The device's stored versions, newest first (empty when there are
    // none).
    Result<std::vector<Version>> History(const std::string& deviceName);

    // A unified diff of the device's configuration (empty when the two
    // versions are equal).  No revision: the last change (from the version
    // before the newest, or from nothing, to the newest).  One: from that
    // revision to the newest version.  Two: from the first to the second.
    // A revision is a commit id, whole or its start, or anything else git
    // takes ("HEAD~2"); one that names none of the device's versions is
    // kNotFound, one too short to name one is kBadArgument.
    Result<std::string> Diff(const std::string& deviceName,
                             const std::vector<std::string>& revisions);

private:
    struct Repository;
    ConfigHistory(std::filesystem::path folder, std::unique_ptr<Repository> repository);

    std::filesystem::path folder_;
    std::unique_ptr<Repository> repository_;
    std::mutex mutex_;  // libgit2 objects serve one thread at a time
};

// How the history names a version in diffs and listings: the first 12
// digits of the commit id.
std::string ShortCommit(const std::string& commit);

}  // namespace quellin::history
