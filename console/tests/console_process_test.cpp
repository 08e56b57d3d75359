// The console program as the operator starts it: from its own folder, with
// no settings and no registry, and a second start while it runs.
#include "codec.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <signal.h>

namespace quellin {
namespace {

using testing::ChildProcess;
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

}  // namespace
}  // namespace quellin
