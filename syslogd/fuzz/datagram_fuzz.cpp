// Datagrams straight from the network through the decoder and the stages
// of the receive pipeline that read them: the alert walk, the popup's head,
// the log line and the forwarded form.
#include "alert.h"
#include "codec.h"
#include "forwarder.h"
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
    const ReceiveTime time = DescribeReceiveTime(1709208000);
    const DecodeResult result = DecodeDatagram(bytes, "192.0.2.1", time);
    if (result.message.has_value() != (result.dropReason == DropReason::None))
        std::abort();
    if (!result.message)
        return 0;
    const ReceivedMessage& m = *result.message;
    if (m.raw != bytes || m.timestamp.size() != 15 || m.level.bit == 0 || m.facility.bit == 0)
        std::abort();
    // The body is always a tail of the datagram.
    if (m.body.data() + m.body.size() != bytes.data() + bytes.size())
        std::abort();
    std::string line;
    AppendLogLineTo(line, m.Columns());
    if (line.find_first_of("\r\n") != std::string::npos)
        std::abort();
    ForwardBatch batch;
    AddForwarded(batch, ForwardFormat::Rfc5424, m);
    AddForwarded(batch, ForwardFormat::Rfc3164, m);

    auto settings = std::make_shared<SyslogdSettings>();
    settings->searchTable[0].keyStr = bytes.substr(0, size % 7);
    settings->searchTable[1].keyStr = "\\";
    settings->mailSendFlag = true;
    settings->searchTable[0].mailFlag = true;
    AlertStage alerts({64, 3});
    alerts.Use(settings);
    (void)alerts.Match(m);
    return 0;
}
