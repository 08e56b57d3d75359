// Rotation of the received-message log (LogRotateType, LogRotateSizeMB,
// LogKeepCount) through the receive pipeline, the date on the pipeline's
// clock: path.1 ... path.N, no line lost or split across files.
#include "receive_pipeline.h"

#include "clock.h"
#include "codec.h"
#include "log_file.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

namespace quellin::syslogd {
namespace {

using quellin::testing::ReadFile;
using quellin::testing::TempDirTest;
using quellin::testing::WriteFile;

class LogRotationTest : public TempDirTest {
protected:
    LogRotationTest() {
        settings.logWriteFlag = true;
        settings.logPath = cp932::FromPath(dir / "syslogd.txt");
    }

    ReceivePipeline& Pipeline() {
        if (!pipeline) {
            ReceivePipeline::Options options;
            options.log.checkInterval = std::chrono::milliseconds(0);
            pipeline = std::make_unique<ReceivePipeline>(
                clock, std::make_shared<const SyslogdSettings>(settings), queue, options);
        }
        return *pipeline;
    }

    // `count` numbered messages in batches of 64, as the receiver hands them.
    void Receive(int count, std::size_t size = 200) {
        for (int i = 0; i < count; ++i) {
            std::string body = "seq " + std::to_string(next++) + " ";
            body += std::string(size - body.size(), 'x');
            Pipeline().Handle("<13>Jul  5 00:43:58 " + body, "10.1.2.3");
            if (i % 64 == 63)
                Pipeline().EndBatch();
        }
        Pipeline().EndBatch();
        queue.Take(1000000);
    }

    std::filesystem::path File(int generation) const {
        return generation == 0 ? dir / "syslogd.txt"
                               : dir / ("syslogd.txt." + std::to_string(generation));
    }

    // The sequence numbers in one file; every line must be whole.
    std::vector<int> Numbers(const std::filesystem::path& file) const {
        const std::string bytes = ReadFile(file);
        EXPECT_TRUE(bytes.empty() || bytes.ends_with("\r\n")) << file;
        std::vector<int> numbers;
        for (const std::string& line : SplitLines(bytes)) {
            ListRow row = SplitLogLine(line);
            EXPECT_EQ(row[0], "Jul  5 00:43:58");
            EXPECT_TRUE(row[4].starts_with("seq ")) << line;
            numbers.push_back(std::stoi(row[4].substr(4)));
        }
        return numbers;
    }

    // Every kept file from the oldest generation to the current one: one
    // run of consecutive numbers ending with the last message.
    std::vector<int> AllKept(int generations) const {
        std::vector<int> all;
        for (int g = generations; g >= 0; --g) {
            auto numbers = Numbers(File(g));
            all.insert(all.end(), numbers.begin(), numbers.end());
        }
        return all;
    }

