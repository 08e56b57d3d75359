#include "store_batch.h"

#include "store_text.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace quellin::syslogstore {

void StoreBatch::Add(std::int64_t receivedAt, std::string_view source, int facility, int level,
                     std::string_view datagram, std::size_t bodyOffset) {
    if (bytes_.size() + datagram.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("store batch");
    Entry entry;
    entry.receivedAt = receivedAt;
    entry.source = ParseIPv4Address(source).value_or(0);
    entry.offset = static_cast<std::uint32_t>(bytes_.size());
    entry.size = static_cast<std::uint32_t>(datagram.size());
    entry.bodyOffset = static_cast<std::uint32_t>(std::min(bodyOffset, datagram.size()));
    entry.facility = static_cast<std::uint8_t>(std::clamp(facility, 0, 23));
    entry.level = static_cast<std::uint8_t>(level & 7);
    bytes_.append(datagram);
    entries_.push_back(entry);
}

}  // namespace quellin::syslogstore
