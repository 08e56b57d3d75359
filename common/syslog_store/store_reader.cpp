#include "store_reader.h"

#include "clock.h"
#include "codec.h"
#include "store_database.h"
#include "store_text.h"

#include <algorithm>
#include <ctime>
#include <limits>
#include <variant>

namespace quellin::syslogstore {

using detail::FirstIdOf;
using detail::SecondOf;

struct SyslogStoreReader::State {
    detail::Database db;
    int layout = detail::kLayout;
    std::atomic<bool> cancelled{false};
    std::chrono::steady_clock::time_point deadline;
    bool timedOut = false;
};

namespace {

using Value = std::variant<std::int64_t, std::string>;

struct Filter {
    std::string from = "message";  // the table, or one router's minutes joined to it
    std::string sql;
    std::vector<Value> values;

    void Add(std::string_view condition) {
        sql += " AND ";
        sql += condition;
    }
};

struct MinuteCount {
    std::int64_t minute = 0;
    int level = 0;
    std::int64_t n = 0;
};

std::int64_t ClampSecond(std::int64_t second) {
    return std::clamp<std::int64_t>(second, 0, detail::kMaxSecond + 1);
}

// Seconds [from, to) the query covers.
std::pair<std::int64_t, std::int64_t> RangeOf(const Query& query) {
    return {ClampSecond(query.since.value_or(0)),
            ClampSecond(query.until.value_or(detail::kMaxSecond + 1))};
}

// What the store holds for a text typed by a user: the texts went through
// CP932, so the search does too ("〜" and "～" are one CP932 character).
std::string StoredForm(const std::string& text) {
    if (auto cp932 = cp932::FromUtf8(text)) {
        if (auto back = cp932::ToUtf8(*cp932))
            return *back;
    }
    return text;
}

std::string LikePattern(const std::string& text) {
    std::string pattern = "%";
    for (char c : text) {
        if (c == '%' || c == '_' || c == '\\')
            pattern += '\\';
        pattern += c;
    }
    return pattern + "%";
}

// "column IN (a, b, ...)" for the numbers 0..count-1 whose bit is set, or
// nothing when every valid one is.
std::string InList(const char* column, std::uint32_t mask, std::uint32_t valid, int count) {
    if ((mask & valid) == valid)
        return {};
    std::string sql = std::string(column) + " IN (";
    const char* separator = "";
    for (int n = 0; n < count; ++n) {
        if ((mask >> n) & 1u) {
            sql += separator + std::to_string(n);
            separator = ", ";
        }
    }
    return sql + ")";
}

std::string LevelCondition(const Query& query) {
    return InList("level", query.levels, kAllLevels, 8);
}

// Facility 15 does not exist: a mask without it still means every facility.
constexpr std::uint32_t kValidFacilities = kAllFacilities & ~(1u << 15);

// Whether the per-minute counts answer the query: no condition on
// anything but time and level.
bool CountedByMinute(const Query& query) {
    return query.sources.empty() && query.text.empty() &&
           (query.facilities & kValidFacilities) == kValidFacilities;
}

Result<Filter> FilterOf(const Query& query, std::int64_t from, std::int64_t to, int layout) {
    Filter filter;
    if (query.sources.size() > kMaxQuerySources)
        return Error{ErrorCode::kBadArgument, "too many routers"};
    std::string in;
    if (!query.sources.empty()) {
        in = "source IN (?";
        for (std::size_t i = 1; i < query.sources.size(); ++i)
            in += ", ?";
        in += ")";
    }
    // Routers' messages are read from the minutes they spoke in, each
    // minute once however many of the routers spoke in it.
    if (!in.empty() && layout >= 2) {
        filter.from = "(SELECT DISTINCT minute AS spoke FROM source_minute WHERE " + in +
                      " AND minute >= ? AND minute < ?) CROSS JOIN message"
                      " ON id >= (spoke * 60) << 20 AND id < ((spoke + 1) * 60) << 20";
        for (std::uint32_t source : query.sources)
            filter.values.emplace_back(std::int64_t{source});
        filter.values.emplace_back(from / 60);
        filter.values.emplace_back((to + 59) / 60);
    }
    // Joined, the bounds only trim the first and last minute: "+" keeps
    // SQLite from taking them for the range to read in every minute.
    filter.sql = filter.from == "message" ? "id >= ? AND id < ?" : "+id >= ? AND +id < ?";
    filter.values.emplace_back(FirstIdOf(from));
    filter.values.emplace_back(FirstIdOf(to));
    if (!in.empty()) {
        filter.Add(in);
        for (std::uint32_t source : query.sources)
            filter.values.emplace_back(std::int64_t{source});
    }
    if (auto levels = LevelCondition(query); !levels.empty())
        filter.Add(levels);
    if (auto facilities = InList("facility", query.facilities, kValidFacilities, 24);
        !facilities.empty())
        filter.Add(facilities);
    if (query.text.size() > kMaxQueryTextBytes)
        return Error{ErrorCode::kBadArgument, "the search text is too long"};
    if (query.text.empty())
        return filter;
    if (query.match == TextMatch::kRegex) {
        if (auto checked = detail::CheckPattern(query.text, query.ignoreCase); !checked)
            return checked.error();
        filter.Add("quellin_regexp(?, ?, text)");
        filter.values.emplace_back(query.text);
        filter.values.emplace_back(std::int64_t{query.ignoreCase ? 1 : 0});
    } else if (query.ignoreCase) {
        filter.Add("text LIKE ? ESCAPE '\\'");
        filter.values.emplace_back(LikePattern(StoredForm(query.text)));
    } else {
        filter.Add("instr(text, ?) > 0");
        filter.values.emplace_back(StoredForm(query.text));
    }
    return filter;
}

const char* ColumnOf(SortColumn column) {
    switch (column) {
        case SortColumn::kSource:
            return "source";
        case SortColumn::kFacility:
            return "facility";
        case SortColumn::kLevel:
            return "level";
        case SortColumn::kText:
            return "text";
        case SortColumn::kTime:
            break;
    }
    return nullptr;
}

void Bind(sqlite3_stmt* statement, const std::vector<Value>& values) {
    int index = 1;
    for (const Value& value : values) {
        if (const auto* number = std::get_if<std::int64_t>(&value))
            sqlite3_bind_int64(statement, index++, *number);
        else {
            const auto& text = std::get<std::string>(value);
            sqlite3_bind_text(statement, index++, text.data(), static_cast<int>(text.size()),
                              SQLITE_TRANSIENT);
        }
    }
}

std::string ColumnText(sqlite3_stmt* statement, int column) {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
    const int size = sqlite3_column_bytes(statement, column);
    return bytes != nullptr ? std::string(bytes, static_cast<std::size_t>(size)) : std::string();
}

StoredMessage MessageOf(sqlite3_stmt* row) {
    StoredMessage message;
    message.id = sqlite3_column_int64(row, 0);
    message.receivedAt = SecondOf(message.id);
    message.source = FormatIPv4Address(static_cast<std::uint32_t>(sqlite3_column_int64(row, 1)));
    message.facility = sqlite3_column_int(row, 2);
    message.level = sqlite3_column_int(row, 3);
    message.text = ColumnText(row, 4);
    message.raw = ColumnText(row, 5);
    if (sqlite3_column_type(row, 6) == SQLITE_NULL)
        message.raw += cp932::FromUtf8Lossy(message.text);
    else
        message.raw += ColumnText(row, 6);
    return message;
}

// Local start and end of the bucket holding `time`.
std::pair<std::int64_t, std::int64_t> BucketOf(std::int64_t time, BucketUnit unit) {
    const std::time_t t = static_cast<std::time_t>(time);
    std::tm local{};
    localtime_r(&t, &local);
    switch (unit) {
        case BucketUnit::kMinute:
            return {time - local.tm_sec, time - local.tm_sec + 60};
        case BucketUnit::kHour: {
            const std::int64_t start = time - local.tm_min * 60 - local.tm_sec;
            return {start, start + 3600};
        }
        case BucketUnit::kDay:
            break;
    }
    const int year = local.tm_year + 1900;
    return {MakeLocalTime(year, local.tm_mon + 1, local.tm_mday, 0, 0, 0),
            MakeLocalTime(year, local.tm_mon + 1, local.tm_mday + 1, 0, 0, 0)};
}

std::vector<CountBucket> Bucketize(const std::vector<MinuteCount>& minutes, BucketUnit unit) {
    std::vector<CountBucket> buckets;
    std::int64_t end = std::numeric_limits<std::int64_t>::min();
    for (const MinuteCount& minute : minutes) {
        const std::int64_t time = minute.minute * 60;
        if (buckets.empty() || time < buckets.back().start || time >= end) {
            auto [start, next] = BucketOf(time, unit);
            if (buckets.empty() || buckets.back().start != start)
                buckets.push_back(CountBucket{start, {}});
            end = next;
        }
        buckets.back().levels[static_cast<std::size_t>(minute.level) & 7] +=
            static_cast<std::uint64_t>(minute.n);
    }
    return buckets;
}

}  // namespace

std::uint64_t CountBucket::Total() const {
    std::uint64_t total = 0;
    for (std::uint64_t n : levels)
        total += n;
    return total;
}

// One public call: its time limit, its cancellation, SQLite's interruption
// told apart.
class SyslogStoreReader::Call {
public:
    Call(State& state, const Query& query) : state_(state) {
        state_.cancelled.store(false);
        state_.timedOut = false;
        state_.deadline = std::chrono::steady_clock::now() + query.timeLimit;
    }

