// Numbers in the shared files, in command-line arguments and in request
// variables are read the way the C library's atoi reads them: optional
// blanks (space or tab), an optional sign, then the leading decimal digits.
// Whatever follows the digits is ignored, and text without digits reads as
// 0.  Readers differ only in what an overflow gives, so each picks its
// arithmetic on top of SplitLeadingNumber.
#pragma once

#include <concepts>
#include <string_view>

namespace quellin {

struct LeadingNumber {
    bool negative = false;
    std::string_view digits;  // '0' to '9' only; empty when there are none
};

LeadingNumber SplitLeadingNumber(std::string_view text);

// The value modulo 2^N for an N-bit T: the low bits that a conversion
// through a wider integer keeps.
template <std::unsigned_integral T>
T ParseWrapping(std::string_view text) {
    const LeadingNumber number = SplitLeadingNumber(text);
    T value = 0;
    for (char c : number.digits)
        value = static_cast<T>(value * 10u + static_cast<unsigned>(c - '0'));
    return number.negative ? static_cast<T>(0u - value) : value;
}

}  // namespace quellin
