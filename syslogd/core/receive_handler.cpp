#include "receive_handler.h"

#include <exception>

namespace quellin::syslogd {
namespace {

template <typename Stage>
void RunIgnoringFailure(Stage&& stage) {
    try {
        stage();
    } catch (const std::exception&) {
        // One failing stage must not keep the message from the next.
    }
}

}  // namespace

void ReceiveHandler::Handle(std::string_view datagram, std::string_view source) {
    const std::int64_t now = clock_.Now();
    // The rate check comes before decoding, so malformed datagrams count too.
    const bool listable = rate_.Admit(now);

    const bool logging = settings_.logWriteFlag;
    DecodeResult decoded = DecodeDatagram(datagram, source, now, logging);
    if (!decoded.message)
        return;
    const ReceivedMessage& message = *decoded.message;

    if (displayRunning_ && listable) {
        RunIgnoringFailure([&] {
            if (stages_.AddRow(message))
                rate_.RowAdded(now);
        });
    }
    RunIgnoringFailure([&] { stages_.Alert(message); });
    if (logging)
        RunIgnoringFailure([&] { stages_.WriteLog(message); });
}

}  // namespace quellin::syslogd
