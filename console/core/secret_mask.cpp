#include "secret_mask.h"

#include <array>
#include <cctype>

namespace quellin::console {
namespace {

bool NamesSecret(std::string_view word) {
    std::string lower(word);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    static constexpr std::array<std::string_view, 5> kWords = {"password", "passwd", "secret",
                                                               "key", "community"};
    for (std::string_view secret : kWords)
        if (lower.find(secret) != std::string::npos)
            return true;
    return false;
}

bool Blank(char c) {
    return c == ' ' || c == '\t';
}

std::string MaskLine(std::string_view line) {
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && Blank(line[at]))
            ++at;
        std::size_t end = at;
        while (end < line.size() && !Blank(line[end]))
            ++end;
        if (end > at && NamesSecret(line.substr(at, end - at))) {
            std::size_t rest = end;
            while (rest < line.size() && Blank(line[rest]))
                ++rest;
            if (rest == line.size())
                return std::string(line);
            return std::string(line.substr(0, end)) + " " + kMaskedSecret;
        }
        at = end;
    }
    return std::string(line);
}

}  // namespace

std::string MaskSecrets(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        end = end == std::string_view::npos ? text.size() : end + 1;
        std::string_view line = text.substr(0, end);
        std::string_view ending;
        for (std::size_t keep = line.size();
             keep > 0 && (line[keep - 1] == '\n' || line[keep - 1] == '\r');)
            ending = line.substr(--keep);
        out += MaskLine(line.substr(0, line.size() - ending.size()));
        out += ending;
        text.remove_prefix(end);
    }
    return out;
}

}  // namespace quellin::console
