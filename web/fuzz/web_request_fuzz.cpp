// Feeds arbitrary request targets through ParseRequest and arbitrary fleet
// state files through ParseFleetState: the first byte picks which, and for
// requests the method.
#include "fleet_state.h"
#include "web_request.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    using namespace quellin;
    const std::string payload(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] & 0x80) {
        for (const auto& device : console::ParseFleetState(payload))
            if (device.name.empty() || device.name.find('\t') != std::string::npos)
                std::abort();
        return 0;
    }
    static const char* const kMethods[] = {"GET", "HEAD", "POST", ""};
    const auto request = web::ParseRequest(kMethods[data[0] & 3], payload);
    if (!request)
        return 0;
    if (request->path.size() > web::kMaxSegments || request->query.size() > web::kMaxParameters)
        std::abort();
    for (const std::string& segment : request->path)
        if (segment.empty() || segment.find('\0') != std::string::npos)
            std::abort();
    return 0;
}
