// Time as the system keeps it: seconds since 1970-01-01 00:00 UTC in 64-bit
// integers, 0 meaning never; shown in local time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quellin {

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::int64_t Now() const = 0;
};

class SystemClock final : public Clock {
public:
    std::int64_t Now() const override;
};

// The process-wide clock; tests may replace it (nullptr restores the system
// clock).  The clock must outlive its use.
const Clock& CurrentClock();
void SetClockForTesting(const Clock* clock);

// strftime of the time in local time; empty text when the time cannot be
// converted.
std::string FormatLocalTime(std::int64_t time, const char* format);

// Local broken-down time to seconds since 1970 (mktime); -1 when invalid.
std::int64_t MakeLocalTime(int year, int month, int day, int hour, int minute, int second);

}  // namespace quellin
