#include "syslog_search.h"

#include "codec.h"
#include "device_registry.h"
#include "store_text.h"

#include <ctime>

namespace quellin::syslogd {
namespace {

namespace store = syslogstore;

constexpr std::int64_t kHour = 3600;
constexpr std::int64_t kDay = 24 * kHour;

// Local midnight of the day `days` after the one `time` falls in.
std::int64_t LocalMidnight(std::int64_t time, int days) {
    const std::time_t t = static_cast<std::time_t>(time);
    std::tm local{};
    localtime_r(&t, &local);
    return MakeLocalTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday + days, 0, 0, 0);
}

// The routers' words: split at blanks and commas, at most as many as a
// query takes.
std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text + " ") {
        if (c != ' ' && c != ',' && c != '\t') {
            word += c;
        } else if (!word.empty()) {
            words.push_back(std::move(word));
            word.clear();
        }
    }
    return words;
}

void Quoted(std::string& line, const std::string& field) {
    line += line.empty() ? "\"" : ",\"";
    for (char c : field)
        line += c == '"' ? std::string("\"\"") : std::string(1, c);
    line += '"';
}

}  // namespace

DeviceAddresses LoadDeviceAddresses(const std::filesystem::path& baseDb, int maxRows) {
    DeviceAddresses devices;
    CList<CBase> list;
    if (!LoadDevices(baseDb, list, maxRows))
        return devices;
    for (const CBase& device : list) {
        if (auto address = store::ParseIPv4Address(device.address); address && !device.name.empty())
            devices.emplace(device.name, *address);
    }
    return devices;
}

Result<store::Query> BuildQuery(const SearchForm& form, const Clock& clock,
                                const DeviceAddresses& devices) {
    store::Query query;
    const std::int64_t now = clock.Now();
    switch (form.range) {
        case SearchRange::kLastHour:
            query.since = now - kHour;
            break;
        case SearchRange::kToday:
            query.since = LocalMidnight(now, 0);
            break;
        case SearchRange::kYesterday:
            query.since = LocalMidnight(now, -1);
            query.until = LocalMidnight(now, 0);
            break;
        case SearchRange::kDate: {
            const std::int64_t day = MakeLocalTime(form.year, form.month, form.day, 12, 0, 0);
            query.since = LocalMidnight(day, 0);
            query.until = LocalMidnight(day, 1);
            break;
        }
        case SearchRange::kEverything:
            break;
    }
    for (const std::string& word : Words(form.routers)) {
        if (auto address = store::ParseIPv4Address(word)) {
            query.sources.push_back(*address);
            continue;
        }
        const std::string name = cp932::FromUtf8Lossy(word);
        auto device = devices.find(name);
        if (device == devices.end())
            return Error{ErrorCode::kBadArgument,
                         cp932::Jp("アドレスでも登録済みの装置名でもありません: ") + name};
        query.sources.push_back(device->second);
    }
    if (query.sources.size() > store::kMaxQuerySources)
        return Error{ErrorCode::kBadArgument, cp932::Jp("ルータの指定が多すぎます。")};
    query.levels = form.levels;
    query.facilities = form.facilities;
    query.text = form.text;
    query.match = form.regex ? store::TextMatch::kRegex : store::TextMatch::kSubstring;
    return query;
}

store::BucketUnit ChartUnit(const store::Query& query, const Clock& clock) {
    const std::int64_t until = query.until.value_or(clock.Now());
    const std::int64_t span = query.since ? until - *query.since : 365 * kDay;
    return span <= 6 * kHour  ? store::BucketUnit::kMinute
           : span <= 7 * kDay ? store::BucketUnit::kHour
                              : store::BucketUnit::kDay;
}

std::string LocalTimeText(std::int64_t time) {
    const std::time_t t = static_cast<std::time_t>(time);
    std::tm local{};
    char text[32] = "";
    if (localtime_r(&t, &local) != nullptr)
        std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &local);
    return text;
}

