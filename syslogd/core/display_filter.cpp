#include "display_filter.h"

namespace quellin::syslogd {

bool PassesDisplayFilter(const DisplayFilter& filter, std::uint8_t levelBit,
                         std::uint32_t facilityBit) {
    if (filter.dispFilter == kFilterOff)
        return true;
    bool byLevel = (filter.dispFilter & kFilterByLevel) != 0;
    bool byFacility = (filter.dispFilter & kFilterByFacility) != 0;
    bool levelSelected = (filter.filterLevel & levelBit) != 0;
    bool facilitySelected = (static_cast<std::uint32_t>(filter.filterFacility) & facilityBit) != 0;
    if ((filter.dispFilter & kFilterShowMode) != 0)
        return (!byLevel || levelSelected) && (!byFacility || facilitySelected);
    return (!byLevel || !levelSelected) && (!byFacility || !facilitySelected);
}

bool DisplayRateLimit::Admit(std::int64_t now) {
    if (now != lastShown_) {
        burstCount_ = 0;
        return true;
    }
    if (++burstCount_ > kBurstLimit) {
        burstCount_ = kBurstLimit;
        return false;
    }
    return true;
}

}  // namespace quellin::syslogd
