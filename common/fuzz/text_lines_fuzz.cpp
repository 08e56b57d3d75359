// Lines of files and request bodies: splitting must agree with the text-mode
// conversion, lose no byte other than line ends, and never put a line feed
// inside a line.
#include "fuzz_check.h"
#include "text_lines.h"

#include <cstdint>
#include <string>
#include <string_view>

using quellin::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string textMode = quellin::TextMode(bytes);
    Check(textMode.size() <= bytes.size());
    Check(textMode.find("\r\n") == std::string::npos || bytes.find("\r\r\n") != std::string::npos);

    std::string joined;
    std::string_view rest = bytes;
    std::size_t count = 0;
    while (auto line = quellin::NextLine(rest)) {
        Check(line->find('\n') == std::string_view::npos);
        if (count++ > 0)
            joined += '\n';
        joined += *line;
        Check(count <= bytes.size());
    }
    Check(rest.empty());
    // The lines put back together with LF are the text-mode text, but for
    // a final line end, which a split cannot show.
    if (!textMode.empty() && textMode.back() == '\n')
        joined += '\n';
    Check(joined == textMode);
    return 0;
}
