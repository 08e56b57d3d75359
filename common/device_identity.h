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

}  // namespace quellin