    Error Failure(int rc, std::string_view what) const {
        Error error = detail::ErrorOf(state_.db.get(), rc, what);
        if (error.code == ErrorCode::kCancelled && state_.timedOut)
            error.code = ErrorCode::kTimeout;
        return error;
    }

    // Runs the query, handing each row to `row`.
    template <class Row>
    Result<void> Run(const std::string& sql, const std::vector<Value>& values, Row row) {
        auto statement = detail::Prepare(state_.db.get(), sql);
        if (!statement)
            return statement.error();
        Bind(statement->get(), values);
        int rc;
        while ((rc = sqlite3_step(statement->get())) == SQLITE_ROW)
            row(statement->get());
        if (rc != SQLITE_DONE)
            return Failure(rc, "search");
        return {};
    }

    // Messages per minute and level in [from, to), from the messages.
    Result<void> CountMessages(const Query& query, std::int64_t from, std::int64_t to,
                               std::vector<MinuteCount>& out) {
        auto filter = FilterOf(query, from, to, state_.layout);
        if (!filter)
            return filter.error();
        return Run("SELECT (id >> 20) / 60 AS minute, level, count(*) FROM " + filter->from +
                       " WHERE " + filter->sql + " GROUP BY minute, level ORDER BY minute",
                   filter->values, [&](sqlite3_stmt* row) {
                       out.push_back({sqlite3_column_int64(row, 0), sqlite3_column_int(row, 1),
                                      sqlite3_column_int64(row, 2)});
                   });
    }

