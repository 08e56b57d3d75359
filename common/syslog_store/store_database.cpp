#include "store_database.h"

#include "codec.h"
#include "store_reader.h"

#include <fcntl.h>
#include <regex.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace quellin::syslogstore::detail {
namespace {

// "QSLG": tells the store from any other SQLite file at the path.
constexpr std::int64_t kApplicationId = 0x51534C47;
// Layout 1 indexed every message by its source; layout 2 keeps the
// minutes each source spoke in instead (see store_database.h).
constexpr std::int64_t kFirstLayout = 1;

constexpr const char* kCreateLayout =
    "BEGIN IMMEDIATE;"
    "CREATE TABLE message(id INTEGER PRIMARY KEY, source INTEGER NOT NULL,"
    " facility INTEGER NOT NULL, level INTEGER NOT NULL, text TEXT NOT NULL,"
    " head BLOB NOT NULL, body BLOB);"
    "CREATE TABLE source_minute(source INTEGER NOT NULL, minute INTEGER NOT NULL,"
    " PRIMARY KEY(source, minute)) WITHOUT ROWID;"
    "CREATE TABLE minute_count(minute INTEGER NOT NULL, level INTEGER NOT NULL,"
    " n INTEGER NOT NULL, PRIMARY KEY(minute, level)) WITHOUT ROWID;"
    // For administrators with the sqlite3 shell.
    "CREATE VIEW messages AS SELECT id, id >> 20 AS received_at,"
    " (source >> 24) || '.' || ((source >> 16) & 255) || '.' || ((source >> 8) & 255) || '.'"
    " || (source & 255) AS source, facility, level, text FROM message;"
    "PRAGMA application_id = 1364413511;"
    "PRAGMA user_version = 2;"
    "COMMIT;";

// Layout 1 to 2 in one transaction: the minutes of each source from the
// index, which then goes.  Once, when the writer first opens an older store.
constexpr const char* kFromLayout1 =
    "BEGIN IMMEDIATE;"
    "CREATE TABLE source_minute(source INTEGER NOT NULL, minute INTEGER NOT NULL,"
    " PRIMARY KEY(source, minute)) WITHOUT ROWID;"
    "INSERT OR IGNORE INTO source_minute SELECT source, (id >> 20) / 60 FROM message"
    " ORDER BY source, id;"
    "DROP INDEX message_source;"
    "PRAGMA user_version = 2;"
    "COMMIT;";

constexpr const char* kWriterSettings =
    "PRAGMA synchronous = NORMAL;"
    "PRAGMA journal_size_limit = 67108864;"
    "PRAGMA cache_size = -65536;"
    "PRAGMA wal_autocheckpoint = 4096;";

Error FileError(ErrorCode code, const std::filesystem::path& path, int error) {
    return {code, cp932::FromPath(path) + ": " + std::strerror(error)};
}

// The file with its final permissions before SQLite writes its first byte:
// the owner writes, the installation's group reads.
Result<void> CreateFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0640);
    if (fd < 0) {
        if (errno == EEXIST)
            return {};
        return FileError(errno == ENOSPC ? ErrorCode::kDiskFull : ErrorCode::kIo, path, errno);
    }
    const int rc = ::fchmod(fd, 0640);
    const int error = errno;
    ::close(fd);
    if (rc != 0)
        return FileError(ErrorCode::kIo, path, error);
    return {};
}

Result<Database> OpenConnection(const std::filesystem::path& path, int flags) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
    Database db(raw);
    if (rc != SQLITE_OK)
        return ErrorOf(db.get(), rc, "open " + cp932::FromPath(path));
    sqlite3_extended_result_codes(db.get(), 1);
    return db;
}

// kFormat unless the file holds a layout known here; `empty` tells a new
// file, `layout` its layout.
Result<void> CheckLayout(sqlite3* db, bool* empty, int* layout) {
    auto application = QueryNumber(db, "PRAGMA application_id");
    if (!application)
        return application.error();
    auto version = QueryNumber(db, "PRAGMA user_version");
    if (!version)
        return version.error();
    auto objects = QueryNumber(db, "SELECT count(*) FROM sqlite_schema");
    if (!objects)
        return objects.error();
    if (empty != nullptr)
        *empty = application.value() == 0 && objects.value() == 0;
    if (empty != nullptr && *empty)
        return {};
    if (application.value() != kApplicationId)
        return Error{ErrorCode::kFormat, "another program's database"};
    if (version.value() < kFirstLayout || version.value() > kLayout)
        return Error{ErrorCode::kFormat,
                     "layout " + std::to_string(version.value()) + " is not known here"};
    *layout = static_cast<int>(version.value());
    return {};
}

struct CompiledPattern {
    regex_t regex{};
    bool ready = false;

