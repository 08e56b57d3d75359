// quellin as the operator runs it, from its installation folder, against
// simulated routers on loopback: the firmware it gives the legacy models, the
// image it takes among equal versions, what it says about MAXROWS and the
// rows beyond it, and what a killed save left behind.
#include "codec.h"
#include "device_registry.h"
#include "firmware_folder.h"
#include "firmware_image.h"
#include "quellin_installation.h"
#include "tarn_image.h"
#include "tarnsim_client.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace quellin {
namespace {

namespace fs = std::filesystem;
namespace sim = quellin::tarn::testing;
using testing::EndedProcess;
using testing::ReadFile;
using testing::Repeat;
using testing::Sjis;
using testing::WriteFile;

// An address block of this test process's own, so that parallel test runs
// do not meet on loopback.
std::string AddressBlock() {
    return sim::OwnAddressBlock(0);
}

class QuellinProcessTest : public testing::QuellinInstallationTest {
protected:
    // Ports of this test process's own, likewise.
    QuellinProcessTest() : QuellinInstallationTest(sim::OwnPort(20000, 4000)) {}

    void SetUp() override {
        QuellinInstallationTest::SetUp();
        Settings(8);
    }

    // Runs the program in its folder to its end, standard output and
    // standard error apart.
    testing::Ran Quellin(std::vector<std::string> args, bool toRouters = false) {
        return Run(toRouters ? ToRouters(std::move(args), 500) : std::move(args));
    }

    void Image(const std::string& file, const std::string& model, const std::string& version) {
        tarn::ImageOptions image;
        image.model = model;
        image.version = version;
        std::string error;
        ASSERT_TRUE(tarn::WriteImage(dir / "firmware" / file, image, error)) << error;
    }

    fs::path journal() const { return dir / "sim" / "journal.jsonl"; }
    std::vector<std::string> Uploads() const {
        return sim::WaitForJournal(journal(), {"\"event\":\"upload\""}, 1,
                                   std::chrono::milliseconds(0));
    }

    // The messages of a device's operation log (see testing::LogMessages).
    std::vector<std::string> LogMessages(const std::string& name) const {
        return quellin::testing::LogMessages(dir / "log" / (name + ".log"), name);
    }

    CList<CBase> Devices(int rows) const {
        CList<CBase> devices;
        LoadDevices(dir / "base.db", devices, rows);
        return devices;
    }

