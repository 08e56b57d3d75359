// The planned time of a scheduled operation, as the router's scheduler takes
// it: ten digits "%y%m%d%H%M" in local time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quellin::console {

// What is wrong with a planned time typed as text (ASCII), or nullopt: it
// must be ten digits naming a minute that exists in the local calendar (no
// 30 February) and has not passed at `now` - the router would wait for
// ever for a time that never comes.  The dialogs' time control can make no
// other.
std::optional<std::string> PlannedTimeProblem(const std::string& text, std::int64_t now);

}  // namespace quellin::console
