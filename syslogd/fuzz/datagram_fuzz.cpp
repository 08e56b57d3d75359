// Datagrams straight from the network through the decoder and the alert walk.
#include "alert.h"
#include "received_message.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quellin::syslogd;
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // 2024-02-29 12:00 UTC: a leap day, so the date check takes both paths.
    auto result = DecodeDatagram(bytes, "192.0.2.1", 1709208000, true);
    if (!result.message)
        return 0;
    const ReceivedMessage& m = *result.message;
    if (m.raw != bytes || m.timestamp.size() != 15 || m.levelBit == 0 || m.facilityBit == 0)
        std::abort();
    // The body is always a tail of the datagram.
    if (bytes.size() < m.body.size() || bytes.substr(bytes.size() - m.body.size()) != m.body)
        std::abort();
    if (m.logLine.find_first_of("\r\n") != std::string::npos)
        std::abort();

    SyslogdSettings settings;
    settings.searchTable[0].keyStr = bytes.substr(0, size % 7);
    settings.searchTable[1].keyStr = "\\";
    (void)PlanAlert(settings, m);
    return 0;
}
