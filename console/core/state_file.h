#pragma once

// A small table the console side keeps in the installation folder (what the
// fleet last answered, what was already told): read whole, and changed under
// an flock of a lock file beside it and replaced at once, so that quellin
// runs, the console and the web view never see half a file or lose one
// another's change.  The files are 0660 like base.db: the installation's
// group (the web server's user among them) reads them, its members write.

#include "result.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace quellin::console {

class StateFile {
public:
    // The installation folder (CP932, with or without its trailing "/") and
    // the names of the file and its lock in it; a file is read up to
    // `maxBytes`.
    StateFile(const std::string& installationFolder, std::string_view fileName,
              std::string_view lockName, std::size_t maxBytes);

    // The file's text; empty when there is none yet.  Never through a link.
    Result<std::string> Read() const;

    // Under the lock: reads the text, hands it to `change` and replaces the
    // file with what that returns.
    Result<void> Update(const std::function<std::string(std::string_view)>& change);

    const std::filesystem::path& file() const { return file_; }

private:
    std::filesystem::path file_;
    std::filesystem::path lock_;
    std::size_t maxBytes_;
};

}  // namespace quellin::console
