// Files opened into the list: line splitting and the five-column split.
#include "log_file.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quellin::syslogd;
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (const std::string& line : SplitLines(bytes)) {
        ListRow row = SplitLogLine(line);
        std::size_t total = 0;
        for (const auto& column : row)
            total += column.size();
        if (total > line.size())
            std::abort();
    }
    return 0;
}
