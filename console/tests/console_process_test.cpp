// The console program as the operator starts it: from its own folder, with
// no settings and no registry, and a second start while it runs.
#include "codec.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quellin {
namespace {

using testing::ChildProcess;
using testing::EndedProcess;
using testing::ReadFile;
using testing::Sjis;
using testing::WaitUntil;

class ConsoleProcessTest : public testing::TempDirTest {
protected:
    void SetUp() override {
        std::filesystem::copy_file(std::filesystem::path(QUELLIN_BIN_DIR) / "Quellin_tool",
                                   dir / "Quellin_tool");
        std::filesystem::create_directory(dir / "run");
        env_ = {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + (dir / "run").string()};
    }

    std::string Program() const { return (dir / "Quellin_tool").string(); }
    int Lines(const std::string& text, const std::string& needle) const {
        int n = 0;
        for (auto pos = text.find(needle); pos != std::string::npos;
             pos = text.find(needle, pos + 1))
            ++n;
        return n;
    }

    std::vector<std::string> env_;
};

TEST_F(ConsoleProcessTest, FirstStartCreatesRegistryAndLogsAndASecondInstanceEnds) {
    ChildProcess first(Program(), {}, env_);
    ASSERT_TRUE(first.started());
    const std::string started = ",Quellin_tool," + Sjis("ツールを起動しました。") + "\r\n";
    ASSERT_TRUE(WaitUntil(
        [&] { return Lines(ReadFile(dir / "log" / "Quellin_tool.log"), started) == 1; }, 20000));
    ASSERT_TRUE(WaitUntil([&] { return Lines(ReadFile(dir / "base.db"), "\r\n") == 300; }, 5000));
    EXPECT_EQ(Lines(ReadFile(dir / "base.db"), ",,,,,,0,0,0,0,0,0\r\n"), 300);

    ChildProcess second(Program(), {}, env_);
    EXPECT_EQ(second.Wait(20000), std::optional<int>(0));
    EXPECT_TRUE(first.Running());
    EXPECT_EQ(Lines(ReadFile(dir / "log" / "Quellin_tool.log"), started), 1);

    first.Signal(SIGTERM);
    EXPECT_TRUE(first.Wait(20000).has_value());
}

TEST_F(ConsoleProcessTest, LockDiesWithTheProcess) {
    {
        ChildProcess first(Program(), {}, env_);
        ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(dir / "base.db"); }, 20000));
        first.Signal(SIGKILL);
        first.Wait(5000);
    }
    ChildProcess again(Program(), {}, env_);
    const std::string started = Sjis("ツールを起動しました。");
    EXPECT_TRUE(WaitUntil(
        [&] { return Lines(ReadFile(dir / "log" / "Quellin_tool.log"), started) == 2; }, 20000));
    EXPECT_TRUE(again.Running());
}

// A console killed while it saved base.db left its temporary file: the next
// start removes it, and leaves alone what a living writer still holds.
TEST_F(ConsoleProcessTest, StartUpRemovesWhatAKilledSaveLeft) {
    const std::string ended = std::to_string(EndedProcess());
    const std::string living = std::to_string(::getpid());
    testing::WriteFile(dir / "base.db", testing::Repeat(",,,,,,0,0,0,0,0,0\r\n", 300));
    testing::WriteFile(dir / ("base.db.tmp" + ended), std::string(2 << 20, 'x'));
    testing::WriteFile(dir / ("base.db.tmp" + ended + "-Ab3dE9"), std::string(2 << 20, 'x'));
    testing::WriteFile(dir / ("base.db.tmp" + living + "-Zy8xW7"), "x");

    ChildProcess console(Program(), {}, env_);
    ASSERT_TRUE(WaitUntil(
        [&] {
            return !std::filesystem::exists(dir / ("base.db.tmp" + ended)) &&
                   !std::filesystem::exists(dir / ("base.db.tmp" + ended + "-Ab3dE9"));
        },
        20000));
    EXPECT_TRUE(std::filesystem::exists(dir / ("base.db.tmp" + living + "-Zy8xW7")));
    EXPECT_TRUE(console.Running());
    console.Signal(SIGTERM);
    EXPECT_TRUE(console.Wait(20000).has_value());
}

// MAXROWS above the limit: the console takes the limit and says so in its
// log (and a message box) at start-up.
TEST_F(ConsoleProcessTest, MaxRowsAboveTheLimitIsCappedAtStartUp) {
    testing::WriteFile(dir / "NEXORA.INI", "[Config]\r\nMAXROWS=100001\r\n");
    ChildProcess console(Program(), {}, env_);
    const std::string said =
        ",Quellin_tool," +
        Sjis("最大装置数(MAXROWS)が上限の100000を超えているため、100000として扱います。") + "\r\n";
    ASSERT_TRUE(WaitUntil(
        [&] { return Lines(ReadFile(dir / "log" / "Quellin_tool.log"), said) == 1; }, 20000));
    EXPECT_EQ(Lines(ReadFile(dir / "base.db"), "\r\n"), 100000);
    console.Signal(SIGKILL);
    console.Wait(5000);
}

}  // namespace
}  // namespace quellin
