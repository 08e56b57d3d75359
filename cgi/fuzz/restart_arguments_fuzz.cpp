// Splits arbitrary "ADDRESS NAME" texts into the restart program's
// arguments: no argument is empty or holds a blank, and together they are
// the text's words in order.
#include "restart_program.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto pieces = quellin::netprov::SplitAtBlanks(text);
    std::string joined;
    for (const auto& piece : pieces) {
        if (piece.empty() || piece.find_first_of(" \t") != std::string::npos)
            std::abort();
        joined += piece;
    }
    std::string words;
    for (char c : text)
        if (c != ' ' && c != '\t')
            words += c;
    if (joined != words)
        std::abort();
    return 0;
}
