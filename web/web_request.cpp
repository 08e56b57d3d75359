#include "web_request.h"

namespace quellin::web {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<std::string> PercentDecode(std::string_view text, bool plusIsBlank) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            c = static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c == '+' && plusIsBlank) {
            c = ' ';
        }
        if (c == '\0')
            return std::nullopt;
        out += c;
    }
    return out;
}

std::optional<Request> ParseRequest(std::string_view method, std::string_view target) {
    if (target.empty() || target.front() != '/' || target.size() > kMaxTargetBytes)
        return std::nullopt;
    Request request{std::string(method), {}, {}};
    const std::size_t mark = target.find('?');
    std::string_view path = target.substr(0, mark);
    const std::string_view query =
        mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view piece = path.substr(0, slash);
        path.remove_prefix(slash == std::string_view::npos ? path.size() : slash + 1);
        if (piece.empty())
            continue;
        auto segment = PercentDecode(piece, false);
        if (!segment || request.path.size() == kMaxSegments)
            return std::nullopt;
        request.path.push_back(std::move(*segment));
    }
    std::size_t pieces = 0;
    for (std::string_view rest = query; !rest.empty();) {
        const std::size_t amp = rest.find('&');
        const std::string_view piece = rest.substr(0, amp);
        rest.remove_prefix(amp == std::string_view::npos ? rest.size() : amp + 1);
        if (piece.empty())
            continue;
        if (++pieces > kMaxParameters)
            return std::nullopt;
        const std::size_t equals = piece.find('=');
        auto name = PercentDecode(piece.substr(0, equals), true);
        auto value = PercentDecode(
            equals == std::string_view::npos ? std::string_view() : piece.substr(equals + 1), true);
        if (!name || !value)
            return std::nullopt;
        request.query.try_emplace(std::move(*name), std::move(*value));
    }
    return request;
}

}  // namespace quellin::web
