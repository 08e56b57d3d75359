#include "clock.h"
#include "codec.h"
#include "store_file.h"
#include "store_reader.h"
#include "store_settings.h"
#include "store_text.h"
#include "store_writer.h"
#include "test_support.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>

namespace quellin::syslogstore {
namespace {

using namespace std::chrono_literals;
using testing::ReadFile;
using testing::Sjis;

// 2025-01-01 00:00:00 in Tokyo.
constexpr std::int64_t kNewYear = 1735657200;

struct Message {
    std::int64_t time;
    std::string source;
    int facility;
    int level;
    std::string body;  // CP932
};

std::string DatagramOf(const Message& m) {
    return "<" + std::to_string(m.facility * 8 + m.level) + ">Jan  1 00:00:00 " + m.body;
}

StoreBatch BatchOf(const std::vector<Message>& messages) {
    StoreBatch batch;
    for (const Message& m : messages)
        batch.Add(m.time, m.source, m.facility, m.level, DatagramOf(m),
                  DatagramOf(m).size() - m.body.size());
    return batch;
}

class SyslogStoreTest : public testing::TempDirTest {
protected:
    void SetUp() override {
        setenv("TZ", "Asia/Tokyo", 1);
        tzset();
    }
    std::filesystem::path Path() const { return dir / "syslogd-store.db"; }

