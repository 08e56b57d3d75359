// The options with which tests and benchmarks point the router dialogues at
// simulated routers and shorten their waits (quellin's --telnet-port,
// --receive-timeout-ms, ...); the defaults are the console's.
#pragma once

#include "maintenance.h"

#include <string_view>
#include <vector>

namespace quellin::console {

struct TimingOption {
    const char* name;
    long long low;
    long long high;
};
const std::vector<TimingOption>& TimingOptions();

// Sets the named option (its value within its bounds); false otherwise.
bool ApplyTimingOption(RouterTimings& timings, std::string_view name, long long value);

}  // namespace quellin::console
