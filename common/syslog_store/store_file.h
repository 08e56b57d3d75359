// The writer's side of the store's file, one call at a time on the thread
// that owns it: writing batches in one transaction, expiry in bounded
// steps, renaming a damaged file aside.  SyslogStoreWriter runs it on its
// own thread; it blocks for as long as SQLite does.
#pragma once

#include "result.h"
#include "store_batch.h"
#include "store_database.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <utility>
#include <vector>

namespace quellin::syslogstore {

class StoreFile {
public:
    static Result<StoreFile> Open(const std::filesystem::path& path, int lockWaitMs = 200);

    struct Written {
        std::size_t stored = 0;
        std::size_t skipped = 0;  // more than 2^20 in one second: no id left
    };
    // Every message of the batches, in one transaction: all or nothing.
    Result<Written> Write(std::span<const StoreBatch> batches);

    // One step of expiry: at most `maxRows` of the oldest messages that
    // were received before `keepFrom` (UTC seconds; 0: no limit by age)
    // or, while the pages in use take more than `maxBytes` (0: no limit),
    // the oldest ones.  Returns how many it removed; 0 when nothing is due.
    Result<std::size_t> ExpireStep(std::int64_t keepFrom, std::uint64_t maxBytes,
                                   std::size_t maxRows);

    // Bytes of the pages holding data (the file less its free pages).
    Result<std::uint64_t> UsedBytes();

    struct MinuteCount {
        std::int64_t minute = 0;  // UTC seconds / 60
        int level = 0;
        std::int64_t n = 0;
    };

private:
    explicit StoreFile(detail::Database db) : db_(std::move(db)) {}
    Result<void> Prepare();
    // The id of the next message received in `second`; -1 when that second
    // has no id left.
    Result<std::int64_t> NextId(std::int64_t second);
    Result<void> AddCounts(const std::vector<MinuteCount>& counts, std::int64_t sign);
    Result<void> AddSourceMinutes(const std::vector<std::pair<std::uint32_t, std::int64_t>>& spoke);
    Result<void> Insert(const StoreBatch& batch, const StoreBatch::Entry& entry, std::int64_t id);

    detail::Database db_;
    detail::Statement insert_;
    detail::Statement lastInSecond_;
    detail::Statement addCount_;
    detail::Statement sourceMinute_;
    // Ids given so far: the second of the last message, the next arrival
    // number in it, and the latest second ever stored.
    std::int64_t second_ = -1;
    std::int64_t nextInSecond_ = 0;
    std::int64_t latestSecond_ = -1;
};

// Renames a damaged store aside, "<name>.damaged-YYYYMMDDhhmmss" (local
// time of `now`, "-2", "-3", ... when taken), with its WAL; its shared-
// memory index is removed, as it belongs to the old file.  The new name.
Result<std::filesystem::path> MoveAside(const std::filesystem::path& path, std::int64_t now);

}  // namespace quellin::syslogstore
