// A whole telnet dialogue against a router that says anything: the first
// input byte picks how the bytes are split over reads (low four bits) and how
// small the bounds are (high four bits), the rest is what the router sends.
// The session must end, never pass a negotiation byte on as text, answer only
// with refusals between its own lines, and give the same outcome however the
// bytes arrive.  With a small output limit or a short deadline it must stop
// there, and up to that point do what it does without them.
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
using quellin::TelnetEvent;
using quellin::TelnetOptions;

using quellin::fuzz::Check;

// The router's bytes from memory.  Its clock runs one millisecond per
// delivered byte and the whole time-out of a wait that finds nothing.
class MemoryChannel final : public TelnetChannel {
public:
    MemoryChannel(std::string_view input, std::size_t chunk) : input_(input), chunk_(chunk) {}

    ReadResult Read(std::span<char> buffer, std::chrono::milliseconds timeout) override {
        if (input_.empty()) {
            now_ += timeout;
            return {Status::kTimeout};
        }
        std::size_t count = std::min({chunk_, buffer.size(), input_.size()});
        std::memcpy(buffer.data(), input_.data(), count);
        input_.remove_prefix(count);
        delivered += count;
        now_ += std::chrono::milliseconds(count);
        return {Status::kData, count};
    }

    WriteResult Write(std::string_view bytes) override {
        written.append(bytes);
        return {static_cast<std::ptrdiff_t>(bytes.size())};
    }

    std::chrono::steady_clock::time_point Now() const override {
        return std::chrono::steady_clock::time_point(now_);
    }

    std::string written;
    std::size_t delivered = 0;

private:
    std::string_view input_;
    std::size_t chunk_;
    std::chrono::milliseconds now_{0};
};

struct Outcome {
    bool ok;
    std::string output;
    std::string written;
    std::string error;
    TelnetEvent event = TelnetEvent::kSent;  // of the failure, if any
    std::size_t delivered = 0;
};

Outcome Run(std::string_view input, std::size_t chunk, const TelnetOptions& options) {
    MemoryChannel channel(input, chunk);
    quellin::TelnetDialogue dialogue(channel, options);
    bool ok = dialogue.LogIn("admin", "secret") && dialogue.SendCommand("show tech-support");
    if (ok && dialogue.connected())
        dialogue.SendCommand("exit");
    Outcome outcome{ok, dialogue.output(), channel.written, ""};
    if (const auto& failure = dialogue.failure()) {
        outcome.error = quellin::FormatTelnetFailure(*failure);
        outcome.event = failure->event;
        // Failure texts carry only the end of what was received.
        Check(!failure->detail || failure->detail->size() <= quellin::kTelnetFailureDetailLimit);
    }
    outcome.delivered = channel.delivered;
    return outcome;
}

bool Same(const Outcome& a, const Outcome& b) {
    return a.ok == b.ok && a.output == b.output && a.written == b.written && a.error == b.error;
}

// A run cut short by a bound: it ended with the bound's event, and what it
// collected and sent is how the unbounded run began.
bool CutShort(const Outcome& bounded, const Outcome& unbounded, TelnetEvent event) {
    return bounded.event == event &&
           std::string_view(unbounded.output).starts_with(bounded.output) &&
           std::string_view(unbounded.written).starts_with(bounded.written);
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
    std::size_t bound = data[0] / 16;
    std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

    TelnetOptions options;
    options.receiveTimeout = std::chrono::milliseconds(0);
    Outcome outcome = Run(input, chunk, options);
    Check(outcome.output.find('\xff') == std::string::npos);
    std::string lines = WithoutRefusals(outcome.written);
    Check(std::string_view("admin\r\nsecret\r\nshow tech-support\r\nexit\r\n").starts_with(lines));

    TelnetOptions bytewiseOptions = options;
    bytewiseOptions.receiveChunk = 1;
    Check(Same(Run(input, 1, bytewiseOptions), outcome));

    // A small output limit.
    TelnetOptions limited = options;
    limited.outputLimit = bound * 24;
    Outcome small = Run(input, chunk, limited);
    Check(small.output.size() <= limited.outputLimit);
    Check(Same(small, outcome) || CutShort(small, outcome, TelnetEvent::kTooLong));

    // A short deadline, with waits that take time.
    TelnetOptions hurried = options;
    hurried.receiveTimeout = std::chrono::milliseconds(5);
    hurried.deadline = std::chrono::milliseconds(bound * 16);
    Outcome late = Run(input, chunk, hurried);
    Check(late.delivered <= bound * 16 + chunk);
    Check(Same(late, outcome) || CutShort(late, outcome, TelnetEvent::kTimeout));
    return 0;
}