    static int Count(const std::string& text, const std::string& needle) {
        int n = 0;
        for (auto at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
            ++n;
        return n;
    }
};

// The five legacy models at V20.00, an image of V29.99 for each, the
// conversion table as shipped: nothing is uploaded.  An image of V30.00 is.
TEST_F(QuellinProcessTest, LegacyModelsAreNeverGivenAnImageBelowThirty) {
    const std::vector<std::string> models = {"Tarn-10", "Tarn-20B", "Tarn-60", "Tarn-70",
                                             "Tarn-90"};
    const std::string block = AddressBlock();
    std::string fleet;
    std::vector<std::string> command = {"update-firmware"};
    for (std::size_t i = 0; i < models.size(); ++i) {
        const std::string address = block + std::to_string(11 + i);
        fleet += "router name=r" + std::to_string(i) + " address=" + address +
                 " model=" + models[i] + " version=V20.00\n";
        Image("old-" + std::to_string(i) + ".bin", models[i], "V29.99");
        Register("legacy" + std::to_string(i), address);
        command.push_back("legacy" + std::to_string(i));
    }
    auto routers = StartFleet(fleet);

    auto o = Quellin(command, true);
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    for (std::size_t i = 0; i < models.size(); ++i) {
        const std::string name = "legacy" + std::to_string(i);
        EXPECT_NE(
            o.out.find("] " + name + ": nothing-to-do (新しいソフトウェアファイルはありません。)"),
            std::string::npos)
            << o.out;
        EXPECT_EQ(LogMessages(name),
                  (std::vector<std::string>{Sjis("ソフトウェア更新を開始しました。"),
                                            Sjis("新しいソフトウェアファイルはありません。")}))
            << models[i];
        EXPECT_EQ(Devices(8)[i].lastFirmwareUpdate, 0) << models[i];
    }
    EXPECT_TRUE(Uploads().empty()) << ReadFile(journal());

    // At V30.00 the gate opens.
    Image("new-2.bin", "Tarn-60", "V30.00");
    o = Quellin({"update-firmware", "legacy2"}, true);
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_EQ(o.out, "[1/1] legacy2: done\n複数装置のソフトウェア更新を終了しました。\n");
    const auto uploads = Uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_NE(uploads[0].find("\"slot\":\"firmware\""), std::string::npos) << uploads[0];
    EXPECT_NE(uploads[0].find("\"router\":\"r2\""), std::string::npos) << uploads[0];
    DeviceIdentity pushed;
    ASSERT_EQ(ReadFirmwareIdentity(dir / "sim" / "r2" / "firmware", pushed), 0);
    EXPECT_EQ(FormatVersion(pushed.major, pushed.minor), "V30.00");
    const auto messages = LogMessages("legacy2");
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_EQ(messages[3], Sjis("V20.00版からV30.00版へソフトウェアを更新します。"));
    EXPECT_EQ(messages[4], Sjis("ソフトウェア更新を終了しました。"));
}

// Among images of equal version the first by name is taken, whatever order
// the folder lists them in (Netprov chooses the same).
TEST_F(QuellinProcessTest, EqualVersionsTakeTheFirstImageByName) {
    const auto [first, second] =
        sim::EqualImagesListedOutOfNameOrder(dir / "firmware", "Tarn-90", "V30.02");
    const std::string address = AddressBlock() + "21";
    auto routers =
        StartFleet("router name=r address=" + address + " model=Tarn-90 version=V30.01\n");
    Register("osaka", address);
    auto o = Quellin({"update-firmware", "osaka"}, true);
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    EXPECT_EQ(ReadFile(dir / "sim" / "r" / "firmware"), ReadFile(first));
}

TEST_F(QuellinProcessTest, MaxRowsAboveTheLimitIsCappedAndSaidOnce) {
    Settings(100001);
    auto o = Quellin({"register", "osaka", "--address", "", "--password", "p"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "registered osaka in row 1\n");
    EXPECT_EQ(o.err, "最大装置数(MAXROWS)が上限の100000を超えているため、100000として扱います。\n");
    EXPECT_EQ(Count(ReadFile(dir / "base.db"), "\r\n"), 100000);
    const std::string log = ReadFile(dir / "log" / "Quellin_tool.log");
    EXPECT_EQ(Count(log, ",Quellin_tool," +
                             Sjis("最大装置数(MAXROWS)が上限の100000を超えているため、"
                                  "100000として扱います。") +
                             "\r\n"),
              1)
        << log;
}

// Twenty-four devices registered, MAXROWS lowered to four: the twenty rows
// beyond are not shown but stay registered through every save.
TEST_F(QuellinProcessTest, DevicesBeyondMaxRowsSurviveTheSaves) {
    std::string beyond;
    for (int i = 5; i <= 24; ++i)
        beyond += "branch" + std::to_string(i) + ",10.0.1." + std::to_string(i) + ",p,id" +
                  std::to_string(i) + ",x,,1500000000,0,0,0,0,0\r\n";
    WriteFile(dir / "base.db",
              "branch1,10.0.1.1,p,id1,x,,0,0,0,0,0,0\r\n"
              "branch2,10.0.1.2,p,id2,x,,0,0,0,0,0,0\r\n"
              "branch3,10.0.1.3,p,id3,x,,0,0,0,0,0,0\r\n"
              "branch4,10.0.1.4,p,id4,x,,0,0,0,0,0,0\r\n" +
                  beyond);
    Settings(4);
    const std::string said =
        "最大装置数(MAXROWS)を超える行に登録された装置が20台あります。"
        "これらの装置は表示されませんが、登録は保持されます。\n";

    auto o = Quellin({"unregister", "branch2"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, said);
    // An access ID of a device beyond the rows shown is still taken.
    o = Quellin({"register", "kobe", "--address", "", "--password", "p", "--access-id", "id7"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, said + "quellin: 入力されたアクセスIDはすでに使用されています。\n");
    o = Quellin({"register", "nara", "--address", "", "--password", "p"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "registered nara in row 2\n");
    EXPECT_EQ(o.err, said);

    EXPECT_EQ(ReadFile(dir / "base.db"),
              "branch1,10.0.1.1,p,id1,x,,0,0,0,0,0,0\r\n"
              "nara,,p,,,,0,0,0,0,0,0\r\n"
              "branch3,10.0.1.3,p,id3,x,,0,0,0,0,0,0\r\n"
              "branch4,10.0.1.4,p,id4,x,,0,0,0,0,0,0\r\n" +
                  beyond);
    const std::string log = ReadFile(dir / "log" / "Quellin_tool.log");
    EXPECT_EQ(Count(log, ",Quellin_tool," + Sjis(said.substr(0, said.size() - 1)) + "\r\n"), 3);

    // Raised again, MAXROWS shows all of them.
    Settings(24);
    o = Quellin({"devices"});
    EXPECT_EQ(o.status, 0);
    EXPECT_NE(o.out.find("24\tbranch24\t10.0.1.24\t"), std::string::npos) << o.out;
    EXPECT_EQ(Count(o.out, "\tbranch"), 23);
}

// A quellin killed while it saved base.db left its temporary files: the
// next run on the folder removes them, and leaves alone what a living writer
// still holds.
TEST_F(QuellinProcessTest, RunRemovesWhatAKilledSaveLeft) {
    const std::string ended = std::to_string(EndedProcess());
    const std::string living = std::to_string(::getpid());
    WriteFile(dir / "base.db", Repeat(",,,,,,0,0,0,0,0,0\r\n", 8));
    WriteFile(dir / ("base.db.tmp" + ended), std::string(2 << 20, 'x'));
    WriteFile(dir / ("base.db.tmp" + ended + "-Qw3Er5"), std::string(2 << 20, 'x'));
    WriteFile(dir / ("base.db.tmp" + living + "-Ty6Ui7"), "x");
    Register("osaka", "");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        if (entry.path().filename().string().starts_with("base.db"))
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"base.db", "base.db.tmp" + living + "-Ty6Ui7"}));
    EXPECT_EQ(Devices(8)[0].name, "osaka");
}

}  // namespace
}  // namespace quellin
