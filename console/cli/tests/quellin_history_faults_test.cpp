// quellin's backup and drift where the history could break or a run hang.
#include "quellin_installation.h"

#include <sys/stat.h>

namespace quellin::testing {
namespace {
namespace fs = std::filesystem;

struct QuellinHistoryFaultsTest : QuellinInstallationTest {
    QuellinHistoryFaultsTest() : QuellinInstallationTest(tarn::testing::OwnPort(16000, 2000)) {}
};

TEST_F(QuellinHistoryFaultsTest, HistoryOutlivesKillsRacesAndTheAdministratorsGit) {
    const std::string at = tarn::testing::OwnAddressBlock(139);
    auto fleet = StartFleet("router name=r%d count=2 address=" + at + "1\n");
    Register("r1", at + "1");
    const fs::path history = dir / "history", quellin = dir / "quellin";
    const auto backup = ToRouters({"backup", "--all"}, 300);
    fs::create_directories(history / ".git" / "objects");  // as an older quellin killed left it
    EXPECT_EQ(Run(backup, {"/usr/bin/env", "QUELLIN_TEST_KILL_AT=history-made"}).status, 137);
    for (int round = 0; round < 6; ++round) {  // then first backups at once
        if (round > 0)
            fs::remove_all(history);
        ChildProcess a(quellin, backup), b(quellin, backup);
        EXPECT_TRUE(a.Wait(60000) == 0 && b.Wait(60000) == 0);
    }
    // git holds the index's lock while its editor is open; r2's backup leaves it.
    WriteFile(history / "r1.cfg", "edited\n");
    ChildProcess git(
        "/usr/bin/git",
        {"-C", history, "-c", "user.name=a", "-c", "user.email=b", "commit", "-qaem", "x"},
        {"GIT_EDITOR=for i in $(seq 300); do [ -e ../go ] && break; sleep .1; done; true"});
    for (int i = 0; i < 200 && !fs::exists(history / ".git/index.lock"); ++i)
        ::usleep(50000);
    Register("r2", at + "2");
    EXPECT_NE(Run(backup).out.find("が使用中です: " + history.string()), std::string::npos);
    WriteFile(dir / "go", "");
    EXPECT_EQ(git.Wait(30000), 0);
    // Registered files that became no configuration: none is read or holds up drift.
    for (const char* name : {"folder", "fifo", "big"}) {
        WriteFile(dir / name, "");
        Register(name, at + "1", "secret", (dir / name).string());
    }
    fs::remove(dir / "folder");
    fs::create_directory(dir / "folder");
    fs::remove(dir / "fifo");
    ::mkfifo((dir / "fifo").c_str(), 0600);
    fs::resize_file(dir / "big", (8u << 20) + 1);
    EXPECT_TRUE(Run({"drift", "folder", "fifo", "big"})
                    .out.ends_with("0 same, 0 without a configuration file, 3 failed\n"));
}

}  // namespace
}  // namespace quellin::testing
