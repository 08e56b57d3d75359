#include "log_writer.h"

#include "codec.h"
#include "test_support.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

namespace quellin::syslogd {
namespace {

using quellin::testing::ReadFile;
using quellin::testing::TempDirTest;
using namespace std::chrono_literals;

class LogWriterTest : public TempDirTest {
protected:
    LogWriter& Writer(std::chrono::milliseconds checkInterval = 0ms) {
        if (!writer) {
            logOptions.checkInterval = checkInterval;
            writer = std::make_unique<LogWriter>(
                [this](const LogWriteStatus& status) { statuses.push_back(status); }, logOptions);
            writer->SetPath(cp932::FromPath(path));
        }
        return *writer;
    }
    void Line(const std::string& text) {
        Writer().buffer() += text;
        Writer().LineAppended();
    }

    std::filesystem::path path = dir / "syslogd.txt";
    LogWriter::Options logOptions;
    std::vector<LogWriteStatus> statuses;
    std::unique_ptr<LogWriter> writer;
};

TEST_F(LogWriterTest, LinesReachTheFileAtEachFlushThroughOneOpenFile) {
    Line("a");
    Line("b");
    EXPECT_FALSE(std::filesystem::exists(path));
    Writer().Flush();
    EXPECT_EQ(ReadFile(path), "a\r\nb\r\n");
    struct stat first {};
    ASSERT_EQ(::stat(path.c_str(), &first), 0);
    Line("c");
    Writer().Flush();
    EXPECT_EQ(ReadFile(path), "a\r\nb\r\nc\r\n");
    EXPECT_TRUE(statuses.empty());
}

TEST_F(LogWriterTest, AppendsToAnExistingFile) {
    quellin::testing::WriteFile(path, "old\r\n");
    Line("new");
    Writer().Flush();
    EXPECT_EQ(ReadFile(path), "old\r\nnew\r\n");
}

TEST_F(LogWriterTest, RenamedOrRemovedFileIsReopenedAtThePath) {
    Line("1");
    Writer().Flush();
    std::filesystem::rename(path, dir / "syslogd.txt.1");
    Line("2");
    Writer().Flush();
    EXPECT_EQ(ReadFile(dir / "syslogd.txt.1"), "1\r\n");
    EXPECT_EQ(ReadFile(path), "2\r\n");

    std::filesystem::remove(path);
    Line("3");
    Writer().Flush();
    EXPECT_EQ(ReadFile(path), "3\r\n");
}

TEST_F(LogWriterTest, RenameIsNoticedWithinTheCheckInterval) {
    Writer(100ms);
    Line("1");
    Writer().Flush();
    std::filesystem::rename(path, dir / "syslogd.txt.1");
    // Until the next check the lines follow the open file: none is lost.
    Line("2");
    Writer().Flush();
    std::this_thread::sleep_for(150ms);
    Line("3");
    Writer().Flush();
    EXPECT_EQ(ReadFile(dir / "syslogd.txt.1"), "1\r\n2\r\n");
    EXPECT_EQ(ReadFile(path), "3\r\n");
}

TEST_F(LogWriterTest, NewPathGetsTheLinesFromThenOn) {
    Line("first");
    Writer().SetPath(cp932::FromPath(dir / "other.txt"));
    Line("second");
    Writer().Flush();
    EXPECT_EQ(ReadFile(path), "first\r\n");
    EXPECT_EQ(ReadFile(dir / "other.txt"), "second\r\n");
}

TEST_F(LogWriterTest, FullBufferIsWrittenBeforeTheBatchEnds) {
    LogWriter::Options options;
    options.bufferLimit = 10;
    LogWriter small({}, options);
    small.SetPath(cp932::FromPath(path));
    small.buffer() += "0123456789";
    small.LineAppended();
    EXPECT_EQ(ReadFile(path), "0123456789\r\n");
}

TEST_F(LogWriterTest, FailureIsReportedOnceAndAgainAfterASuccess) {
    path = dir / "missing" / "syslogd.txt";
    Line("lost");
    Writer().Flush();
    Line("lost too");
    Writer().Flush();
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_TRUE(statuses[0].failing);
    EXPECT_EQ(statuses[0].path, cp932::FromPath(path));
    EXPECT_EQ(statuses[0].reason, cp932::Jp("フォルダまたはファイルがありません"));
    EXPECT_TRUE(Writer().failing());

    std::filesystem::create_directory(dir / "missing");
    Line("written");
    Writer().Flush();
    ASSERT_EQ(statuses.size(), 2u);
    EXPECT_FALSE(statuses[1].failing);
    EXPECT_EQ(ReadFile(path), "written\r\n");

    std::filesystem::remove_all(dir / "missing");
    Line("lost again");
    Writer().Flush();
    ASSERT_EQ(statuses.size(), 3u);
    EXPECT_TRUE(statuses[2].failing);
}

// A disk full in the middle of a line: that line's head goes out of the file
// again, the lost lines are counted, and with room again a new line starts.
TEST_F(LogWriterTest, FullDiskWritesLinesWholeOrNotAtAll) {
    std::size_t room = 20;  // full in the second line
    logOptions.write = [&room](int fd, const void* data, std::size_t size) {
        const ssize_t n =
            room == 0 ? (errno = ENOSPC, -1) : ::write(fd, data, std::min(size, room));
        room -= n > 0 ? static_cast<std::size_t>(n) : 0;
        return n;
    };
    Line("0123456789");
    Line("Dec 08 21:16:25,127.0.0.1");
    Line("third");
    Writer().Flush();
    room = 1000;
    Line("Dec 08 21:16:40,after");
    Writer().Flush();
    EXPECT_EQ(ReadFile(path), "0123456789\r\nDec 08 21:16:40,after\r\n");
    ASSERT_EQ(statuses.size(), 2u);
    EXPECT_EQ(statuses[0].reason, cp932::Jp("ディスクの空きがありません"));
    EXPECT_FALSE(statuses[1].failing);
    EXPECT_EQ(statuses[1].lostLines, 2u);
}

TEST_F(LogWriterTest, ClosingWritesWhatIsLeft) {
    Line("last");
    writer.reset();
    EXPECT_EQ(ReadFile(path), "last\r\n");
}

}  // namespace
}  // namespace quellin::syslogd
