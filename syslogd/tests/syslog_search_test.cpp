// The search window's logic without a display: the query a form makes, the
// CSV it writes, and results page by page from the session's thread.
#include "syslog_search.h"

#include "fake_clock.h"
#include "store_writer.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace quellin::syslogd {
namespace {

using quellin::testing::Sjis;
using quellin::testing::TempDirTest;
namespace store = syslogstore;

TEST(SyslogSearch, FormBecomesTheQueryAcrossNewYear) {
    const FakeClock clock(MakeLocalTime(2025, 1, 1, 0, 30, 0));
    const DeviceAddresses devices = {{Sjis("本社"), 0x0A000001}};
    auto query =
        BuildQuery({.range = SearchRange::kYesterday, .routers = "10.0.0.2, 本社"}, clock, devices);
    ASSERT_TRUE(query);
    EXPECT_EQ(query->since, MakeLocalTime(2024, 12, 31, 0, 0, 0));
    EXPECT_EQ(query->until, MakeLocalTime(2025, 1, 1, 0, 0, 0));
    EXPECT_EQ(query->sources, (std::vector<std::uint32_t>{0x0A000002, 0x0A000001}));
    EXPECT_EQ(ChartUnit(*query, clock), store::BucketUnit::kHour);
    EXPECT_EQ(ChartUnit(*BuildQuery({}, clock, devices), clock), store::BucketUnit::kMinute);
    EXPECT_EQ(BuildQuery({.routers = "支社"}, clock, devices).error().detail,
              Sjis("アドレスでも登録済みの装置名でもありません: 支社"));
}

TEST(SyslogSearch, CsvInShiftJisOrUtf8WithAByteOrderMark) {
    const std::vector<store::StoredMessage> rows = {
        {1, MakeLocalTime(2025, 1, 2, 3, 4, 5), "10.0.0.1", 1, 3, "say \"回線断\"", ""}};
    const std::string line = "\"2025/01/02 03:04:05\",\"10.0.0.1\",\"User\",\"Error\",";
    EXPECT_EQ(CsvOf(rows, CsvEncoding::kUtf8WithBom),
              "\xEF\xBB\xBF\"時刻\",\"送信元IPアドレス\",\"Facility\",\"Level\",\"Message\"\r\n" +
                  line + "\"say \"\"回線断\"\"\"\r\n");
    EXPECT_EQ(CsvOf(rows, CsvEncoding::kShiftJis).substr(0, 6), Sjis("\"時刻\""));
    EXPECT_TRUE(CsvOf(rows, CsvEncoding::kShiftJis).ends_with(Sjis("\"say \"\"回線断\"\"\"\r\n")));
}

class SyslogSearchSessionTest : public TempDirTest {};

TEST_F(SyslogSearchSessionTest, ResultsComePageByPageWithTheSummaryAndCounts) {
    {
        store::SyslogStoreWriter writer({true, dir / "s.db", 0, 0}, {});
        store::StoreBatch batch;
        for (int i = 0; i <= static_cast<int>(SearchSession::kPageRows); ++i)
            batch.Add(1700000000 + i, "10.0.0.1", 1, i % 8, "<8>m" + std::to_string(i), 3);
        writer.Push(std::move(batch));
        ASSERT_TRUE(writer.Flush(std::chrono::seconds(20)));
    }
    std::vector<SearchSession::Event> events;
    SearchSession session(dir / "s.db", [&](SearchSession::Event e) { events.push_back(e); });
    store::Query query;
    session.Start(query, store::BucketUnit::kDay);
    session.Wait();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].rows.size(), SearchSession::kPageRows);
    EXPECT_TRUE(events[0].more);
    EXPECT_EQ(events[0].rows[0].text, "m500");
    EXPECT_EQ(events[1].summary->count, SearchSession::kPageRows + 1);
    EXPECT_EQ(events[1].summary->first, 1700000000);
    EXPECT_FALSE(events[1].counts->empty());
    session.NextPage();
    session.Wait();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[2].rows.size(), 1u);
    EXPECT_FALSE(events[2].more);
}

}  // namespace
}  // namespace quellin::syslogd
