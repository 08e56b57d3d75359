// The search window without widgets: what the operator fills in becomes a
// query of the syslog store, the results come page by page from a worker
// thread while the window answers, with the count of matches, the time
// they cover and the counts per minute, hour or day for the chart; the
// results can be written to a CSV file.
#pragma once

#include "clock.h"
#include "result.h"
#include "store_reader.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quellin::syslogd {

// The quick choices of the time range.
enum class SearchRange { kLastHour, kToday, kYesterday, kDate, kEverything };

struct SearchForm {
    SearchRange range = SearchRange::kLastHour;
    int year = 1970, month = 1, day = 1;  // the local day of kDate
    // Addresses or device names, separated by blanks or commas (UTF-8).
    std::string routers;
    std::uint8_t levels = syslogstore::kAllLevels;
    std::uint32_t facilities = syslogstore::kAllFacilities;
    std::string text;  // UTF-8, as typed
    bool regex = false;
};

// Device name (CP932) to its IPv4 address, from the installation's base.db.
using DeviceAddresses = std::map<std::string, std::uint32_t>;

// The devices of base.db that have an IPv4 address; empty when there is no
// readable base.db.  At most `maxRows` rows are read.
DeviceAddresses LoadDeviceAddresses(const std::filesystem::path& baseDb, int maxRows = 100000);

// The query for a form, newest first; kBadArgument with the reason (CP932
// text, Japanese) for a router that is neither an address nor a device.
Result<syslogstore::Query> BuildQuery(const SearchForm& form, const Clock& clock,
                                      const DeviceAddresses& devices);

// The chart's bucket for a query: minutes up to six hours, hours up to a
// week, days beyond.
syslogstore::BucketUnit ChartUnit(const syslogstore::Query& query, const Clock& clock);

// "YYYY/MM/DD hh:mm:ss" in local time.
std::string LocalTimeText(std::int64_t time);

enum class CsvEncoding { kShiftJis, kUtf8WithBom };

// The heading and one line per message, every field quoted, lines ended by
// CR LF: Shift-JIS like every other file, or UTF-8 after a byte-order mark.
std::string CsvOf(const std::vector<syslogstore::StoredMessage>& messages, CsvEncoding encoding);

// Runs searches of one store on a thread of its own.  A new search cancels
// the one under way; what the listener gets always names the search it
// belongs to, so the window drops what is late.
class SearchSession {
public:
    static constexpr std::size_t kPageRows = 500;

    struct Event {
        std::uint64_t search = 0;                                     // Start's number
        std::vector<syslogstore::StoredMessage> rows;                 // a page, in order
        bool more = false;                                            // NextPage gives more
        std::optional<syslogstore::MatchSummary> summary;             // once per search
        std::optional<std::vector<syslogstore::CountBucket>> counts;  // once per search
        std::optional<Error> failure;
    };

    // `listener` is called on the session's thread.
    SearchSession(std::filesystem::path store, std::function<void(Event)> listener);
    ~SearchSession();
    SearchSession(const SearchSession&) = delete;
    SearchSession& operator=(const SearchSession&) = delete;

    // The first page, then the summary and the chart's counts by `unit`.
    std::uint64_t Start(const syslogstore::Query& query, syslogstore::BucketUnit unit);
    // The page after the last one of the current search, if there is more.
    void NextPage();
    // Waits until every request given so far has been answered.
    void Wait();

private:
    struct Request {
        std::uint64_t search = 0;
        bool first = false;
    };
    void Run();
    void Answer(const Request& request, std::optional<syslogstore::SyslogStoreReader>& reader);

    const std::filesystem::path store_;
    const std::function<void(Event)> listener_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Request> requests_;
    bool busy_ = false;
    bool stopping_ = false;
    std::uint64_t search_ = 0;
    syslogstore::Query query_;
    syslogstore::BucketUnit unit_ = syslogstore::BucketUnit::kHour;
    std::optional<syslogstore::PageCursor> cursor_;
    syslogstore::SyslogStoreReader* running_ = nullptr;  // to cancel
    std::thread thread_;
};

}  // namespace quellin::syslogd
