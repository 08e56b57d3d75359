#include "codec.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace quellin::cp932 {
namespace {

// One iconv descriptor per conversion; iconv_t is not shared between threads.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts the whole input; on an invalid sequence either fails or, with
    // a replacement, puts it in place of the offending bytes and goes on.
    std::optional<std::string> Run(std::string_view in, const std::string* replacement) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            return std::nullopt;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string out;
        out.reserve(in.size() * 3 / 2 + 4);
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        char buffer[4096];
        while (srcLeft > 0) {
            char* dst = buffer;
            size_t dstLeft = sizeof buffer;
            size_t rc = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(buffer, static_cast<size_t>(dst - buffer));
            if (rc != static_cast<size_t>(-1))
                continue;
            if (errno == E2BIG)
                continue;
            if (replacement == nullptr)
                return std::nullopt;
            // EILSEQ or EINVAL (truncated input): skip one byte and go on.
            out += *replacement;
            ++src;
            --srcLeft;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        char* dst = buffer;
        size_t dstLeft = sizeof buffer;
        iconv(cd_, nullptr, nullptr, &dst, &dstLeft);
        out.append(buffer, static_cast<size_t>(dst - buffer));
        return out;
    }

private:
    iconv_t cd_;
};

Converter& ToUtf8Converter() {
    thread_local Converter c("UTF-8", "CP932");
    return c;
}

Converter& FromUtf8Converter() {
    thread_local Converter c("CP932", "UTF-8");
    return c;
}

bool IsAscii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80)
            return false;
    return true;
}

}  // namespace

std::optional<std::string> ToUtf8(std::string_view cp932) {
    if (IsAscii(cp932))
        return std::string(cp932);
    return ToUtf8Converter().Run(cp932, nullptr);
}

std::optional<std::string> FromUtf8(std::string_view utf8) {
    if (IsAscii(utf8))
        return std::string(utf8);
    return FromUtf8Converter().Run(utf8, nullptr);
}

std::string ToUtf8Lossy(std::string_view cp932) {
    if (IsAscii(cp932))
        return std::string(cp932);
    static const std::string kReplacement = "\xEF\xBF\xBD";
    return ToUtf8Converter().Run(cp932, &kReplacement).value_or(std::string());
}

std::string FromUtf8Lossy(std::string_view utf8) {
    if (IsAscii(utf8))
        return std::string(utf8);
    if (auto exact = FromUtf8(utf8))
        return *exact;
    // Character by character, so one unconvertible character costs one "?".
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        auto lead = static_cast<unsigned char>(utf8[i]);
        std::size_t width = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        width = std::min(width, utf8.size() - i);
        if (auto bytes = FromUtf8(utf8.substr(i, width))) {
            out += *bytes;
        } else {
            out += '?';
        }
        i += width;
    }
    return out;
}

std::optional<std::size_t> ByteLength(std::string_view utf8) {
    auto bytes = FromUtf8(utf8);
    if (!bytes)
        return std::nullopt;
    return bytes->size();
}

std::string_view Head(std::string_view text, std::size_t maxBytes) {
    std::size_t end = 0;
    while (end < text.size()) {
        const std::size_t next = end + CharacterLength(text, end);
        if (next > maxBytes)
            break;
        end = next;
    }
    return text.substr(0, end);
}

std::string Jp(std::string_view utf8) {
    auto bytes = FromUtf8(utf8);
    if (!bytes) {
        std::fprintf(stderr, "no CP932 form for literal: %.*s\n", static_cast<int>(utf8.size()),
                     utf8.data());
        std::abort();
    }
    return *bytes;
}

std::filesystem::path ToPath(std::string_view cp932) {
    if (auto utf8 = ToUtf8(cp932))
        return std::filesystem::path(*utf8);
    return std::filesystem::path(std::string(cp932));
}

std::string FromPath(const std::filesystem::path& path) {
    const std::string& native = path.native();
    if (auto bytes = FromUtf8(native))
        return *bytes;
    return native;
}

std::string_view Tail(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    std::size_t start = text.size() - maxBytes;
    // A byte that is no lead byte always ends a character, so the run of
    // lead bytes right before the cut begins at a character start and pairs
    // up from there: after an odd run the cut falls inside a character when
    // its byte can be a trail byte.
    std::size_t run = 0;
    while (run < start && IsLeadByte(static_cast<unsigned char>(text[start - run - 1])))
        ++run;
    if (run % 2 == 1 && IsTrailByte(static_cast<unsigned char>(text[start])))
        ++start;
    return text.substr(start);
}

}  // namespace quellin::cp932