    FakeClock clock{MakeLocalTime(2024, 7, 5, 23, 59, 0)};
    SyslogdSettings settings;
    WindowQueue queue;
    std::unique_ptr<ReceivePipeline> pipeline;
    int next = 0;
};

TEST_F(LogRotationTest, BySizeKeepsTheGenerationsAndEveryLineWhole) {
    settings.logRotateType = kRotateBySize;
    settings.logRotateSizeMB = 1;
    settings.logKeepCount = 3;
    Receive(25000);  // about 5.6 MB of lines

    for (int g = 1; g <= 3; ++g) {
        ASSERT_TRUE(std::filesystem::exists(File(g))) << g;
        const auto size = std::filesystem::file_size(File(g));
        // Rotated once past the size, between batches.
        EXPECT_GE(size, 1u << 20) << g;
        EXPECT_LT(size, (1u << 20) + 64 * 300) << g;
    }
    EXPECT_FALSE(std::filesystem::exists(File(4)));
    const std::vector<int> kept = AllKept(3);
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(kept.back(), next - 1);
    for (std::size_t i = 1; i < kept.size(); ++i)
        ASSERT_EQ(kept[i], kept[i - 1] + 1) << "lost or repeated after " << kept[i - 1];
    EXPECT_GT(kept.size(), 3u * 4600);
}

TEST_F(LogRotationTest, DailyAtMidnightOnTheClock) {
    settings.logRotateType = kRotateDaily;
    settings.logKeepCount = 2;
    Receive(100);
    clock.Advance(59);  // 23:59:59, still the same day
    Receive(100);
    EXPECT_FALSE(std::filesystem::exists(File(1)));

    clock.Advance(2);  // 00:00:01
    Receive(50);
    ASSERT_TRUE(std::filesystem::exists(File(1)));
    EXPECT_EQ(Numbers(File(1)).size(), 200u);
    EXPECT_EQ(Numbers(File(1)).back(), 199);
    EXPECT_EQ(Numbers(File(0)).front(), 200);

    // Two more days: two generations kept, the oldest gone.
    clock.Advance(86400);
    Receive(10);
    clock.Advance(86400);
    Receive(10);
    EXPECT_EQ(Numbers(File(2)).front(), 200);
    EXPECT_EQ(Numbers(File(1)).front(), 250);
    EXPECT_EQ(Numbers(File(0)).front(), 260);
    EXPECT_FALSE(std::filesystem::exists(File(3)));

    // A day without messages rotates nothing until the next one comes.
    clock.Advance(3 * 86400);
    EXPECT_EQ(Numbers(File(0)).size(), 10u);
    Receive(1);
    EXPECT_EQ(Numbers(File(1)).front(), 260);
    EXPECT_EQ(Numbers(File(0)), std::vector<int>{270});
}

// Syslogd stopped over night: the file last written yesterday becomes
// path.1 before today's first line.
TEST_F(LogRotationTest, FileFromYesterdayIsRotatedAtStart) {
    settings.logRotateType = kRotateDaily;
    clock.Set(MakeLocalTime(2024, 7, 6, 9, 0, 0));
    WriteFile(File(0), "yesterday\r\n");
    const timespec yesterday{MakeLocalTime(2024, 7, 5, 18, 0, 0), 0};
    const timespec times[2] = {yesterday, yesterday};
    ASSERT_EQ(::utimensat(AT_FDCWD, File(0).c_str(), times, 0), 0);
    Receive(1);
    EXPECT_EQ(ReadFile(File(1)), "yesterday\r\n");
    EXPECT_EQ(Numbers(File(0)), std::vector<int>{0});

    // Written today: stays the current file.
    pipeline.reset();
    Receive(1);
    EXPECT_EQ(Numbers(File(0)), (std::vector<int>{0, 1}));
    EXPECT_FALSE(std::filesystem::exists(File(2)));
}

TEST_F(LogRotationTest, LoweredKeepCountRemovesOlderGenerations) {
    for (int g = 1; g <= 6; ++g)
        WriteFile(File(g), "old\r\n");
    settings.logRotateType = kRotateBySize;
    settings.logRotateSizeMB = 1;
    settings.logKeepCount = 2;
    Receive(5000);
    EXPECT_TRUE(std::filesystem::exists(File(2)));
    for (int g = 3; g <= 6; ++g)
        EXPECT_FALSE(std::filesystem::exists(File(g))) << g;
}

TEST_F(LogRotationTest, KeepCountZeroKeepsOnlyTheCurrentFile) {
    settings.logRotateType = kRotateBySize;
    settings.logRotateSizeMB = 1;
    settings.logKeepCount = 0;
    Receive(6000);
    EXPECT_FALSE(std::filesystem::exists(File(1)));
    const std::vector<int> current = Numbers(File(0));
    ASSERT_FALSE(current.empty());
    EXPECT_EQ(current.back(), next - 1);
    EXPECT_LT(std::filesystem::file_size(File(0)), 1u << 20);
}

// logrotate renaming the file still works with rotation of our own on.
TEST_F(LogRotationTest, ExternalRenameAlongsideRotation) {
    settings.logRotateType = kRotateBySize;
    settings.logRotateSizeMB = 1;
    Receive(100);
    std::filesystem::rename(File(0), dir / "moved.txt");
    Receive(100);
    EXPECT_EQ(Numbers(dir / "moved.txt").back(), 99);
    EXPECT_EQ(Numbers(File(0)).front(), 100);
    EXPECT_FALSE(std::filesystem::exists(File(1)));
}

TEST_F(LogRotationTest, NoneByDefault) {
    Receive(6000);
    EXPECT_FALSE(std::filesystem::exists(File(1)));
    EXPECT_EQ(Numbers(File(0)).size(), 6000u);
}

}  // namespace
}  // namespace quellin::syslogd
