// Device names as base.db may hold them, any bytes: every name gets a file
// name that is one safe name in one folder, and reads back as the name.
#include "device_file_name.h"
#include "fuzz_check.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using quellin::fuzz::Check;
    namespace history = quellin::history;
    const std::string name(reinterpret_cast<const char*>(data), size);
    if (!name.empty()) {
        const std::string file = history::DeviceFileName(name);
        Check(file.find('/') == std::string::npos);
        Check(file.find('\0') == std::string::npos);
        Check(file[0] != '.');
        Check(file.ends_with(".cfg"));
        Check(history::DeviceNameOfFile(file) == name);
    }
    // Read the other way: a file name is taken only as DeviceFileName
    // writes it.
    if (auto device = history::DeviceNameOfFile(name))
        Check(history::DeviceFileName(*device) == name);
    return 0;
}