    void Write(const std::vector<Message>& messages) {
        auto file = StoreFile::Open(Path());
        ASSERT_TRUE(file) << file.error().detail;
        const StoreBatch batch = BatchOf(messages);
        ASSERT_TRUE(file->Write({&batch, 1}));
    }
    SyslogStoreReader Reader() {
        auto reader = SyslogStoreReader::Open(Path());
        EXPECT_TRUE(reader) << reader.error().detail;
        return std::move(reader.value());
    }
    std::vector<std::int64_t> Times(const Query& query) {
        auto page = Reader().Search(query, std::nullopt, 1000);
        EXPECT_TRUE(page) << page.error().detail;
        std::vector<std::int64_t> times;
        for (const StoredMessage& row : page->rows)
            times.push_back(row.receivedAt);
        return times;
    }
    std::uint64_t Count(const Query& query) {
        auto buckets = Reader().CountBy(query, BucketUnit::kHour);
        std::uint64_t total = 0;
        for (const CountBucket& bucket : buckets.value())
            total += bucket.Total();
        return total;
    }
};

TEST_F(SyslogStoreTest, KeepsTheTextAsListedAndTheDatagramAsReceived) {
    const std::vector<Message> messages = {
        {kNewYear, "192.168.1.1", 1, 5, "router1 LAN up"},
        {kNewYear, "10.0.0.2", 23, 3, Sjis("回線が切断されました 〜再接続")},
        // Not CP932, and NEC's copy of an IBM character: only the bytes keep them.
        {kNewYear + 1, "10.0.0.2", 0, 0, std::string("bad \x81\x20 byte") + "\xED\x40"},
    };
    Write(messages);
    auto page = Reader().Search(Query{.descending = false}, std::nullopt, 10);
    ASSERT_TRUE(page);
    ASSERT_EQ(page->rows.size(), 3u);
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const StoredMessage& row = page->rows[i];
        EXPECT_EQ(row.raw, DatagramOf(messages[i]));
        EXPECT_EQ(row.text, cp932::ToUtf8Lossy(messages[i].body));
        EXPECT_EQ(std::tie(row.receivedAt, row.source, row.facility, row.level),
                  std::tie(messages[i].time, messages[i].source, messages[i].facility,
                           messages[i].level));
    }
    // Japanese found as typed, with either of the wave dashes CP932 makes one.
    EXPECT_EQ(Times({.text = "切断されました 〜再"}), std::vector<std::int64_t>{kNewYear});
    EXPECT_EQ(Times({.text = "切断されました ～再"}), std::vector<std::int64_t>{kNewYear});
}

TEST_F(SyslogStoreTest, SearchesByTimeRouterLevelFacilityAndText) {
    std::vector<Message> messages;
    for (int i = 0; i < 24; ++i)
        messages.push_back({kNewYear + i * 60, "10.0.0." + std::to_string(i % 3 + 1),
                            i % 2 ? 16 : 4, i % 8,
                            (i % 4 ? "link up port " : "LOGIN failed user ") + std::to_string(i)});
    Write(messages);
    auto at = [](std::initializer_list<int> minutes) {
        std::vector<std::int64_t> times;
        for (int m : minutes)
            times.push_back(kNewYear + m * 60);
        return times;
    };
    // From `since` on, before `until`; newest first.
    EXPECT_EQ(Times({.since = kNewYear + 60, .until = kNewYear + 4 * 60}), at({3, 2, 1}));
    EXPECT_EQ(Times({.sources = {*ParseIPv4Address("10.0.0.2")}, .levels = 0x0F}),
              at({19, 16, 10, 1}));
    EXPECT_EQ(Times({.levels = 1 << 3, .facilities = 1 << 16}), at({19, 11, 3}));
    EXPECT_EQ(Times({.text = "LOGIN failed user 1"}), at({16, 12}));
    EXPECT_EQ(Times({.text = "login FAILED user 1", .ignoreCase = true}), at({16, 12}));
    EXPECT_EQ(Times({.text = "^link.* (5|7)$", .match = TextMatch::kRegex}), at({7, 5}));
    EXPECT_EQ(Times({.text = "ログ"}), at({}));
    for (const std::string& pattern :
         {std::string("("), std::string("(a)\\1"), std::string(513, 'a')}) {
        auto bad = Reader().Search({.text = pattern, .match = TextMatch::kRegex}, std::nullopt, 5);
        EXPECT_EQ(bad.error().code, ErrorCode::kBadArgument) << pattern;
    }

    // Page after page from the cursor: every match once, in the order asked.
    for (SortColumn sort :
         {SortColumn::kTime, SortColumn::kLevel, SortColumn::kText, SortColumn::kSource}) {
        const Query query{.sort = sort, .descending = sort != SortColumn::kTime};
        SyslogStoreReader reader = Reader();
        std::vector<StoredMessage> all;
        std::optional<PageCursor> cursor;
        do {
            auto page = reader.Search(query, cursor, 5);
            ASSERT_TRUE(page);
            all.insert(all.end(), page->rows.begin(), page->rows.end());
            cursor = page->next;
        } while (cursor);
        ASSERT_EQ(all.size(), messages.size());
        auto key = [&](const StoredMessage& m) {
            return std::tuple(sort == SortColumn::kLevel ? m.level : 0,
                              sort == SortColumn::kText ? m.text : "",
                              sort == SortColumn::kSource ? *ParseIPv4Address(m.source) : 0u, m.id);
        };
        for (std::size_t i = 1; i < all.size(); ++i)
            EXPECT_EQ(key(all[i - 1]) > key(all[i]), query.descending) << i;
    }
}

TEST_F(SyslogStoreTest, CountsAndTimesInLocalDaysAcrossNewYear) {
    Write({{kNewYear - 30, "10.0.0.1", 1, 3, "old year"},
           {kNewYear + 10, "10.0.0.1", 1, 3, "new year"},
           {kNewYear + 10, "10.0.0.2", 1, 6, "new year"},
           {kNewYear + 1800, "10.0.0.1", 1, 6, "half past"}});
    // From the kept counts per minute, and from the messages (a router).
    for (const Query& query : {Query{}, Query{.sources = {*ParseIPv4Address("10.0.0.1")}}}) {
        auto days = Reader().CountBy(query, BucketUnit::kDay);
        ASSERT_TRUE(days);
        ASSERT_EQ(days->size(), 2u);
        EXPECT_EQ(FormatLocalTime(days->at(0).start, "%Y-%m-%d %H:%M"), "2024-12-31 00:00");
        EXPECT_EQ(FormatLocalTime(days->at(1).start, "%Y-%m-%d %H:%M"), "2025-01-01 00:00");
        EXPECT_EQ(days->at(0).levels[3], 1u);
        EXPECT_EQ(days->at(1).Total(), query.sources.empty() ? 3u : 2u);
    }
    auto hours = Reader().CountBy({.levels = 1 << 6}, BucketUnit::kHour);
    ASSERT_EQ(hours->size(), 1u);
    EXPECT_EQ(hours->at(0), (CountBucket{kNewYear, {0, 0, 0, 0, 0, 0, 2, 0}}));
    // A range that starts and ends inside minutes.
    auto summary = Reader().Summarize({.since = kNewYear - 29, .until = kNewYear + 1800});
    ASSERT_TRUE(summary);
    EXPECT_EQ(std::tie(summary->count, summary->first, summary->last),
              std::tuple(2u, kNewYear + 10, kNewYear + 10));

    // What people type, on a clock half a minute into the new year.
    const FakeClock clock(kNewYear + 30);
    for (auto [text, time] : std::vector<std::pair<const char*, std::optional<std::int64_t>>>{
             {"today", kNewYear},
             {"yesterday", kNewYear - 86400},
             {"-1h", kNewYear - 3570},
             {"2024-12-31 23:59:30", kNewYear - 30},
             {"2024-12-31T14:59:30Z", kNewYear - 30},
             {"2024-12-31 15:59+01:00", kNewYear - 60},
             {"@1735657200", kNewYear},
             {"2025-02-29", std::nullopt},
             {"2025-01-01 24:00", std::nullopt},
             {"1h ago", std::nullopt}})
        EXPECT_EQ(ParseTimePoint(text, clock), time) << text;
    EXPECT_EQ(ParseLevelMask("Emergency-err,7"), 0x8F);
    EXPECT_EQ(ParseLevelMask("Warning,Info"), 0x50);
    EXPECT_EQ(ParseLevelMask("Loud"), std::nullopt);
}

TEST_F(SyslogStoreTest, ExpiryRemovesTheOldestAndNothingElseInBoundedSteps) {
    std::vector<Message> messages;
    for (int i = 0; i < 100; ++i)  // ten a day for ten days
        messages.push_back({kNewYear + i * 8640, "10.0.0.1", 1, i % 8, std::string(1000, 'x')});
    Write(messages);
    auto file = StoreFile::Open(Path());
    ASSERT_TRUE(file);
    const std::int64_t keepFrom = kNewYear + 7 * 86400;
    std::vector<std::size_t> steps;
    for (std::size_t removed; (removed = file->ExpireStep(keepFrom, 0, 25).value()) > 0;)
        steps.push_back(removed);
    EXPECT_EQ(steps, (std::vector<std::size_t>{25, 25, 20}));
    EXPECT_EQ(Times({.until = keepFrom}).size(), 0u);
    EXPECT_EQ(Times({.since = keepFrom}).size(), 30u);
    EXPECT_EQ(Count({}), 30u);  // the counts per minute follow
    EXPECT_EQ(Times({.sources = {*ParseIPv4Address("10.0.0.1")}}).size(), 30u);  // and the router's

    std::vector<Message> more;
    for (int i = 0; i < 600; ++i)
        more.push_back({keepFrom + 3 * 86400 + i * 60, "10.0.0.1", 1, 6, std::string(1000, 'y')});
    const StoreBatch batch = BatchOf(more);
    ASSERT_TRUE(file->Write({&batch, 1}));
    const std::uint64_t limit = file->UsedBytes().value() / 2;
    while (file->ExpireStep(0, limit, 50).value() > 0) {
    }
    EXPECT_LE(file->UsedBytes().value(), limit);
    const std::vector<std::int64_t> left = Times({});
    ASSERT_GT(left.size(), 200u);
    EXPECT_EQ(left.front(), more.back().time);
    EXPECT_EQ(left.size(), static_cast<std::size_t>((left.front() - left.back()) / 60 + 1));
    EXPECT_EQ(Count({}), left.size());
}

TEST_F(SyslogStoreTest, StoreOfTheFirstLayoutReadsBeforeAndAfterTheWriterMigratesIt) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path().c_str(), &db), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(db,
                     "PRAGMA page_size = 16384; PRAGMA journal_mode = WAL;"
                     "CREATE TABLE message(id INTEGER PRIMARY KEY, source INTEGER NOT NULL,"
                     " facility INTEGER NOT NULL, level INTEGER NOT NULL, text TEXT NOT NULL,"
                     " head BLOB NOT NULL, body BLOB);"
                     "CREATE INDEX message_source ON message(source);"
                     "CREATE TABLE minute_count(minute INTEGER NOT NULL, level INTEGER NOT"
                     " NULL, n INTEGER NOT NULL, PRIMARY KEY(minute, level)) WITHOUT ROWID;"
                     "INSERT INTO message VALUES(1819968484147200, 167772161, 1, 6, 'a', '', NULL),"
                     " (1819968547061760, 167772162, 1, 6, 'b', '', NULL);"
                     "PRAGMA application_id = 1364413511; PRAGMA user_version = 1;",
                     nullptr, nullptr, nullptr),
        SQLITE_OK);
    const Query router{.sources = {*ParseIPv4Address("10.0.0.2")}};
    EXPECT_EQ(Times(router), std::vector<std::int64_t>{kNewYear + 60});
    Write({{kNewYear + 120, "10.0.0.2", 1, 6, "c"}});  // the writer migrates it
    EXPECT_EQ(Times(router), (std::vector<std::int64_t>{kNewYear + 120, kNewYear + 60}));
    EXPECT_EQ(Times({}).size(), 3u);
    // No index entry per message any more.
    EXPECT_NE(sqlite3_exec(db, "SELECT 1 FROM message INDEXED BY message_source", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    sqlite3_close(db);
}

TEST_F(SyslogStoreTest, SettingsComeFromSyslogdIniAndAreOffWithoutIt) {
    EXPECT_EQ(ParseStoreSettings(std::nullopt), (StoreSettings{false, "/syslogd-store.db", 0, 0}));
    EXPECT_EQ(ParseStoreSettings("[SETUP]\r\nLogPath=/var/log/q/syslogd.txt\r\nstoreflag=1\r\n"
                                 "StoreKeepDays= 30\r\nStoreMaxMB=2x\r\n"),
              (StoreSettings{true, "/var/log/q/syslogd-store.db", 30, 2}));
    EXPECT_EQ(ParseStoreSettings("[SETUP]\nStoreFlag=2\nStorePath=" + Sjis("/ログ/s.db")),
              (StoreSettings{false, cp932::ToPath(Sjis("/ログ/s.db")), 0, 0}));
    EXPECT_EQ(ReadStoreSettings(dir / "none.ini").error().code, ErrorCode::kNotFound);
    // The installation's file names the store beside itself.
    testing::WriteFile(dir / "Syslogd.ini", "[SETUP]\r\nStoreFlag=1\r\nStorePath=s.db\r\n");
    EXPECT_EQ(ReadStoreSettings(dir / "Syslogd.ini")->path, dir / "s.db");
}

class SyslogStoreWriterTest : public SyslogStoreTest {
protected:
    SyslogStoreWriter::Options Fast() {
        return {.commitInterval = 5ms,
                .firstRetry = 20ms,
                .maxRetry = 100ms,
                .lockWait = 10ms,
                .statusInterval = 10ms,
                .expiryInterval = 10ms,
                .niceIncrement = 0,
                .clock = &clock};
    }
    void Start(StoreSettings settings, SyslogStoreWriter::Options options) {
        writer.emplace(
            settings,
            [this](const StoreWriteStatus& s) {
                std::lock_guard lock(mutex);
                statuses.push_back(s);
            },
            options);
    }
    void Start() { Start({true, Path(), 0, 0}, Fast()); }
    std::vector<std::optional<ErrorCode>> Failures() {
        std::lock_guard lock(mutex);
        std::vector<std::optional<ErrorCode>> codes;
        for (const StoreWriteStatus& s : statuses) {
            auto code = s.failure ? std::optional(s.failure->code) : std::nullopt;
            if (codes.empty() ? code.has_value() : codes.back() != code)
                codes.push_back(code);
        }
        return codes;
    }
    void Push(int n, std::int64_t time = kNewYear) {
        for (int i = 0; i < n; ++i)
            writer->Push(BatchOf({{time, "10.0.0.1", 1, 6, "message " + std::to_string(i)}}));
    }

    FakeClock clock{kNewYear};
    std::mutex mutex;
    std::vector<StoreWriteStatus> statuses;
    std::optional<SyslogStoreWriter> writer;
};

TEST_F(SyslogStoreWriterTest, DamagedDatabaseIsMovedAsideAndANewOneBegun) {
    Write({{kNewYear, "10.0.0.1", 1, 6, "before"}});
    std::string damaged = ReadFile(Path());
    std::fill(damaged.begin(), damaged.begin() + 4096, '#');
    testing::WriteFile(Path(), damaged);
    Start();
    Push(1);
    ASSERT_TRUE(writer->Flush(5s));
    const auto aside = Path().string() + ".damaged-20250101000000";
    EXPECT_EQ(ReadFile(aside), damaged);
    EXPECT_EQ(Failures(),
              (std::vector<std::optional<ErrorCode>>{ErrorCode::kDamaged, std::nullopt}));
    EXPECT_EQ(statuses.front().movedAside, aside);
    EXPECT_EQ(Times({}).size(), 1u);
}

TEST_F(SyslogStoreWriterTest, LockedDatabaseWaitsUnsaidAfterOnceAndDropsOnlyBeyondItsBound) {
    Write({});
    testing::ChildProcess holder(
        "/usr/bin/python3",
        {"-c", "import sqlite3, time\nc = sqlite3.connect('" + Path().string() +
                   "', isolation_level=None)\nc.execute('BEGIN IMMEDIATE')\n"
                   "open('" +
                   (dir / "held").string() + "', 'w').close()\ntime.sleep(60)"});
    ASSERT_TRUE(testing::WaitUntil([&] { return std::filesystem::exists(dir / "held"); }, 10000));
    SyslogStoreWriter::Options options = Fast();
    options.queueBytes = 50 * BatchOf({{kNewYear, "10.0.0.1", 1, 6, "message 10"}}).Bytes();
    Start({true, Path(), 0, 0}, options);
    const auto start = std::chrono::steady_clock::now();
    Push(60);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);  // reception never waits
    EXPECT_FALSE(writer->Flush(300ms));
    EXPECT_EQ(writer->dropped(), 10u);
    holder.Signal(SIGKILL);
    ASSERT_TRUE(writer->Flush(5s));
    EXPECT_EQ(Failures(), (std::vector<std::optional<ErrorCode>>{ErrorCode::kBusy, std::nullopt}));
    EXPECT_LE(statuses.size(), 3u);  // said once, the count of dropped once, working again
    EXPECT_EQ(statuses.back().dropped, 10u);
    EXPECT_EQ(Times({}).size(), 50u);
}

