// The messages of one receive batch, as the reception thread hands them to
// the store.  Adding one copies the datagram and a few numbers, nothing
// more: decoding the text and everything SQLite does happens on the store
// writer's own thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quellin::syslogstore {

class StoreBatch {
public:
    struct Entry {
        std::int64_t receivedAt = 0;  // UTC seconds
        std::uint32_t source = 0;     // IPv4 address, host order
        std::uint32_t offset = 0;     // where the datagram starts in the batch
        std::uint32_t size = 0;
        std::uint32_t bodyOffset = 0;  // where the body starts, from the datagram's start
        std::uint8_t facility = 0;
        std::uint8_t level = 0;
    };

    // One accepted datagram received at `receivedAt` from `source` (dotted
    // IPv4; anything else is kept as 0.0.0.0), with its facility and level
    // numbers and the offset of its body (the text the list shows).  Throws
    // when out of memory (std::bad_alloc) or beyond 4 GiB (std::length_error).
    void Add(std::int64_t receivedAt, std::string_view source, int facility, int level,
             std::string_view datagram, std::size_t bodyOffset);

    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }
    // Memory the batch holds, as the writer's queue counts it.
    std::size_t Bytes() const { return bytes_.size() + entries_.size() * sizeof(Entry); }

    const std::vector<Entry>& entries() const { return entries_; }
    std::string_view Datagram(const Entry& entry) const {
        return std::string_view(bytes_).substr(entry.offset, entry.size);
    }

private:
    std::string bytes_;
    std::vector<Entry> entries_;
};

}  // namespace quellin::syslogstore
