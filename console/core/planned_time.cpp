#include "planned_time.h"

#include <ctime>

namespace quellin::console {

std::optional<std::string> PlannedTimeProblem(const std::string& text, std::int64_t now) {
    if (text.size() != 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return "--at needs YYMMDDHHMM, e.g. 1712251030";
    auto part = [&](std::size_t at) { return std::stoi(text.substr(at, 2)); };
    std::tm planned{};
    planned.tm_year = 100 + part(0);
    planned.tm_mon = part(2) - 1;
    planned.tm_mday = part(4);
    planned.tm_hour = part(6);
    planned.tm_min = part(8);
    planned.tm_isdst = -1;
    std::tm normalised = planned;
    const std::time_t time = std::mktime(&normalised);
    if (time == -1 || normalised.tm_year != planned.tm_year ||
        normalised.tm_mon != planned.tm_mon || normalised.tm_mday != planned.tm_mday ||
        normalised.tm_hour != planned.tm_hour || normalised.tm_min != planned.tm_min)
        return "--at " + text + " is no time of the calendar (YYMMDDHHMM)";
    if (time < now - now % 60)
        return "--at " + text + " has passed already";
    return std::nullopt;
}

}  // namespace quellin::console
