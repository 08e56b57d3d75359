#include "store_file.h"

#include "clock.h"
#include "codec.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>

namespace quellin::syslogstore {
namespace {

using detail::ErrorOf;
using detail::Execute;
using detail::FirstIdOf;
using detail::SecondOf;

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The body as the list shows it, in UTF-8 for SQLite to search, and
// whether its bytes must be kept as well because the text does not convert
// back to them (bytes that are not CP932, or one of CP932's characters
// with two codes).
struct BodyText {
    std::string converted;
    std::string_view text;
    bool keepBytes = false;

    explicit BodyText(std::string_view body) {
        if (IsAscii(body)) {
            text = body;
            return;
        }
        if (auto utf8 = cp932::ToUtf8(body)) {
            auto back = cp932::FromUtf8(*utf8);
            keepBytes = !back || *back != body;
            converted = std::move(*utf8);
        } else {
            converted = cp932::ToUtf8Lossy(body);
            keepBytes = true;
        }
        text = converted;
    }
};

// Messages per minute and level of one transaction.  Messages come in time
// order, so one minute at a time is enough; a minute seen twice adds twice.
class MinuteCounter {
public:
    void Add(std::int64_t second, int level) {
        const std::int64_t minute = second / 60;
        if (minute != minute_)
            Close();
        minute_ = minute;
        ++levels_[static_cast<std::size_t>(level) & 7];
    }
    std::vector<StoreFile::MinuteCount> Take() {
        Close();
        return std::move(counts_);
    }

private:
    void Close() {
        for (int level = 0; level < 8; ++level) {
            if (levels_[level] > 0)
                counts_.push_back({minute_, level, levels_[level]});
        }
        levels_.fill(0);
    }

