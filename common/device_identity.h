// What a router is: filled from "show system information" (device
// identification) or from a firmware image's ".firmif" block, so that an
// image and a device can be compared field by field.
#pragma once

#include <cstdint>
#include <string>

namespace quellin {

// Texts are bytes as received, each at most 31 bytes long.
struct DeviceIdentity {
    std::string model;
    std::int32_t major = 0;
    std::int32_t minor = 0;
    std::string ptf;
    std::string date;
    std::string startupConfig;

    bool operator==(const DeviceIdentity&) const = default;
};

// "V" + major + "." + exactly two bytes of minor ("V10.02" gives 10 and 2).
// 0 on success, -1 otherwise; major is stored even when the minor part fails.
int ParseVersionText(const std::string& text, std::int32_t& major, std::int32_t& minor);

// Versions as shown to users: "V%02d.%02d".
std::string FormatVersion(std::int32_t major, std::int32_t minor);

}  // namespace quellin