TEST_F(SyslogStoreWriterTest, FolderThatCannotBeWrittenIsRetried) {
    Start({true, dir / "later" / "store.db", 0, 0}, Fast());
    Push(1);
    EXPECT_FALSE(writer->Flush(100ms));
    std::filesystem::create_directory(dir / "later");
    ASSERT_TRUE(writer->Flush(5s));
    EXPECT_EQ(Failures(), (std::vector<std::optional<ErrorCode>>{ErrorCode::kIo, std::nullopt}));
}

TEST_F(SyslogStoreWriterTest, ExpiresBetweenBatches) {
    Start({true, Path(), 2, 0}, Fast());
    Push(3, kNewYear - 3 * 86400);
    Push(2);
    ASSERT_TRUE(writer->Flush(5s));
    EXPECT_TRUE(testing::WaitUntil([&] { return Times({}).size() == 2; }, 5000));
}

TEST_F(SyslogStoreWriterTest, FullDiskKeepsWhatWaitsUntilThereIsRoom) {
    const std::filesystem::path disk = dir / "disk";
    std::filesystem::create_directory(disk);
    if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=512k") != 0)
        GTEST_SKIP() << "needs root for a small file system of its own";
    const std::unique_ptr<const char, void (*)(const char*)> unmount(
        disk.c_str(), [](const char* folder) { umount2(folder, MNT_DETACH); });
    testing::WriteFile(disk / "filler", std::string(300 << 10, 'f'));
    Start({true, disk / "store.db", 0, 0}, Fast());
    std::uint64_t pushed = 0;
    for (; pushed < 8000 && Failures().empty(); pushed += 20) {
        writer->Push(
            BatchOf(std::vector<Message>(20, {kNewYear, "10.0.0.1", 1, 6, std::string(200, 'x')})));
        writer->Flush(200ms);
    }
    std::filesystem::remove(disk / "filler");
    ASSERT_TRUE(writer->Flush(5s));
    writer.reset();
    EXPECT_EQ(Failures(),
              (std::vector<std::optional<ErrorCode>>{ErrorCode::kDiskFull, std::nullopt}));
    EXPECT_EQ(statuses.back().dropped, 0u);  // what waited was written
    EXPECT_EQ(SyslogStoreReader::Open(disk / "store.db")->Summarize({})->count, pushed);
}

