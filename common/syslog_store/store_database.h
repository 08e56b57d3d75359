// The store's SQLite file: its layout, opening it for the writer and for
// readers, and SQLite's failures as the shared Error.  Inside the library.
//
// Layout (user_version 2):
//   message(id INTEGER PRIMARY KEY, source, facility, level, text, head, body)
//     id      the receive second << 20 | the arrival within that second, so
//             the table is in time order and a time range is an id range:
//             no separate time column or index
//     source  IPv4 address in host order
//     text    the body as the list shows it, UTF-8 for SQLite to search
//     head    the bytes received before the body
//     body    the body's bytes as received, only when the text does not
//             convert back to them (otherwise the raw datagram is head plus
//             the text in CP932, which saves storing the message twice)
//   source_minute(source, minute): the UTC minutes in which each source
//     sent messages, so one router's messages are read from its minutes
//     alone.  Unlike an index of every message (layout 1, migrated when the
//     writer opens it), it costs a row per router and minute, not per
//     message: a burst costs the writer no more than a quiet minute.
//   minute_count(minute, level, n): messages per UTC minute and level, kept
//     with every insert and removal, so counts over long ranges need not
//     read the messages
#pragma once

#include "result.h"

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace quellin::syslogstore::detail {

inline constexpr int kSecondShift = 20;
inline constexpr std::int64_t kPerSecond = std::int64_t{1} << kSecondShift;
inline constexpr int kLayout = 2;
inline constexpr std::int64_t kMaxSecond = (std::int64_t{1} << (62 - kSecondShift)) - 1;

inline std::int64_t FirstIdOf(std::int64_t second) {
    return second << kSecondShift;
}
inline std::int64_t SecondOf(std::int64_t id) {
    return id >> kSecondShift;
}

struct DatabaseCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;

struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// SQLite's result code as a store error; `what` says what was being done.
Error ErrorOf(sqlite3* db, int rc, std::string_view what);

Result<Statement> Prepare(sqlite3* db, std::string_view sql);
Result<void> Execute(sqlite3* db, const char* sql);
// The first column of the first row of a query, as an integer.
Result<std::int64_t> QueryNumber(sqlite3* db, const char* sql);

// The writer's connection: creates the file (owner read-write, group read)
// and the layout when the file is new or empty, WAL mode, and the WAL and
// shared-memory files kept after the last connection closes so readers
// without write access to the folder can always open it.
Result<Database> OpenForWriting(const std::filesystem::path& path, int lockWaitMs);

// A reader's connection: read-only, checked to be a store of a layout
// known here (`layout` tells which: 1 until its writer has migrated it);
// its searches may use quellin_regexp(pattern, ignoreCase, text).
Result<Database> OpenForReading(const std::filesystem::path& path, int* layout);

// kBadArgument unless the pattern is a POSIX extended expression of at most
// kMaxPatternBytes without back-references (which can take exponential time).
Result<void> CheckPattern(const std::string& pattern, bool ignoreCase);

}  // namespace quellin::syslogstore::detail