    // Messages per minute and level of the query, oldest first: whole
    // minutes from the kept counts when they answer the query, the rest
    // from the messages.
    Result<std::vector<MinuteCount>> Minutes(const Query& query) {
        std::vector<MinuteCount> minutes;
        auto [from, to] = RangeOf(query);
        const std::int64_t firstWhole = (from + 59) / 60;
        const std::int64_t endWhole = to / 60;
        if (!CountedByMinute(query) || firstWhole >= endWhole) {
            if (auto counted = CountMessages(query, from, to, minutes); !counted)
                return counted.error();
            return minutes;
        }
        if (auto head = CountMessages(query, from, firstWhole * 60, minutes); !head)
            return head.error();
        std::string sql =
            "SELECT minute, level, n FROM minute_count WHERE minute >= ? AND minute < ?";
        if (auto levels = LevelCondition(query); !levels.empty())
            sql += " AND " + levels;
        auto whole = Run(sql + " ORDER BY minute", {firstWhole, endWhole}, [&](sqlite3_stmt* row) {
            minutes.push_back({sqlite3_column_int64(row, 0), sqlite3_column_int(row, 1),
                               sqlite3_column_int64(row, 2)});
        });
        if (!whole)
            return whole.error();
        if (auto tail = CountMessages(query, endWhole * 60, to, minutes); !tail)
            return tail.error();
        return minutes;
    }

