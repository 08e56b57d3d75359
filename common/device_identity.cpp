#include "device_identity.h"

#include <cstdio>

namespace quellin {
namespace {

// Leading decimal digits; none gives 0 (atoi without sign handling beyond
// what the version texts use).
std::int32_t LeadingNumber(const std::string& text) {
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10u + static_cast<std::uint32_t>(c - '0');
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace

int ParseVersionText(const std::string& text, std::int32_t& major, std::int32_t& minor) {
    // Only the first 31 bytes (up to a zero byte) take part.
    std::string buffer = text.substr(0, 31);
    if (auto nul = buffer.find('\0'); nul != std::string::npos) buffer.resize(nul);
    if (buffer.empty() || buffer[0] != 'V') return -1;
    auto dot = buffer.find('.', 1);
    if (dot == std::string::npos) return -1;
    major = LeadingNumber(buffer.substr(1, dot - 1));
    std::string rest = buffer.substr(dot + 1);
    if (rest.size() != 2) return -1;
    minor = LeadingNumber(rest);
    return 0;
}

std::string FormatVersion(std::int32_t major, std::int32_t minor) {
    char text[32];
    std::snprintf(text, sizeof text, "V%02d.%02d", major, minor);
    return text;
}

}  // namespace quellin
