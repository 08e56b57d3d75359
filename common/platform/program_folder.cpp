#include "program_folder.h"

#include "codec.h"

#include <filesystem>
#include <mutex>
#include <system_error>

namespace quellin {
namespace {

std::mutex g_mutex;
std::string g_override;

std::filesystem::path ExecutablePath() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return std::filesystem::current_path(ec) / "program";
    return exe;
}

}  // namespace

std::string GetProgramFolder(bool trim) {
    std::string folder;
    {
        std::lock_guard lock(g_mutex);
        folder = g_override;
    }
    if (folder.empty()) {
        folder = cp932::FromPath(ExecutablePath().parent_path());
        if (folder.empty() || folder.back() != '/')
            folder += '/';
    }
    if (trim && !folder.empty())
        folder.pop_back();
    return folder;
}

void SetProgramFolderForTesting(const std::string& folder) {
    std::lock_guard lock(g_mutex);
    g_override = folder;
}

std::string GetProgramName() {
    return ExecutablePath().filename().string();
}

}  // namespace quellin
