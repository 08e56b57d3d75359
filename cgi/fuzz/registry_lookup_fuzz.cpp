// Looks access IDs up in arbitrary registry files: the first line of the
// input is the access ID, the rest is the content of base.db.  The console's
// load and save of the same file keep the rows beyond a short row count.
#include "device_registry.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("registry_lookup_fuzz." + std::to_string(::getpid()) + ".db");
    std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t newline = input.find('\n');
    std::string accessId = input.substr(0, newline);
    std::string content = newline == std::string::npos ? std::string() : input.substr(newline + 1);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
    }
    quellin::CBase device;
    bool found = quellin::FindDeviceByAccessId(path, accessId, device);
    if (found && (accessId.empty() || device.accessId != accessId))
        std::abort();

    constexpr int kRows = 3;
    quellin::CList<quellin::CBase> list;
    std::vector<std::string> beyond;
    if (quellin::LoadDevices(path, list, kRows, &beyond)) {
        if (quellin::SaveDevices(path, list, kRows, beyond)) {
            quellin::CList<quellin::CBase> again;
            std::vector<std::string> beyondAgain;
            if (!quellin::LoadDevices(path, again, kRows, &beyondAgain) || beyondAgain != beyond)
                std::abort();
        }
    }
    std::filesystem::remove(path);
    return 0;
}
