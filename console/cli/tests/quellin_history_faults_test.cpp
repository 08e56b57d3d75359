// quellin's backup and drift where the history could break or a run hang.
#include "quellin_installation.h"

#include <sys/stat.h>

namespace quellin::testing {
namespace {
namespace fs = std::filesystem;

struct QuellinHistoryFaultsTest : QuellinInstallationTest {
    QuellinHistoryFaultsTest() : QuellinInstallationTest(tarn::testing::OwnPort(16000, 2000)) {}
};

TEST_F(QuellinHistoryFaultsTest, RegisteredFilesThatAreNoConfigurationHoldUpNoDrift) {
    const std::string at = tarn::testing::OwnAddressBlock(139);
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
