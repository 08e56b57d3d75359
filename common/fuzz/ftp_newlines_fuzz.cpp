// Configuration files prepared for upload: the conversion must give the same
// bytes whatever the read blocks, never alter a byte other than line ends,
// and leave nothing for a second run to change.
#include "ftp_session.h"
#include "fuzz_check.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

using quellin::fuzz::Check;

std::string WithoutLineEnds(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c != '\r' && c != '\n')
            out += c;
    }
    return out;
}

std::string_view LastNonEmptyLine(std::string_view text) {
    std::string_view last;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        if (end > start)
            last = text.substr(start, end - start);
        start = end + 1;
    }
    return last;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    // The first byte sets the block size for the piecewise run.
    const std::size_t block = 1 + data[0] % 7;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

    const std::string whole = quellin::ConvertNewlinesText(input);

    quellin::NewlineConverter converter;
    std::string pieces;
    for (std::size_t at = 0; at < input.size(); at += block) {
        converter.Feed(input.substr(at, block), pieces);
    }
    converter.Finish(pieces);
    Check(pieces == whole);

    Check(quellin::ConvertNewlinesText(whole) == whole);
    Check(whole.find('\r') == std::string::npos);
    Check(!whole.empty() && whole.back() == '\n');
    Check(LastNonEmptyLine(whole) == "eof");
    const std::string kept = WithoutLineEnds(input);
    const std::string written = WithoutLineEnds(whole);
    Check(written == kept || written == kept + "eof");
    return 0;
}
