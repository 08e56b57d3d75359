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
#pragma once

#include "file_descriptor.h"

#include <filesystem>

namespace quellin {

class FileReplacement {
public:
    // Opens the file that will replace `target`; valid() tells whether that
    // worked, errno why not.  The new file has the permissions of the file
    // it replaces, or 0644 less the umask for a new one.
    explicit FileReplacement(std::filesystem::path target);
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
};

// Replaces the file with the bytes through a FileReplacement; false when
// the old file is still in place.
bool ReplaceFileContent(const std::filesystem::path& target, std::string_view bytes);

// Removes the temporary files of replacements of `target` whose writing
// process has ended (names "<file>.tmp<PID>" and "<file>.tmp<PID>-..."):
// what a writer killed half-way leaves behind.  The count removed.
int RemoveStaleReplacements(const std::filesystem::path& target);

}  // namespace quellin
