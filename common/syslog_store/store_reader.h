// Reading the syslog store: the search of Syslogd's window, `quellin
// syslog` and the web view all go through this one reader.
//
// A reader opens the file read-only and never blocks the writing Syslogd
// (WAL: it reads the last committed state while the writer goes on).  It
// needs only read access to the database and its "-wal" and "-shm" files
// beside it, which the writer creates with the database's permissions
// (owner read-write, group read) and leaves in place, so the folder itself
// may stay read-only for readers.
//
// One reader is one connection: use it from one thread at a time; Cancel()
// may come from any thread.
#pragma once

#include "result.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quellin::syslogstore {

inline constexpr std::uint8_t kAllLevels = 0xFF;
// Bit (1 << facility number) for the facilities 0-23.
inline constexpr std::uint32_t kAllFacilities = 0x00FFFFFF;
// Bounds of a query, so that no search grows without limit.
inline constexpr std::size_t kMaxQuerySources = 1024;
inline constexpr std::size_t kMaxQueryTextBytes = 1024;
inline constexpr std::size_t kMaxPatternBytes = 512;
inline constexpr std::size_t kMaxPageRows = 10000;

// One stored message.
struct StoredMessage {
    std::int64_t id = 0;          // unique; orders messages as they were received
    std::int64_t receivedAt = 0;  // UTC seconds
    std::string source;           // dotted IPv4
    int facility = 0;
    int level = 0;
    std::string text;  // the body as the list shows it, UTF-8
    std::string raw;   // the datagram as received, CP932 bytes

    bool operator==(const StoredMessage&) const = default;
};

enum class SortColumn { kTime, kSource, kFacility, kLevel, kText };
enum class TextMatch { kSubstring, kRegex };  // kRegex: POSIX extended

struct Query {
    std::optional<std::int64_t> since;          // UTC seconds, from this second on
    std::optional<std::int64_t> until;          // UTC seconds, before this second
    std::vector<std::uint32_t> sources;         // IPv4 addresses; empty: every router
    std::uint8_t levels = kAllLevels;           // bit (1 << level)
    std::uint32_t facilities = kAllFacilities;  // bit (1 << facility)
    std::string text;                           // UTF-8, as typed; empty: any text
    TextMatch match = TextMatch::kSubstring;
    bool ignoreCase = false;  // substring: for ASCII letters; regex: REG_ICASE
    SortColumn sort = SortColumn::kTime;
    bool descending = true;  // newest (largest) first
    // A search or count that runs longer ends with kTimeout.
    std::chrono::milliseconds timeLimit{30000};
};

// Where the next page starts: after the last row of the page before, in the
// query's order.  Valid only with the query it came from.
struct PageCursor {
    std::int64_t id = 0;
    std::int64_t number = 0;  // the sort column's value: source, facility or level
    std::string text;         // the sort column's value when sorting by text
};

struct Page {
    std::vector<StoredMessage> rows;
    std::optional<PageCursor> next;  // absent when there is nothing more
};

struct MatchSummary {
    std::uint64_t count = 0;
    std::int64_t first = 0;  // receive times of the oldest and newest match
    std::int64_t last = 0;   // (0 when nothing matched)
};

enum class BucketUnit { kMinute, kHour, kDay };

// Messages per level in one minute, hour or day of local time.
struct CountBucket {
    std::int64_t start = 0;  // UTC seconds of the bucket's local start
    std::array<std::uint64_t, 8> levels{};

    std::uint64_t Total() const;
    bool operator==(const CountBucket&) const = default;
};

class SyslogStoreReader {
public:
    // kNotFound, kIo (cannot open), kFormat (not a store), kDamaged.
    static Result<SyslogStoreReader> Open(const std::filesystem::path& path);

    SyslogStoreReader(SyslogStoreReader&&) noexcept;
    SyslogStoreReader& operator=(SyslogStoreReader&&) noexcept;
    ~SyslogStoreReader();

    // At most `limit` (up to kMaxPageRows) matches in the query's order,
    // after `after` when given.  A page is found from its cursor, never by
    // reading the pages before it again.
    Result<Page> Search(const Query& query, const std::optional<PageCursor>& after,
                        std::size_t limit);
    // How many messages match and when the first and last came.
    Result<MatchSummary> Summarize(const Query& query);
    // The matches per local minute, hour or day and level, oldest first;
    // buckets without a match are left out.  The local zone is the
    // process's (TZ).
    Result<std::vector<CountBucket>> CountBy(const Query& query, BucketUnit unit);

    // Any thread: the running search ends with kCancelled.
    void Cancel();

private:
    struct State;
    class Call;
    explicit SyslogStoreReader(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace quellin::syslogstore
