#include "timing_options.h"

namespace quellin::console {

const std::vector<TimingOption>& TimingOptions() {
    static const std::vector<TimingOption> options = {
        {"telnet-port", 1, 65535},         {"ftp-port", 1, 65535},
        {"receive-timeout-ms", 1, 600000}, {"initial-sleep-ms", 0, 600000},
        {"restart-wait-ms", 0, 600000},    {"ftp-connect-timeout-ms", 1, 600000},
    };
    return options;
}

bool ApplyTimingOption(RouterTimings& timings, std::string_view name, long long value) {
    using std::chrono::milliseconds;
    for (const TimingOption& option : TimingOptions()) {
        if (name != option.name)
            continue;
        if (value < option.low || value > option.high)
            return false;
        if (name == "telnet-port")
            timings.telnet.port = static_cast<std::uint16_t>(value);
        else if (name == "ftp-port")
            timings.ftpPort = static_cast<int>(value);
        else if (name == "receive-timeout-ms")
            timings.telnet.receiveTimeout = milliseconds(value);
        else if (name == "initial-sleep-ms")
            timings.telnet.initialSleep = milliseconds(value);
        else if (name == "restart-wait-ms")
            timings.configRestartWait = timings.firmwareRestartWait = milliseconds(value);
        else
            timings.ftp.connect = milliseconds(value);
        return true;
    }
    return false;
}

}  // namespace quellin::console