std::string CsvOf(const std::vector<store::StoredMessage>& messages, CsvEncoding encoding) {
    const bool utf8 = encoding == CsvEncoding::kUtf8WithBom;
    // The headings of the main list, in its encoding.
    const char* headings[] = {"時刻", "送信元IPアドレス", "Facility", "Level", "Message"};
    std::string out = utf8 ? "\xEF\xBB\xBF" : "";
    std::string line;
    for (const char* heading : headings)
        Quoted(line, utf8 ? std::string(heading) : cp932::Jp(heading));
    out += line + "\r\n";
    for (const store::StoredMessage& m : messages) {
        line.clear();
        Quoted(line, LocalTimeText(m.receivedAt));
        Quoted(line, m.source);
        Quoted(line, std::string(store::FacilityName(m.facility)));
        Quoted(line, std::string(store::LevelName(m.level)));
        Quoted(line, utf8 ? m.text : cp932::FromUtf8Lossy(m.text));
        out += line + "\r\n";
    }
    return out;
}

SearchSession::SearchSession(std::filesystem::path store, std::function<void(Event)> listener)
    : store_(std::move(store)), listener_(std::move(listener)), thread_([this] { Run(); }) {}

SearchSession::~SearchSession() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        if (running_ != nullptr)
            running_->Cancel();
    }
    changed_.notify_all();
    thread_.join();
}

std::uint64_t SearchSession::Start(const store::Query& query, store::BucketUnit unit) {
    std::lock_guard lock(mutex_);
    ++search_;
    query_ = query;
    unit_ = unit;
    cursor_.reset();
    requests_.clear();
    requests_.push_back({search_, true});
    if (running_ != nullptr)
        running_->Cancel();
    changed_.notify_all();
    return search_;
}

void SearchSession::NextPage() {
    std::lock_guard lock(mutex_);
    if (!cursor_ || (!requests_.empty() && requests_.back().search == search_))
        return;
    requests_.push_back({search_, false});
    changed_.notify_all();
}

void SearchSession::Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return requests_.empty() && !busy_; });
}

void SearchSession::Run() {
    std::optional<store::SyslogStoreReader> reader;
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [this] { return stopping_ || !requests_.empty(); });
        if (stopping_)
            return;
        const Request request = requests_.front();
        requests_.pop_front();
        if (request.search != search_)
            continue;
        busy_ = true;
        lock.unlock();
        Answer(request, reader);
        lock.lock();
        busy_ = false;
        changed_.notify_all();
    }
}

void SearchSession::Answer(const Request& request,
                           std::optional<store::SyslogStoreReader>& reader) {
    Event event;
    event.search = request.search;
    auto fail = [&](Error error) {
        // A newer search cancelled this one: it has nothing more to say.
        if (error.code == ErrorCode::kCancelled && [&] {
                std::lock_guard lock(mutex_);
                return request.search != search_ || stopping_;
            }())
            return;
        // The reader is opened afresh next time: the store may have been
        // moved aside and begun anew meanwhile.
        reader.reset();
        event.failure = std::move(error);
        listener_(std::move(event));
    };
    if (!reader) {
        auto opened = store::SyslogStoreReader::Open(store_);
        if (!opened)
            return fail(opened.error());
        reader.emplace(std::move(*opened));
    }
    store::Query query;
    store::BucketUnit unit;
    std::optional<store::PageCursor> cursor;
    // Each step starts only while its search is still the current one, and
    // a new search cancels the step under way.
    auto current = [&] {
        std::lock_guard lock(mutex_);
        running_ = request.search == search_ && !stopping_ ? &*reader : nullptr;
        query = query_;
        unit = unit_;
        cursor = cursor_;
        return running_ != nullptr;
    };
    auto done = [&] {
        std::lock_guard lock(mutex_);
        running_ = nullptr;
    };
    if (!current())
        return;
    auto page = reader->Search(query, request.first ? std::nullopt : cursor, kPageRows);
    done();
    if (!page)
        return fail(page.error());
    {
        std::lock_guard lock(mutex_);
        if (request.search == search_)
            cursor_ = page->next;
    }
    event.rows = std::move(page->rows);
    event.more = page->next.has_value();
    listener_(std::move(event));
    if (!request.first || !current())
        return;
    event = Event{};
    event.search = request.search;
    auto summary = reader->Summarize(query);
    done();
    if (!summary)
        return fail(summary.error());
    event.summary = *summary;
    if (!current())
        return;
    auto counts = reader->CountBy(query, unit);
    done();
    if (!counts)
        return fail(counts.error());
    event.counts = std::move(*counts);
    listener_(std::move(event));
}

}  // namespace quellin::syslogd