    int Compile(const char* pattern, bool ignoreCase) {
        const int rc =
            regcomp(&regex, pattern, REG_EXTENDED | REG_NOSUB | (ignoreCase ? REG_ICASE : 0));
        ready = rc == 0;
        return rc;
    }
    ~CompiledPattern() {
        if (ready)
            regfree(&regex);
    }
};

void DeletePattern(void* pattern) {
    delete static_cast<CompiledPattern*>(pattern);
}

// quellin_regexp(pattern, ignoreCase, text): 1 when the text matches.  The
// pattern is compiled once per statement.
void RegexpFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    auto* compiled = static_cast<CompiledPattern*>(sqlite3_get_auxdata(context, 0));
    std::unique_ptr<CompiledPattern> fresh;
    if (compiled == nullptr) {
        const auto* pattern = reinterpret_cast<const char*>(sqlite3_value_text(arguments[0]));
        fresh = std::make_unique<CompiledPattern>();
        if (pattern == nullptr ||
            fresh->Compile(pattern, sqlite3_value_int(arguments[1]) != 0) != 0) {
            sqlite3_result_error(context, "bad pattern", -1);
            return;
        }
        compiled = fresh.get();
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(arguments[2]));
    sqlite3_result_int(context,
                       text != nullptr && regexec(&compiled->regex, text, 0, nullptr, 0) == 0);
    if (fresh)
        sqlite3_set_auxdata(context, 0, fresh.release(), DeletePattern);
}

// What the pattern costs to compile, roughly in copies of its parts: the
// regex compiler copies a part for "+" and for every repetition of an
// interval, so nested repetitions multiply ("(a+)+", "(a{99}){99}");
// repetitions stacked on one part ("a*+", "a??") are refused outright.
// kBackReference for a back-reference, which can take exponential time to
// match.
constexpr std::size_t kMaxPatternWeight = 1000;
constexpr std::size_t kBackReference = static_cast<std::size_t>(-1);

std::size_t PatternWeight(std::string_view pattern) {
    const auto capped = [](std::size_t n) {
        return std::min<std::size_t>(n, kMaxPatternWeight + 1);
    };
    std::vector<std::size_t> groups{0};  // weight of each open group so far
    std::size_t last = 0;                // weight of what a repetition applies to
    auto atom = [&](std::size_t weight) {
        groups.back() = capped(groups.back() + weight);
        last = weight;
    };
    bool repeated = false;  // the last part was a repetition
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        std::size_t times = 0;
        if (c == '\\') {
            if (i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9')
                return kBackReference;
            ++i;
            atom(1);
        } else if (c == '[') {
            // "[]...]" and "[^]...]" hold a "]"; "[:alpha:]" and the like end in ":]".
            i += i + 1 < pattern.size() && pattern[i + 1] == '^' ? 2 : 1;
            for (i += i < pattern.size() && pattern[i] == ']' ? 1 : 0;
                 i < pattern.size() && pattern[i] != ']'; ++i) {
                if (pattern[i] == '[' && i + 1 < pattern.size() &&
                    (pattern[i + 1] == ':' || pattern[i + 1] == '.' || pattern[i + 1] == '=')) {
                    const std::size_t end = pattern.find(std::string{pattern[i + 1], ']'}, i + 2);
                    i = end == std::string_view::npos ? pattern.size() : end + 1;
                }
            }
            atom(1);
        } else if (c == '(') {
            groups.push_back(0);
            last = 0;
        } else if (c == ')' && groups.size() > 1) {
            const std::size_t weight = std::max<std::size_t>(groups.back(), 1);
            groups.pop_back();
            atom(weight);
        } else if (c == '|') {
            last = 0;
        } else if (c == '+' || c == '*' || c == '?') {
            times = 2;
        } else if (c == '{') {
            // {m}, {m,}, {m,n}: up to the larger bound of copies.
            std::size_t bound = 0;
            std::size_t number = 0;
            for (++i; i < pattern.size() && pattern[i] != '}'; ++i) {
                const bool digit = pattern[i] >= '0' && pattern[i] <= '9';
                number =
                    digit ? capped(number * 10 + static_cast<std::size_t>(pattern[i] - '0')) : 0;
                bound = std::max(bound, number);
            }
            times = std::max<std::size_t>(bound, 1);
        } else {
            atom(1);
        }
        if (times > 0 && repeated)
            return kMaxPatternWeight + 1;
        repeated = times > 0;
        if (times > 1) {
            groups.back() = capped(groups.back() + last * (times - 1));
            last = capped(last * times);
        }
    }
    std::size_t total = 0;
    for (std::size_t weight : groups)
        total = capped(total + weight);
    return total;
}

}  // namespace

