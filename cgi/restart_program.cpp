#include "restart_program.h"

namespace quellin::netprov {

std::vector<std::string> SplitAtBlanks(std::string_view text) {
    std::vector<std::string> pieces;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
            ++at;
        std::size_t end = at;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t')
            ++end;
        if (end > at)
            pieces.emplace_back(text.substr(at, end - at));
        at = end;
    }
    return pieces;
}

}  // namespace quellin::netprov
