// quellin syslog run from its installation folder over a store Syslogd's
// writer filled: every filter, every form, the exit statuses.
#include "quellin_installation.h"
#include "store_writer.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace quellin {
namespace {

using testing::Sjis;
constexpr std::int64_t kNewYear = 1735657200;  // 2025-01-01 00:00:00 in Tokyo

class QuellinSyslogTest : public testing::QuellinInstallationTest {
protected:
    QuellinSyslogTest() : QuellinInstallationTest(0) {}
    void Expect(std::vector<std::string> args, int status, const std::string& out) {
        args.insert(args.begin(), "syslog");
        const testing::Ran ran = Run(args, {"/usr/bin/env", "TZ=Asia/Tokyo"});
        EXPECT_EQ(std::tie(ran.status, ran.out), std::tie(status, out)) << args[1] << ran.err;
    }
};

TEST_F(QuellinSyslogTest, FindsByTimeRouterLevelAndTextInEveryForm) {
    Settings(8);
    Register("本社", "10.0.0.1");
    std::filesystem::create_directory(dir / "syslog");
    testing::WriteFile(dir / "syslog" / "Syslogd.ini",
                       "[SETUP]\r\nLogPath=" + dir.folder() + "log/syslogd.txt\r\nStoreFlag=1\r\n");
    syslogstore::StoreBatch batch;
    for (auto [time, source, facility, level, body] :
         std::vector<std::tuple<std::int64_t, const char*, int, int, std::string>>{
             {kNewYear - 30, "10.0.0.1", 1, 3, "LAN down"},
             {kNewYear + 10, "10.0.0.2", 16, 6, Sjis("回線が切断されました")},
             {kNewYear + 70, "10.0.0.1", 16, 6, "login \"admin\"\tok"},
             {kNewYear + 3700, "10.0.0.3", 4, 4, "link up"}})
        batch.Add(time, source, facility, level, "<0>Jan  1 00:00:00 " + body, 19);
    syslogstore::SyslogStoreWriter writer({true, dir / "log" / "syslogd-store.db", 0, 0}, nullptr);
    writer.Push(std::move(batch));
    ASSERT_TRUE(writer.Flush(std::chrono::seconds(5)));
    Expect({"--since", "2025-01-01", "--router", "本社", "--router", "10.0.0.3"}, 0,
           "time\taddress\tfacility\tlevel\ttext\n"
           "2025/01/01 00:01:10\t10.0.0.1\tLocal0\tInfo\tlogin \"admin\"\\tok\n"
           "2025/01/01 01:01:40\t10.0.0.3\tAuth\tWarning\tlink up\n");
    Expect({"--text", "切断され", "--json"}, 0,
           "{\"time\":\"2024-12-31T15:00:10Z\",\"address\":\"10.0.0.2\",\"facility\":"
           "\"Local0\",\"level\":\"Info\",\"text\":\"回線が切断されました\"}\n");
    Expect({"--until", "2025-01-01 00:00:11", "--csv"}, 0,
           "\"time\",\"address\",\"facility\",\"level\",\"text\"\r\n"
           "\"2024/12/31 23:59:30\",\"10.0.0.1\",\"User\",\"Error\",\"LAN down\"\r\n" +
               Sjis("\"2025/01/01 00:00:10\",\"10.0.0.2\",\"Local0\",\"Info\","
                    "\"回線が切断されました\"\r\n"));
    Expect({"--grep", "^(LAN|link) ", "--level", "Warning-Error", "--limit", "1"}, 0,
           "time\taddress\tfacility\tlevel\ttext\n"
           "2024/12/31 23:59:30\t10.0.0.1\tUser\tError\tLAN down\n");
    Expect({"--count-by", "day"}, 0,
           "time\ttotal\tEmergency\tAlert\tCritical\tError\tWarning\tNotice\tInfo\tDebug\n"
           "2024/12/31 00:00:00\t1\t0\t0\t0\t1\t0\t0\t0\t0\n"
           "2025/01/01 00:00:00\t3\t0\t0\t0\t0\t1\t0\t2\t0\n");
    // Nothing found, and the command line's faults.
    Expect({"--text", "nowhere"}, 1, "");
    Expect({"--since", "last week"}, 2, "");
    Expect({"--router", "支社"}, 2, "");
    Expect({"--grep", "a", "--text", "b"}, 2, "");
    Expect({"--grep", "(a)\\1"}, 2, "");
}

}  // namespace
}  // namespace quellin
