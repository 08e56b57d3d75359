#include "desktop_entry.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto desktop = quellin::setup::ParseUserDirsDesktop(bytes, "/home/operator");
    // Only absolute folders may come out: a relative one would land the
    // shortcut wherever Setup was started.
    if (desktop && !desktop->is_absolute())
        std::abort();
    return 0;
}
