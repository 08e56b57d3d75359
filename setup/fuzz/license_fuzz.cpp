#include "license_text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = quellin::setup::JoinLicenseLines(bytes);
    // Every line comes out with exactly one CR LF, and nothing else is lost.
    std::size_t breaks = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 >= text.size() || text[i + 1] != '\n')
                std::abort();
            ++breaks;
            ++i;
        } else if (text[i] == '\n') {
            std::abort();
        }
    }
    if (text.size() - 2 * breaks > bytes.size())
        std::abort();
    if (!bytes.empty() && (text.size() < 2 || text.substr(text.size() - 2) != "\r\n"))
        std::abort();
    return 0;
}
