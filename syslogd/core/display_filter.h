// Which received messages the list shows, and how many per second it takes.
#pragma once

#include <cstdint>

namespace quellin::syslogd {

// Bits of the DispFilter setting.
inline constexpr std::uint8_t kFilterOff = 1;
inline constexpr std::uint8_t kFilterShowMode = 2;
inline constexpr std::uint8_t kFilterHideMode = 4;
inline constexpr std::uint8_t kFilterByLevel = 8;
inline constexpr std::uint8_t kFilterByFacility = 16;

struct DisplayFilter {
    std::uint8_t dispFilter = kFilterOff;
    std::uint8_t filterLevel = 0;
    std::int32_t filterFacility = 0;
};

// True when the message with these bits is to be listed.  Only bit 2 picks
// the mode: without it the hide rule applies, whatever else is set.
bool PassesDisplayFilter(const DisplayFilter& filter, std::uint8_t levelBit,
                         std::uint32_t facilityBit);

// At most 11 rows per clock second reach the list; later datagrams of that
// second are still alerted and logged.  The second of the last listed row is
// what counts, so a second without a listed row starts a fresh count.
class DisplayRateLimit {
public:
    static constexpr int kBurstLimit = 10;

    // Counts one datagram received at `now`; false when it is not to be listed.
    bool Admit(std::int64_t now);
    // A row received at `now` was added to the list.
    void RowAdded(std::int64_t now) { lastShown_ = now; }

private:
    std::int64_t lastShown_ = 0;
    int burstCount_ = 0;
};

}  // namespace quellin::syslogd
