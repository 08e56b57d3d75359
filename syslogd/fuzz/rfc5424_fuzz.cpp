// Messages straight from the network through the decoder of both forms and
// the log line: an RFC 5424 header, however broken, never reads past the
// message, and a decoded one holds no line break in its log line.
#include "log_file.h"
#include "received_message.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quellin::syslogd;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const ReceiveTime time = DescribeReceiveTime(1709208000);
    std::string kept;
    const DecodeResult result = DecodeMessage(bytes, "192.0.2.1", time, kept);
    const DecodeResult older = DecodeDatagram(bytes, "192.0.2.1", time);
    if (result.message.has_value() != older.message.has_value())
        std::abort();
    if (!result.message)
        return 0;
    const ReceivedMessage& m = *result.message;
    if (m.raw != bytes || m.timestamp.size() != 15 || m.rawBodyOffset > bytes.size())
        std::abort();
    std::string line;
    AppendLogLineTo(line, m.Columns());
    if (line.find_first_of("\r\n") != std::string::npos)
        std::abort();
    return 0;
}
