// Router answers to "show system information", read by the Netprov and the
// console rules: whatever the bytes, the fields stay within their limits and
// come from the text, a result of 0 means all three were found, and both
// rules agree on the model.
#include <cstdint>
#include <string>
#include <string_view>

#include "device_identity.h"
#include "fuzz_check.h"

namespace {

using quellin::DeviceIdentity;
using quellin::SystemInformationRules;

using quellin::fuzz::Check;

bool HasNoLineEndOrNul(std::string_view field) {
    return field.find_first_of(std::string_view("\0\r", 2)) == std::string_view::npos;
}

DeviceIdentity Parse(std::string_view text, SystemInformationRules rules, int& result) {
    DeviceIdentity identity;
    identity.model = "stale";
    identity.ptf = "stale";
    result = quellin::ParseSystemInformation(text, identity, rules);
    Check(result == 0 || result == -1);
    Check(identity.model.size() <= 30 && HasNoLineEndOrNul(identity.model));
    Check(identity.startupConfig.size() <= 32 && HasNoLineEndOrNul(identity.startupConfig));
    Check(identity.ptf.empty() && identity.date.empty());
    if (!identity.model.empty())
        Check(text.find("System : " + identity.model + "\r") != std::string_view::npos);
    if (!identity.startupConfig.empty())
        Check(text.find(identity.startupConfig + "\r") != std::string_view::npos);
    return identity;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    int netprovResult = 0;
    int consoleResult = 0;
    DeviceIdentity netprov = Parse(text, SystemInformationRules::kNetprov, netprovResult);
    DeviceIdentity console = Parse(text, SystemInformationRules::kConsole, consoleResult);
    Check(netprov.model == console.model);
    // Without a running-firmware line both read the same version line.
    if (text.find("Running-firmware : ") == std::string_view::npos)
        Check(netprov.major == console.major && netprov.minor == console.minor);
    return 0;
}
