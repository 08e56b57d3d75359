// Numbers read the atoi way: the digits found are digits of the text, and
// every width keeps the same low bits of the same value.
#include "fuzz_check.h"
#include "leading_number.h"

#include <cstdint>
#include <string_view>

using quellin::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const quellin::LeadingNumber number = quellin::SplitLeadingNumber(text);
    for (char c : number.digits)
        Check(c >= '0' && c <= '9');
    if (!number.digits.empty()) {
        Check(number.digits.data() >= text.data() &&
              number.digits.data() + number.digits.size() <= text.data() + text.size());
        const char* after = number.digits.data() + number.digits.size();
        Check(after == text.data() + text.size() || *after < '0' || *after > '9');
    }

    const auto wide = quellin::ParseWrapping<std::uint64_t>(text);
    Check(quellin::ParseWrapping<std::uint32_t>(text) == static_cast<std::uint32_t>(wide));
    Check(quellin::ParseWrapping<std::uint16_t>(text) == static_cast<std::uint16_t>(wide));
    Check(quellin::ParseWrapping<std::uint8_t>(text) == static_cast<std::uint8_t>(wide));
    return 0;
}