    std::int64_t minute_ = -1;
    std::array<std::int64_t, 8> levels_{};
    std::vector<StoreFile::MinuteCount> counts_;
};

Result<std::int64_t> Step(sqlite3* db, sqlite3_stmt* statement, const char* what) {
    const int rc = sqlite3_step(statement);
    std::int64_t value = -1;
    if (rc == SQLITE_ROW && sqlite3_column_type(statement, 0) != SQLITE_NULL)
        value = sqlite3_column_int64(statement, 0);
    sqlite3_reset(statement);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return ErrorOf(db, rc, what);
    return value;
}

// Runs `work` in one immediate transaction: committed when it succeeds,
// rolled back when it or the commit fails.
template <class Work>
auto InTransaction(sqlite3* db, Work work) -> decltype(work()) {
    if (auto begin = Execute(db, "BEGIN IMMEDIATE"); !begin)
        return begin.error();
    auto result = work();
    if (result) {
        if (auto commit = Execute(db, "COMMIT"); !commit)
            result = commit.error();
    }
    if (!result)
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return result;
}

}  // namespace

Result<StoreFile> StoreFile::Open(const std::filesystem::path& path, int lockWaitMs) {
    auto db = detail::OpenForWriting(path, lockWaitMs);
    if (!db)
        return db.error();
    StoreFile file(std::move(db.value()));
    if (auto prepared = file.Prepare(); !prepared)
        return prepared.error();
    auto latest = detail::QueryNumber(file.db_.get(), "SELECT max(id) FROM message");
    if (!latest)
        return latest.error();
    file.latestSecond_ = latest.value() > 0 ? SecondOf(latest.value()) : -1;
    return file;
}

Result<void> StoreFile::Prepare() {
    sqlite3* db = db_.get();
    auto insert =
        detail::Prepare(db,
                        "INSERT INTO message(id, source, facility, level, text, head, body)"
                        " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    if (!insert)
        return insert.error();
    auto last = detail::Prepare(db, "SELECT max(id) FROM message WHERE id >= ?1 AND id < ?2");
    if (!last)
        return last.error();
    auto spoke =
        detail::Prepare(db, "INSERT OR IGNORE INTO source_minute(source, minute) VALUES(?1, ?2)");
    if (!spoke)
        return spoke.error();
    auto count = detail::Prepare(db,
                                 "INSERT INTO minute_count(minute, level, n) VALUES(?1, ?2, ?3)"
                                 " ON CONFLICT(minute, level) DO UPDATE SET n = n + excluded.n");
    if (!count)
        return count.error();
    insert_ = std::move(insert.value());
    lastInSecond_ = std::move(last.value());
    addCount_ = std::move(count.value());
    sourceMinute_ = std::move(spoke.value());
    return {};
}

Result<std::int64_t> StoreFile::NextId(std::int64_t second) {
    if (second != second_) {
        if (second > latestSecond_) {
            nextInSecond_ = 0;
            latestSecond_ = second;
        } else {
            // The clock went back, or this second was stored before a
            // restart: after what the second already holds.
            sqlite3_bind_int64(lastInSecond_.get(), 1, FirstIdOf(second));
            sqlite3_bind_int64(lastInSecond_.get(), 2, FirstIdOf(second + 1));
            auto last = Step(db_.get(), lastInSecond_.get(), "find the last id");
            if (!last)
                return last.error();
            nextInSecond_ = last.value() < 0 ? 0 : last.value() - FirstIdOf(second) + 1;
        }
        second_ = second;
    }
    if (nextInSecond_ >= detail::kPerSecond)
        return std::int64_t{-1};
    return FirstIdOf(second) + nextInSecond_++;
}

Result<void> StoreFile::Insert(const StoreBatch& batch, const StoreBatch::Entry& entry,
                               std::int64_t id) {
    const std::string_view datagram = batch.Datagram(entry);
    const std::string_view head = datagram.substr(0, entry.bodyOffset);
    const std::string_view body = datagram.substr(entry.bodyOffset);
    const BodyText text(body);
    sqlite3_stmt* insert = insert_.get();
    sqlite3_bind_int64(insert, 1, id);
    sqlite3_bind_int64(insert, 2, entry.source);
    sqlite3_bind_int(insert, 3, entry.facility);
    sqlite3_bind_int(insert, 4, entry.level);
    sqlite3_bind_text(insert, 5, text.text.data(), static_cast<int>(text.text.size()),
                      SQLITE_STATIC);
    sqlite3_bind_blob(insert, 6, head.data(), static_cast<int>(head.size()), SQLITE_STATIC);
    if (text.keepBytes)
        sqlite3_bind_blob(insert, 7, body.data(), static_cast<int>(body.size()), SQLITE_STATIC);
    else
        sqlite3_bind_null(insert, 7);
    auto done = Step(db_.get(), insert, "store a message");
    sqlite3_clear_bindings(insert);
    if (!done)
        return done.error();
    return {};
}

Result<StoreFile::Written> StoreFile::Write(std::span<const StoreBatch> batches) {
    const auto ids = std::tuple(second_, nextInSecond_, latestSecond_);
    auto written = InTransaction(db_.get(), [&]() -> Result<Written> {
        Written counts;
        MinuteCounter minutes;
        // (source, minute), each once, in the table's order.
        std::vector<std::pair<std::uint32_t, std::int64_t>> spoke;
        for (const StoreBatch& batch : batches) {
            for (const StoreBatch::Entry& entry : batch.entries()) {
                const std::int64_t second =
                    std::clamp<std::int64_t>(entry.receivedAt, 0, detail::kMaxSecond);
                auto id = NextId(second);
                if (!id)
                    return id.error();
                if (id.value() < 0) {
                    ++counts.skipped;
                    continue;
                }
                if (auto inserted = Insert(batch, entry, id.value()); !inserted)
                    return inserted.error();
                minutes.Add(second, entry.level);
                if (spoke.empty() || spoke.back() != std::pair(entry.source, second / 60))
                    spoke.emplace_back(entry.source, second / 60);
                ++counts.stored;
            }
        }
        std::sort(spoke.begin(), spoke.end());
        spoke.erase(std::unique(spoke.begin(), spoke.end()), spoke.end());
        if (auto added = AddSourceMinutes(spoke); !added)
            return added.error();
        if (auto added = AddCounts(minutes.Take(), 1); !added)
            return added.error();
        return counts;
    });
    if (!written)
        std::tie(second_, nextInSecond_, latestSecond_) = ids;
    return written;
}

Result<void> StoreFile::AddCounts(const std::vector<MinuteCount>& counts, std::int64_t sign) {
    sqlite3_stmt* add = addCount_.get();
    for (const MinuteCount& count : counts) {
        sqlite3_bind_int64(add, 1, count.minute);
        sqlite3_bind_int(add, 2, count.level);
        sqlite3_bind_int64(add, 3, sign * count.n);
        if (auto done = Step(db_.get(), add, "count messages"); !done)
            return done.error();
    }
    return {};
}

Result<void> StoreFile::AddSourceMinutes(
    const std::vector<std::pair<std::uint32_t, std::int64_t>>& spoke) {
    sqlite3_stmt* add = sourceMinute_.get();
    for (const auto& [source, minute] : spoke) {
        sqlite3_bind_int64(add, 1, source);
        sqlite3_bind_int64(add, 2, minute);
        if (auto done = Step(db_.get(), add, "note the source's minute"); !done)
            return done.error();
    }
    return {};
}

Result<std::uint64_t> StoreFile::UsedBytes() {
    sqlite3* db = db_.get();
    auto pages = detail::QueryNumber(db, "PRAGMA page_count");
    auto free = detail::QueryNumber(db, "PRAGMA freelist_count");
    auto size = detail::QueryNumber(db, "PRAGMA page_size");
    for (const auto* number : {&pages, &free, &size}) {
        if (!*number)
            return number->error();
    }
    return static_cast<std::uint64_t>(std::max<std::int64_t>(pages.value() - free.value(), 0)) *
           static_cast<std::uint64_t>(size.value());
}

Result<std::size_t> StoreFile::ExpireStep(std::int64_t keepFrom, std::uint64_t maxBytes,
                                          std::size_t maxRows) {
    std::int64_t below = keepFrom > 0 ? FirstIdOf(std::min(keepFrom, detail::kMaxSecond)) : 0;
    if (maxBytes > 0) {
        auto used = UsedBytes();
        if (!used)
            return used.error();
        if (used.value() > maxBytes)
            below = std::numeric_limits<std::int64_t>::max();
    }
    if (below == 0)
        return std::size_t{0};
    sqlite3* db = db_.get();
    return InTransaction(db, [&]() -> Result<std::size_t> {
        auto oldest = detail::Prepare(db,
                                      "SELECT id, level, source FROM message WHERE id < ?1"
                                      " ORDER BY id LIMIT ?2");
        if (!oldest)
            return oldest.error();
        sqlite3_stmt* select = oldest->get();
        sqlite3_bind_int64(select, 1, below);
        sqlite3_bind_int64(select, 2, static_cast<std::int64_t>(maxRows));
        MinuteCounter minutes;
        std::vector<std::int64_t> sources;
        std::size_t rows = 0;
        std::int64_t last = 0;
        int rc;
        while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
            last = sqlite3_column_int64(select, 0);
            minutes.Add(SecondOf(last), sqlite3_column_int(select, 1));
            sources.push_back(sqlite3_column_int64(select, 2));
            ++rows;
        }
        if (rc != SQLITE_DONE)
            return ErrorOf(db, rc, "find expired messages");
        if (rows == 0)
            return rows;
        auto remove = detail::Prepare(db, "DELETE FROM message WHERE id <= ?1");
        if (!remove)
            return remove.error();
        sqlite3_bind_int64(remove->get(), 1, last);
        if (auto removed = Step(db, remove->get(), "remove expired messages"); !removed)
            return removed.error();
        if (auto counted = AddCounts(minutes.Take(), -1); !counted)
            return counted.error();
        auto empty = detail::Prepare(db, "DELETE FROM minute_count WHERE minute <= ?1 AND n <= 0");
        if (!empty)
            return empty.error();
        sqlite3_bind_int64(empty->get(), 1, SecondOf(last) / 60);
        if (auto emptied = Step(db, empty->get(), "remove empty counts"); !emptied)
            return emptied.error();
        // The minutes before the last one removed hold nothing any more; the
        // last one may, and goes with the next step.
        auto gone =
            detail::Prepare(db, "DELETE FROM source_minute WHERE source = ?1 AND minute < ?2");
        if (!gone)
            return gone.error();
        std::sort(sources.begin(), sources.end());
        sources.erase(std::unique(sources.begin(), sources.end()), sources.end());
        for (std::int64_t source : sources) {
            sqlite3_bind_int64(gone->get(), 1, source);
            sqlite3_bind_int64(gone->get(), 2, SecondOf(last) / 60);
            if (auto removed = Step(db, gone->get(), "remove the source's minutes"); !removed)
                return removed.error();
        }
        return rows;
    });
}

Result<std::filesystem::path> MoveAside(const std::filesystem::path& path, std::int64_t now) {
    const std::string stamp = ".damaged-" + FormatLocalTime(now, "%Y%m%d%H%M%S");
    std::filesystem::path target;
    for (int n = 1;; ++n) {
        if (n > 100)
            return Error{ErrorCode::kIo, "no free name beside " + cp932::FromPath(path)};
        target = path;
        target += stamp + (n > 1 ? "-" + std::to_string(n) : std::string());
        struct stat status;
        if (::lstat(target.c_str(), &status) != 0 && errno == ENOENT)
            break;
    }
    if (::rename(path.c_str(), target.c_str()) != 0)
        return Error{ErrorCode::kIo, cp932::FromPath(path) + ": " + std::strerror(errno)};
    auto beside = [](const std::filesystem::path& file, const char* suffix) {
        std::filesystem::path name = file;
        name += suffix;
        return name;
    };
    ::rename(beside(path, "-wal").c_str(), beside(target, "-wal").c_str());
    ::unlink(beside(path, "-shm").c_str());
    return target;
}

}  // namespace quellin::syslogstore
