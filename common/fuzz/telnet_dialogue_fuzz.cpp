// A whole telnet dialogue against a router that says anything: the first
// input byte picks how the bytes are split over reads, the rest is what the
// router sends.  The session must end, never pass a negotiation byte on as
// text, answer only with refusals between its own lines, and give the same
// outcome however the bytes arrive.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "telnet_session.h"

namespace {

using quellin::TelnetChannel;

using quellin::fuzz::Check;

class MemoryChannel final : public TelnetChannel {
public:
    MemoryChannel(std::string_view input, std::size_t chunk) : input_(input), chunk_(chunk) {}

    ReadResult Read(std::span<char> buffer, std::chrono::milliseconds) override {
        if (input_.empty())
            return {Status::kTimeout};
        std::size_t count = std::min({chunk_, buffer.size(), input_.size()});
        std::memcpy(buffer.data(), input_.data(), count);
        input_.remove_prefix(count);
        return {Status::kData, count};
    }

    WriteResult Write(std::string_view bytes) override {
        written.append(bytes);
        return {static_cast<std::ptrdiff_t>(bytes.size())};
    }

    std::string written;

private:
    std::string_view input_;
    std::size_t chunk_;
};

struct Outcome {
    bool ok;
    std::string output;
    std::string written;
    std::string error;
};

Outcome Run(std::string_view input, std::size_t chunk, std::size_t receiveChunk) {
    MemoryChannel channel(input, chunk);
    quellin::TelnetDialogue dialogue(channel, std::chrono::milliseconds(0), receiveChunk);
    bool ok = dialogue.LogIn("admin", "secret") && dialogue.SendCommand("show tech-support");
    if (ok && dialogue.connected())
        dialogue.SendCommand("exit");
    std::string error = dialogue.failure() ? quellin::FormatTelnetFailure(*dialogue.failure()) : "";
    return {ok, dialogue.output(), channel.written, error};
}

// What the session wrote, with every refusal (IAC WONT x) taken out.
std::string WithoutRefusals(std::string_view written) {
    std::string lines;
    for (std::size_t i = 0; i < written.size();) {
        if (static_cast<unsigned char>(written[i]) == 255) {
            Check(i + 2 < written.size() && static_cast<unsigned char>(written[i + 1]) == 252);
            i += 3;
        } else {
            lines += written[i++];
        }
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::size_t chunk = data[0] % 16 + 1;
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

    Outcome outcome = Run(input, chunk, quellin::TelnetDialogue::kDefaultReceiveChunk);
    Check(outcome.output.find('\xff') == std::string::npos);
    std::string lines = WithoutRefusals(outcome.written);
    Check(std::string_view("admin\r\nsecret\r\nshow tech-support\r\nexit\r\n").starts_with(lines));

    Outcome bytewise = Run(input, 1, 1);
    Check(bytewise.ok == outcome.ok && bytewise.output == outcome.output &&
          bytewise.written == outcome.written && bytewise.error == outcome.error);
    return 0;
}