TEST_F(SyslogStoreWriterTest, ReadersNeedOnlyReadAccessAndNeverHoldTheWriter) {
    Start();
    Push(2);
    ASSERT_TRUE(writer->Flush(5s));
    // A reader in the middle of a read: the writer goes on.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(Path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* reading = nullptr;
    sqlite3_prepare_v2(db, "SELECT id FROM message", -1, &reading, nullptr);
    ASSERT_EQ(sqlite3_step(reading), SQLITE_ROW);
    Push(3);
    EXPECT_TRUE(writer->Flush(5s));
    sqlite3_finalize(reading);
    sqlite3_close(db);
    writer.reset();
    for (const char* suffix : {"", "-wal", "-shm"}) {
        struct stat status {};
        ASSERT_EQ(stat((Path().string() + suffix).c_str(), &status), 0) << suffix;
        EXPECT_EQ(status.st_mode & 0777, 0640u) << suffix;
    }
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to read as another user";
    // A member of the file's group, in a folder it cannot write.
    chmod(dir.path().c_str(), 0750);
    const std::string out =
        (std::filesystem::temp_directory_path() / ("count-" + std::to_string(getpid()))).string();
    testing::ChildProcess count(
        "/usr/bin/setpriv",
        {"--reuid=65534", "--regid=0", "--clear-groups", "/usr/bin/python3", "-c",
         "import sqlite3\nprint(sqlite3.connect('file:" + Path().string() +
             "?mode=ro', uri=True).execute('SELECT count(*) FROM message').fetchone()[0])"},
        {}, {}, out);
    EXPECT_EQ(count.Wait(10000), 0);
    EXPECT_EQ(ReadFile(out), "5\n");
    std::filesystem::remove(out);
}

}  // namespace
}  // namespace quellin::syslogstore
