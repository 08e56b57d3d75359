// Builds a syslog store the size of a site's two months and times what the
// search window, `quellin syslog` and the chart ask of it:
//   syslog_store_load FOLDER [MESSAGES [ROUTERS [DAYS]]]
// Messages from ROUTERS routers over DAYS days (in time order, as received)
// go through the store writer in receive batches of 64; the same messages
// go to a log file in Syslogd's line format beside it.  Prints the insert
// rate, the bytes per message of the store and of the log file, and the
// times of the searches.  Run by bench/syslog_store_bench.sh.
#include "codec.h"
#include "store_reader.h"
#include "store_text.h"
#include "store_writer.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace quellin::syslogstore;
using Steady = std::chrono::steady_clock;

namespace {

constexpr std::int64_t kStart = 1735657200;  // 2025-01-01 00:00 in Tokyo
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
// Heard about once a day in the whole site: what a text search must find.
constexpr const char* kRareText = "ファームウェアの更新に失敗しました";

std::uint64_t FileBytes(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
}

// CPU seconds of this process's threads other than the calling one: the
// store writer's.
double OtherThreadsCpu() {
    double seconds = 0;
    const std::string self = std::to_string(gettid());
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        if (task.path().filename() == self)
            continue;
        std::ifstream in(task.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(in)), {});
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        unsigned long long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14)
                utime = std::stoull(field);
            if (i == 15)
                stime = std::stoull(field);
        }
        seconds += static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return seconds;
}