    // SQLite's progress handler: non-zero ends the running statement.
    static int Progress(void* state) {
        auto* s = static_cast<State*>(state);
        if (s->cancelled.load())
            return 1;
        if (std::chrono::steady_clock::now() > s->deadline) {
            s->timedOut = true;
            return 1;
        }
        return 0;
    }

private:
    State& state_;
};

Result<SyslogStoreReader> SyslogStoreReader::Open(const std::filesystem::path& path) {
    int layout = 0;
    auto db = detail::OpenForReading(path, &layout);
    if (!db)
        return db.error();
    auto state = std::make_unique<State>();
    state->layout = layout;
    state->db = std::move(db.value());
    state->deadline = std::chrono::steady_clock::time_point::max();
    sqlite3_progress_handler(state->db.get(), 10000, Call::Progress, state.get());
    return SyslogStoreReader(std::move(state));
}

SyslogStoreReader::SyslogStoreReader(std::unique_ptr<State> state) : state_(std::move(state)) {}
SyslogStoreReader::SyslogStoreReader(SyslogStoreReader&&) noexcept = default;
SyslogStoreReader& SyslogStoreReader::operator=(SyslogStoreReader&&) noexcept = default;
SyslogStoreReader::~SyslogStoreReader() = default;

void SyslogStoreReader::Cancel() {
    state_->cancelled.store(true);
}

Result<Page> SyslogStoreReader::Search(const Query& query, const std::optional<PageCursor>& after,
                                       std::size_t limit) {
    Call call(*state_, query);
    limit = std::min(limit, kMaxPageRows);
    auto [from, to] = RangeOf(query);
    auto filter = FilterOf(query, from, to, state_->layout);
    if (!filter)
        return filter.error();
    const char* column = ColumnOf(query.sort);
    const char* direction = query.descending ? " DESC" : " ASC";
    const char* beyond = query.descending ? " < " : " > ";
    if (after && column == nullptr) {
        filter->Add(std::string("id") + beyond + "?");
        filter->values.emplace_back(after->id);
    } else if (after) {
        filter->Add(std::string("(") + column + ", id)" + beyond + "(?, ?)");
        if (query.sort == SortColumn::kText)
            filter->values.emplace_back(after->text);
        else
            filter->values.emplace_back(after->number);
        filter->values.emplace_back(after->id);
    }
    std::string sql = "SELECT id, source, facility, level, text, head, body FROM " + filter->from +
                      " WHERE " + filter->sql + " ORDER BY ";
    if (column != nullptr)
        sql += std::string(column) + direction + ", ";
    sql += std::string("id") + direction + " LIMIT " + std::to_string(limit + 1);
    Page page;
    auto run = call.Run(sql, filter->values, [&](sqlite3_stmt* row) {
        if (page.rows.size() < limit)
            page.rows.push_back(MessageOf(row));
        else
            page.next.emplace();
    });
    if (!run)
        return run.error();
    if (page.next) {
        const StoredMessage& last = page.rows.back();
        page.next->id = last.id;
        if (query.sort == SortColumn::kText)
            page.next->text = last.text;
        else if (query.sort != SortColumn::kTime)
            page.next->number = query.sort == SortColumn::kSource
                                    ? static_cast<std::int64_t>(*ParseIPv4Address(last.source))
                                : query.sort == SortColumn::kFacility ? last.facility
                                                                      : last.level;
    }
    return page;
}

Result<MatchSummary> SyslogStoreReader::Summarize(const Query& query) {
    Call call(*state_, query);
    MatchSummary summary;
    auto [from, to] = RangeOf(query);
    auto filter = FilterOf(query, from, to, state_->layout);
    if (!filter)
        return filter.error();
    if (!CountedByMinute(query)) {
        auto run = call.Run(
            "SELECT count(*), min(id), max(id) FROM " + filter->from + " WHERE " + filter->sql,
            filter->values, [&](sqlite3_stmt* row) {
                summary.count = static_cast<std::uint64_t>(sqlite3_column_int64(row, 0));
                summary.first = SecondOf(sqlite3_column_int64(row, 1));
                summary.last = SecondOf(sqlite3_column_int64(row, 2));
            });
        if (!run)
            return run.error();
        return summary;
    }
    auto minutes = call.Minutes(query);
    if (!minutes)
        return minutes.error();
    for (const MinuteCount& minute : minutes.value())
        summary.count += static_cast<std::uint64_t>(minute.n);
    for (const char* order : {"ASC", "DESC"}) {
        auto run = call.Run("SELECT id FROM " + filter->from + " WHERE " + filter->sql +
                                " ORDER BY id " + order + " LIMIT 1",
                            filter->values, [&](sqlite3_stmt* row) {
                                const std::int64_t second = SecondOf(sqlite3_column_int64(row, 0));
                                (order[0] == 'A' ? summary.first : summary.last) = second;
                            });
        if (!run)
            return run.error();
    }
    return summary;
}

Result<std::vector<CountBucket>> SyslogStoreReader::CountBy(const Query& query, BucketUnit unit) {
    Call call(*state_, query);
    auto minutes = call.Minutes(query);
    if (!minutes)
        return minutes.error();
    return Bucketize(minutes.value(), unit);
}

}  // namespace quellin::syslogstore
