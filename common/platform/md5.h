// MD5 (RFC 1321), with which Netprov checks a device's access password: the
// device sends the digest of its password instead of the password itself.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quellin {

std::array<std::uint8_t, 16> Md5Digest(std::string_view bytes);

// The digest as 32 lowercase hexadecimal digits, bytes in their standard
// order.
std::string Md5Hex(std::string_view bytes);

}  // namespace quellin
