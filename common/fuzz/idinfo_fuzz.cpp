// Router answers to "idinfo -c": whatever the bytes, the fields stay within
// their limits and come from the text.
#include <cstdint>
#include <string_view>

#include "device_identity.h"
#include "fuzz_check.h"

using quellin::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    quellin::DeviceIdentity identity;
    identity.startupConfig = "stale";
    int result = quellin::ParseIdInfo(text, identity);
    Check(result == 0 || result == -1);
    Check(identity.model.size() <= 30 && identity.startupConfig.size() <= 32);
    Check(identity.ptf.empty() && identity.date.empty());
    if (!identity.model.empty())
        Check(text.find("TYPE    : " + identity.model + "\r") != std::string_view::npos);
    if (!identity.startupConfig.empty())
        Check(text.find("CURRENT : " + identity.startupConfig + "\r") != std::string_view::npos);
    return 0;
}
