#include "operation_log.h"

#include "clock.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace quellin {
namespace {

using testing::ReadFile;
using testing::Sjis;

class OperationLogTest : public testing::TempDirTest {
protected:
    void SetUp() override {
        setenv("TZ", "Asia/Tokyo", 1);
        tzset();
        // 2017/04/01 09:30:00 in Tokyo
        clock_.Set(1491006600);
        SetClockForTesting(&clock_);
    }
    void TearDown() override { SetClockForTesting(nullptr); }

    FakeClock clock_;
};

TEST_F(OperationLogTest, FirstLineCreatesFolderAndFile) {
    WriteOperationLog("branch01", dir.folder(), Sjis("即時反映を開始しました。"));
    EXPECT_EQ(ReadFile(dir.path() / "log" / "branch01.log"),
              "2017/04/01 09:30:00,branch01," + Sjis("即時反映を開始しました。") + "\r\n");
}

TEST_F(OperationLogTest, LinesAreAppendedAndCommasKept) {
    WriteOperationLog("r", dir.folder(), "a,b");
    clock_.Advance(61);
    WriteOperationLog("r", dir.folder(), "c");
    EXPECT_EQ(ReadFile(dir.path() / "log" / "r.log"),
              "2017/04/01 09:30:00,r,a,b\r\n2017/04/01 09:31:01,r,c\r\n");
}

TEST_F(OperationLogTest, JapaneseDeviceNameBecomesAUtf8FileName) {
    WriteOperationLog(Sjis("本社"), dir.folder(), "x");
    EXPECT_EQ(ReadFile(dir.path() / "log" / "本社.log"),
              "2017/04/01 09:30:00," + Sjis("本社") + ",x\r\n");
}

TEST_F(OperationLogTest, MissingBaseFolderWritesNothing) {
    WriteOperationLog("r", (dir / "missing").string() + "/", "x");
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST_F(OperationLogTest, ConcurrentWritersProduceOnlyWholeLines) {
    constexpr int kWriters = 6;
    constexpr int kLines = 300;
    const std::string payload(200, 'p');
    for (int w = 0; w < kWriters; ++w) {
        if (fork() == 0) {
            for (int i = 0; i < kLines; ++i)
                WriteOperationLog("shared", dir.folder(), std::to_string(w) + ":" + payload);
            _exit(0);
        }
    }
    for (int w = 0; w < kWriters; ++w)
        wait(nullptr);
    std::istringstream in(ReadFile(dir.path() / "log" / "shared.log"));
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        ++count;
        ASSERT_EQ(line.substr(0, 27), "2017/04/01 09:30:00,shared,");
        ASSERT_EQ(line.size(), 27u + 2u + payload.size() + 1u) << line;
        ASSERT_EQ(line.back(), '\r');
    }
    EXPECT_EQ(count, kWriters * kLines);
}

}  // namespace
}  // namespace quellin
