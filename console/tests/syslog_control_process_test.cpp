// The console's control of the real Syslogd program: started from the
// installation's syslog folder, found among the processes, and asked to quit;
// a program of the same name elsewhere is neither taken for it nor stopped.
#include "syslog_control.h"

#include "installation_layout.h"
#include "process.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace quellin::console {
namespace {

using testing::ChildProcess;
using testing::ReadFile;
using testing::Sjis;
using testing::WaitUntil;

class SyslogControlProcessTest : public testing::TempDirTest {
protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "Syslogd binds UDP port 514, which needs root";
        std::filesystem::create_directories(dir / "syslog");
        std::filesystem::create_directories(dir / "run");
        std::filesystem::copy_file(std::filesystem::path(QUELLIN_BIN_DIR) / "Syslogd",
                                   dir / "syslog" / "Syslogd");
        // Syslogd inherits the console's environment.
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
    }

    FakeMessageBoxes boxes_;
    Reporter reporter_{dir.folder(), boxes_};
    SystemProcessControl processes_;
};

TEST_F(SyslogControlProcessTest, StartsAndStopsTheRealProgramAndNoOtherOfItsName) {
    // Somebody's own program that happens to be called Syslogd.
    std::filesystem::create_directories(dir / "elsewhere");
    std::filesystem::copy_file("/bin/sleep", dir / "elsewhere" / "Syslogd");
    ChildProcess decoy((dir / "elsewhere" / "Syslogd").string(), {"60"});
    ASSERT_TRUE(WaitUntil([&] { return FindProcessOf(dir / "elsewhere" / "Syslogd") != 0; }, 5000));

    const std::string program = InstallationLayout(dir.folder()).syslogProgram();
    SyslogControl control(program, reporter_, processes_);
    control.RefreshSyslogStatus();
    EXPECT_FALSE(control.running()) << "another program of the name is not the syslog server";
    control.StartSyslogServer();
    ASSERT_TRUE(control.running());
    ASSERT_TRUE(WaitUntil([&] { return FindProcessOf(program) != 0; }, 10000));
    // Give it the time to bind and show its window before it is asked to quit.
    ASSERT_TRUE(WaitUntil(
        [] {
            return ::access("/proc/net/udp", R_OK) == 0 &&
                   ReadFile("/proc/net/udp").find(":0202 ") != std::string::npos;
        },
        10000));
    EXPECT_TRUE(control.StopSyslogServer());
    EXPECT_FALSE(control.running());
    EXPECT_EQ(FindProcessOf(program), 0);
    EXPECT_TRUE(decoy.Running());
    const std::string log = ReadFile(dir / "log" / "Quellin_tool.log");
    EXPECT_NE(log.find(Sjis("システムログサーバを起動しました。")), std::string::npos);
    EXPECT_NE(log.find(Sjis("システムログサーバを停止しました。")), std::string::npos);
    EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(SyslogControlProcessTest, MissingProgramIsReported) {
    std::filesystem::remove(dir / "syslog" / "Syslogd");
    SyslogControl control(InstallationLayout(dir.folder()).syslogProgram(), reporter_, processes_);
    control.StartSyslogServer();
    EXPECT_FALSE(control.running());
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_EQ(boxes_.shown[0].text, Sjis("システムログサーバの起動に失敗しました。"));
}

}  // namespace
}  // namespace quellin::console
