// Datagrams straight from the network through the decoder, the receive
// pipeline's own reading of them, the alert walk and the popup's head.
#include "alert.h"
#include "codec.h"
#include "log_file.h"
#include "received_message.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

// The plain reading of a match at character boundaries, to hold the fast
// one against.
bool ContainsAtBoundaries(std::string_view text, std::string_view needle) {
    std::vector<bool> boundary(text.size() + 1, false);
    for (std::size_t pos = 0; pos < text.size(); pos += quellin::cp932::CharacterLength(text, pos))
        boundary[pos] = true;
    boundary[text.size()] = true;
    for (std::size_t pos = 0; pos + needle.size() <= text.size(); ++pos) {
        if (text.compare(pos, needle.size(), needle) == 0 && boundary[pos] &&
            boundary[pos + needle.size()])
            return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quellin::syslogd;
    std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const std::string_view needle = bytes.substr(size / 2, size % 5);
    if (!needle.empty() && ContainsText(bytes, needle) != ContainsAtBoundaries(bytes, needle))
        std::abort();
    const std::string head = PopupHead(bytes, 64, 3);
    if (head != bytes && head.size() > 64 + 2)
        std::abort();

    // 2024-02-29 12:00 UTC: a leap day, so the date check takes both paths.
    constexpr std::int64_t kNow = 1709208000;
    auto result = DecodeDatagram(bytes, "192.0.2.1", kNow, true);
    const LayoutResult layout = ParseDatagram(bytes, DescribeReceiveTime(kNow).year);
    if (layout.layout.has_value() != result.message.has_value() ||
        layout.dropReason != result.dropReason)
        std::abort();
    if (!result.message)
        return 0;
    const ReceivedMessage& m = *result.message;
    if (m.raw != bytes || m.timestamp.size() != 15 || m.levelBit == 0 || m.facilityBit == 0)
        std::abort();
    // The body is always a tail of the datagram, where the layout says.
    if (bytes.substr(layout.layout->bodyOffset) != m.body)
        std::abort();
    if (m.logLine.find_first_of("\r\n") != std::string::npos)
        std::abort();
    // The line the pipeline writes from the columns where they lie.
    std::string line;
    AppendLogLineTo(line, {m.timestamp, m.source, m.facilityName, m.levelName, m.body});
    if (line != m.logLine)
        std::abort();

    SyslogdSettings settings;
    settings.searchTable[0].keyStr = bytes.substr(0, size % 7);
    settings.searchTable[1].keyStr = "\\";
    (void)PlanAlert(settings, m);
    return 0;
}