Error ErrorOf(sqlite3* db, int rc, std::string_view what) {
    // Everything else, a path that cannot be opened or written included, is kIo.
    ErrorCode code = ErrorCode::kIo;
    switch (rc & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            code = ErrorCode::kBusy;
            break;
        case SQLITE_FULL:
            code = ErrorCode::kDiskFull;
            break;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            code = ErrorCode::kDamaged;
            break;
        case SQLITE_INTERRUPT:
            code = ErrorCode::kCancelled;
            break;
        case SQLITE_IOERR:
            if (db != nullptr && sqlite3_system_errno(db) == ENOSPC)
                code = ErrorCode::kDiskFull;
            break;
        default:
            break;
    }
    std::string detail(what);
    detail += ": ";
    detail += db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    return {code, std::move(detail)};
}

Result<Statement> Prepare(sqlite3* db, std::string_view sql) {
    sqlite3_stmt* raw = nullptr;
    const int rc =
        sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), 0, &raw, nullptr);
    Statement statement(raw);
    if (rc != SQLITE_OK)
        return ErrorOf(db, rc, "prepare");
    return statement;
}

Result<void> Execute(sqlite3* db, const char* sql) {
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return ErrorOf(db, rc, "execute");
    return {};
}

Result<std::int64_t> QueryNumber(sqlite3* db, const char* sql) {
    auto statement = Prepare(db, sql);
    if (!statement)
        return statement.error();
    const int rc = sqlite3_step(statement->get());
    if (rc == SQLITE_ROW)
        return static_cast<std::int64_t>(sqlite3_column_int64(statement->get(), 0));
    if (rc == SQLITE_DONE)
        return std::int64_t{0};
    return ErrorOf(db, rc, "read");
}

Result<Database> OpenForWriting(const std::filesystem::path& path, int lockWaitMs) {
    if (auto created = CreateFile(path); !created)
        return created.error();
    auto db = OpenConnection(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    if (!db)
        return db;
    sqlite3* handle = db->get();
    int persist = 1;
    sqlite3_file_control(handle, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);
    sqlite3_busy_timeout(handle, lockWaitMs);
    bool empty = false;
    int layout = kLayout;
    if (auto checked = CheckLayout(handle, &empty, &layout); !checked)
        return checked.error();
    // Larger pages than SQLite's 4 KiB cost the writer less per message;
    // the size is fixed once the file has WAL mode.
    if (empty) {
        if (auto pages = Execute(handle, "PRAGMA page_size = 16384"); !pages)
            return pages.error();
    }
    // WAL before the first table, and every time: the mode is the file's.
    if (auto wal = Execute(handle, "PRAGMA journal_mode = WAL"); !wal)
        return wal.error();
    if (empty) {
        if (auto created = Execute(handle, kCreateLayout); !created) {
            sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
            return created.error();
        }
    } else if (layout == 1) {
        if (auto migrated = Execute(handle, kFromLayout1); !migrated) {
            sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
            return migrated.error();
        }
    }
    if (auto settings = Execute(handle, kWriterSettings); !settings)
        return settings.error();
    return db;
}

Result<Database> OpenForReading(const std::filesystem::path& path, int* layout) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return Error{ErrorCode::kNotFound, cp932::FromPath(path)};
    auto db = OpenConnection(path, SQLITE_OPEN_READONLY);
    if (!db)
        return db;
    sqlite3* handle = db->get();
    // A damaged file is outside input: SQLite checks every cell it reads.
    sqlite3_db_config(handle, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    if (auto check = Execute(handle, "PRAGMA cell_size_check = ON"); !check)
        return check.error();
    if (auto checked = CheckLayout(handle, nullptr, layout); !checked)
        return checked.error();
    const int rc =
        sqlite3_create_function_v2(handle, "quellin_regexp", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                   nullptr, RegexpFunction, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return ErrorOf(handle, rc, "register quellin_regexp");
    return db;
}

Result<void> CheckPattern(const std::string& pattern, bool ignoreCase) {
    if (pattern.size() > kMaxPatternBytes)
        return Error{ErrorCode::kBadArgument, "the pattern is too long"};
    const std::size_t weight = PatternWeight(pattern);
    if (weight == kBackReference)
        return Error{ErrorCode::kBadArgument, "back-references are not supported"};
    if (weight > kMaxPatternWeight)
        return Error{ErrorCode::kBadArgument, "the pattern repeats too much"};
    CompiledPattern compiled;
    const int rc = compiled.Compile(pattern.c_str(), ignoreCase);
    if (rc != 0) {
        char message[256];
        regerror(rc, &compiled.regex, message, sizeof message);
        return Error{ErrorCode::kBadArgument, message};
    }
    return {};
}

}  // namespace quellin::syslogstore::detail