double Milliseconds(Steady::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The texts of a site: mostly ASCII, about a third Japanese (CP932).
class Texts {
public:
    explicit Texts(std::mt19937& random) : random_(random) {
        for (const char* utf8 : {"回線が切断されました(PP %u)", "回線が接続されました(PP %u)",
                                 "ログインに失敗しました ユーザー=admin 接続元=10.%u.1.9",
                                 "DHCPサーバーがアドレス 192.168.%u.33 を割り当てました",
                                 "温度が上限を超えました: %u℃"})
            japanese_.push_back(quellin::cp932::Jp(utf8));
        rare_ = quellin::cp932::Jp(kRareText);
    }

    std::string Next(std::uint64_t i) {
        char text[256];
        const unsigned n = random_() % 250;
        if (i == 7)
            return rare_ + " version " + std::to_string(n);
        switch (random_() % 9) {
            case 0:
                std::snprintf(text, sizeof text,
                              "IP.FILTER: Rejected at IN(1) filter: TCP 203.0.113.%u:%u > "
                              "192.168.1.%u:443",
                              n, 40000 + n, n % 200);
                break;
            case 1:
                std::snprintf(text, sizeof text,
                              "PP[%02u] PPPoE session up, IP address 100.64.%u.%u", n % 8, n,
                              n / 2);
                break;
            case 2:
                std::snprintf(text, sizeof text, "LAN%u: link up 1000BASE-T full duplex",
                              n % 3 + 1);
                break;
            case 3:
                std::snprintf(text, sizeof text,
                              "NTP: time synchronized with 192.168.0.1, offset %u ms", n);
                break;
            case 4:
                std::snprintf(text, sizeof text, "IKE: SA established with 198.51.100.%u", n);
                break;
            case 5:
            case 6:
            case 7:
            case 8:
                std::snprintf(text, sizeof text, japanese_[random_() % japanese_.size()].c_str(),
                              n);
                break;
        }
        return text;
    }

private:
    std::mt19937& random_;
    std::vector<std::string> japanese_;
    std::string rare_;
};

int LevelOf(unsigned r) {
    // Mostly Info and Notice; errors now and then; an emergency rarely.
    static const int kLevels[] = {6, 6, 6, 6, 6, 6, 5, 5, 5, 4, 4, 3, 6, 5, 2, 6};
    return r % 1000 == 0 ? 0 : kLevels[r % 16];
}

void Time(const char* what, int runs, const std::function<std::size_t()>& query) {
    double first = 0, best = 1e18;
    std::size_t result = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = Steady::now();
        result = query();
        const double ms = Milliseconds(Steady::now() - start);
        if (i == 0)
            first = ms;
        best = std::min(best, ms);
    }
    std::printf("%-58s %9.1f ms first, %9.1f ms best  (%zu)\n", what, first, best, result);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: syslog_store_load FOLDER [MESSAGES [ROUTERS [DAYS]]]\n");
        return 2;
    }
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    const std::string folder = argv[1];
    const std::uint64_t messages = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 10000000;
    const unsigned routers = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 1000;
    const int days = argc > 4 ? std::atoi(argv[4]) : 60;
    const std::string storePath = folder + "/syslogd-store.db";
    const std::string logPath = folder + "/syslogd.txt";
    const std::int64_t span = std::int64_t{days} * 86400;

    // A pool of messages drawn from at random keeps the generator's share
    // of the time small; the rare text comes about once a day.
    std::mt19937 random(25);
    Texts texts(random);
    struct Sample {
        std::string source;
        int facility, level;
        std::string body;
    };
    std::vector<Sample> pool;
    for (std::uint64_t i = 0; i < 65536; ++i)
        pool.push_back({FormatIPv4Address(0x0A000000u + 1 + random() % routers),
                        16 + static_cast<int>(random() % 8), LevelOf(random()),
                        texts.Next(i + 100)});
    const Sample rare{FormatIPv4Address(0x0A000001u), 16, 3, texts.Next(7)};
    const std::uint64_t rareEvery =
        std::max<std::uint64_t>(messages / static_cast<std::uint64_t>(days), 1);

    std::ofstream log(logPath, std::ios::binary);
    SyslogStoreWriter::Options options;
    options.niceIncrement = 0;  // the writer's own pace, whatever else runs
    SyslogStoreWriter writer({true, storePath, 0, 0}, nullptr, options);
    StoreBatch batch;
    std::string logLines, datagram;
    char stamp[32] = "";
    std::int64_t stampTime = -1;
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = Steady::now();
    for (std::uint64_t i = 0; i < messages; ++i) {
        const std::int64_t time = kStart + static_cast<std::int64_t>(i * span / messages);
        if (time != stampTime) {
            const std::time_t t = time;
            std::tm local{};
            localtime_r(&t, &local);
            std::snprintf(stamp, sizeof stamp, "%s %2d %02d:%02d:%02d", kMonths[local.tm_mon],
                          local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
            stampTime = time;
        }
        const Sample& m = i % rareEvery == rareEvery / 2 ? rare : pool[random() & 0xFFFF];
        datagram = "<" + std::to_string(m.facility * 8 + m.level) + ">" + stamp + " " + m.body;
        batch.Add(time, m.source, m.facility, m.level, datagram, datagram.size() - m.body.size());
        logLines += std::string(stamp) + "," + m.source + "," +
                    std::string(FacilityName(m.facility)) + "," + std::string(LevelName(m.level)) +
                    "," + m.body + "\r\n";
        if (batch.size() == 64 || i + 1 == messages) {
            // The bench wants every message: it waits where Syslogd would drop.
            while (writer.waiting() > 200000)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            writer.Push(std::move(batch));
            batch = StoreBatch();
            log << logLines;
            logLines.clear();
        }
    }
    writer.Flush(std::chrono::hours(1));
    const double writerCpu = OtherThreadsCpu();
    const double seconds = Milliseconds(Steady::now() - start) / 1000;
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    writer.Stop();
    log.close();
    auto cpu = [](const rusage& u) {
        return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
               static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };

    const std::uint64_t storeBytes = FileBytes(storePath) + FileBytes(storePath + "-wal");
    std::printf("messages                 %llu from %u routers over %d days\n",
                static_cast<unsigned long long>(messages), routers, days);
    std::printf("insert rate              %.0f messages/s through the writer (%llu dropped)\n",
                static_cast<double>(writer.stored()) / seconds,
                static_cast<unsigned long long>(writer.dropped()));
    std::printf("CPU per message          %.2f us in the writer's thread, %.2f us in all\n",
                writerCpu * 1e6 / static_cast<double>(messages),
                (cpu(after) - cpu(before)) * 1e6 / static_cast<double>(messages));
    std::printf("store                    %.1f bytes per message (%.2f GB)\n",
                static_cast<double>(storeBytes) / static_cast<double>(messages),
                static_cast<double>(storeBytes) / 1e9);
    std::printf("log file                 %.1f bytes per message (%.2f GB)\n",
                static_cast<double>(FileBytes(logPath)) / static_cast<double>(messages),
                static_cast<double>(FileBytes(logPath)) / 1e9);
    std::printf("store / log file         %.2f\n",
                static_cast<double>(storeBytes) / static_cast<double>(FileBytes(logPath)));

    auto reader = SyslogStoreReader::Open(storePath);
    if (!reader) {
        std::fprintf(stderr, "%s\n", quellin::OneLineDetail(reader.error()).c_str());
        return 1;
    }
    const std::int64_t middle = kStart + (days / 2) * 86400;
    Query router;
    router.since = middle;
    router.until = middle + 86400;
    router.sources = {0x0A000000u + 1 + routers / 2};
    Time("one router over one day, first page of 200", 3,
         [&] { return reader->Search(router, std::nullopt, 200)->rows.size(); });
    Query text;
    text.since = middle;
    text.until = middle + 7 * 86400;
    text.text = kRareText;
    Time("rare text over a week, first page of 200", 3,
         [&] { return reader->Search(text, std::nullopt, 200)->rows.size(); });
    Time("rare text over a week, count of matches", 3,
         [&] { return static_cast<std::size_t>(reader->Summarize(text)->count); });
    text.text = "PPPoE session up";
    Time("common text over a week, first page of 200", 3,
         [&] { return reader->Search(text, std::nullopt, 200)->rows.size(); });
    text.match = TextMatch::kRegex;
    text.text = "温度が上限を超えました: 2[0-9]{2}";
    Time("regular expression over a week, first page of 200", 3,
         [&] { return reader->Search(text, std::nullopt, 200)->rows.size(); });
    // Thirty days around the middle of the store.
    Query month{.since = middle - 15 * 86400, .until = middle + 15 * 86400};
    Time("chart: counts per hour and level for the month", 3,
         [&] { return reader->CountBy(month, BucketUnit::kHour)->size(); });
    Time("chart: counts per minute and level for the month", 3,
         [&] { return reader->CountBy(month, BucketUnit::kMinute)->size(); });
    month.levels = 0x0F;
    Time("chart: errors and worse per day for the month", 3,
         [&] { return reader->CountBy(month, BucketUnit::kDay)->size(); });
    router.since = month.since;
    router.until = month.until;
    Time("chart: one router per hour for the month", 3,
         [&] { return reader->CountBy(router, BucketUnit::kHour)->size(); });
    return 0;
}
