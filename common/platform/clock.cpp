#include "clock.h"

#include <atomic>
#include <ctime>

namespace quellin {
namespace {

const SystemClock g_systemClock;
std::atomic<const Clock*> g_clock{nullptr};

}  // namespace

std::int64_t SystemClock::Now() const {
    return static_cast<std::int64_t>(std::time(nullptr));
}

const Clock& CurrentClock() {
    const Clock* clock = g_clock.load();
    return clock != nullptr ? *clock : g_systemClock;
}

void SetClockForTesting(const Clock* clock) {
    g_clock.store(clock);
}

std::string FormatLocalTime(std::int64_t time, const char* format) {
    std::time_t t = static_cast<std::time_t>(time);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr)
        return {};
    char buffer[128];
    std::size_t n = std::strftime(buffer, sizeof buffer, format, &local);
    return std::string(buffer, n);
}

std::int64_t MakeLocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    std::time_t t = std::mktime(&local);
    return static_cast<std::int64_t>(t);
}

}  // namespace quellin
