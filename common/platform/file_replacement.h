// A new version of a file, written beside it and put in its place in one
// step.  Readers see the old content or the new one, never a mix; writers of
// the same file at the same time each write a file of their own, and the
// last to finish wins.
//
// The new content is written into an unnamed file of the target's folder
// (O_TMPFILE), which vanishes with the process when the writer is killed
// half-way.  Only for the instant between giving it a name and renaming it
// over the target does a "<file>.tmp<PID>-XXXXXX" exist; where the file
// system has no unnamed files, the content is written under such a name from
// the start.  RemoveStaleReplacements clears what a killed writer left.
//
// A writer whose temporary file has a fixed name that others rely on (the
// web server's configuration, "<file>.tmp") names it; that file is created or
// emptied, never through a link, and when it cannot take the target's place
// it stays, holding the new content.
//
// The new file is created readable by its owner alone and gets its final
// permissions before its first byte, so no one ever opens it while it is
// wider than it ends up.  Replaced by root, it keeps the replaced file's
// owner and group: root's console or quellin never takes a file (base.db,
// a log) away from the user or the web server it belongs to.
#pragma once

#include "file_descriptor.h"
#include "result.h"

#include <sys/types.h>

#include <filesystem>
#include <optional>

namespace quellin {

class FileReplacement {
public:
    // Opens the file that will replace `target` (under the fixed name
    // `temporary` when one is given); valid() tells whether that worked,
    // errno why not.  The new file has the permissions `mode` when given,
    // else those of the file it replaces, else 0666 less the umask (what
    // creating the file afresh would give).
    explicit FileReplacement(std::filesystem::path target, std::filesystem::path temporary = {},
                             std::optional<mode_t> mode = std::nullopt);
    // Removes everything of an unfinished replacement.
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    bool valid() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }

    // Flushes the content to the disk and closes it; false (errno set) when
    // that failed.
    bool Finish();
    // Puts the finished file in the target's place; false (errno set) when
    // the target is unchanged.
    bool Replace();

private:
    std::filesystem::path target_;
    std::filesystem::path named_;  // the temporary name, while one exists
    UniqueFd fd_;
    bool unnamed_ = false;
    bool finished_ = false;
    bool fixed_ = false;  // named by the caller
    bool keep_ = false;
};

struct ReplaceOptions {
    std::filesystem::path temporary;  // a fixed temporary name, see above
    std::optional<mode_t> mode;       // the new file's permissions, see FileReplacement
};

// Replaces the file with the bytes: written into a file of the same folder
// (never through a link), flushed to the disk and renamed over the target,
// keeping the target's permissions unless options.mode says otherwise.
// When the old file is still in place: the failed step and its system error
// ("cannot create the new file for <target>: ...", "cannot write ...",
// "cannot rename ... over <target>: ..."), errno left set.  Every writer
// that replaces a whole file goes through here.
Result<void> ReplaceFile(const std::filesystem::path& target, std::string_view bytes,
                         const ReplaceOptions& options = {});

// Removes the temporary files of replacements of `target` whose writing
// process has ended (names "<file>.tmp<PID>" and "<file>.tmp<PID>-..."):
// what a writer killed half-way leaves behind.  The count removed.
int RemoveStaleReplacements(const std::filesystem::path& target);

}  // namespace quellin
