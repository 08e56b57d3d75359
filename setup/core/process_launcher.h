// Starting another program of the medium without a shell, the way Setup
// hands the web-server configuration to Webcfgpatch.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quellin::setup {

struct StartResult {
    int pid = -1;   // the started process, when error is 0
    int error = 0;  // errno of the failed start
};

class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    // Starts program with the arguments (argv[0] is added) and returns at once.
    virtual StartResult Start(const std::filesystem::path& program,
                              const std::vector<std::string>& arguments) = 0;
    // Waits for a started process; its exit status (128 + signal when a
    // signal ended it), or nullopt when it cannot be waited for.
    virtual std::optional<int> Wait(int pid) = 0;
};

class PosixProcessLauncher final : public ProcessLauncher {
public:
    StartResult Start(const std::filesystem::path& program,
                      const std::vector<std::string>& arguments) override;
    std::optional<int> Wait(int pid) override;
};

}  // namespace quellin::setup
