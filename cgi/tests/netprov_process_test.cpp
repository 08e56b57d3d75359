// The Netprov program itself, started the way the web server starts it: in
// its cgi-bin folder with the request in its environment, calling back a
// simulated router on the standard ports of its own loopback address.
#include "expected_page.h"
#include "firmware_folder.h"
#include "md5.h"
#include "tarn_image.h"
#include "tarnsim_client.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quellin::netprov {
namespace {

namespace fs = std::filesystem;
namespace sim = quellin::tarn::testing;
using quellin::testing::ChildProcess;
using quellin::testing::ReadFile;
using quellin::testing::WriteFile;
using testing::ExpectedPage;

// Netprov reaches a router only on ports 23 and 21 of the calling address.
constexpr char kRouterAddress[] = "127.0.87.23";

class NetprovProcessTest : public quellin::testing::TempDirTest {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "the router must listen on ports 23 and 21, which needs root";
        install = dir / "Quellin_server";
        cgiBin = install / "httpd" / "cgi-bin";
        fs::create_directories(cgiBin);
        fs::create_directories(install / "firmware");
        fs::copy_file(fs::path(QUELLIN_BIN_DIR) / "Netprov", cgiBin / "Netprov");
        fs::copy_file(fs::path(QUELLIN_SOURCE_DIR) / "dist" / "firmifconvert.db",
                      install / "firmifconvert.db");
        WriteFile(cgiBin / "Devrestart", "#!/bin/sh\nexit 0\n");
        fs::permissions(cgiBin / "Devrestart", fs::perms::owner_all);
        WriteFile(install / "branch01.txt", "hostname branch01\r\n");
        WriteFile(install / "NEXORA.INI",
                  "[Config]\r\nLOGINID=\r\nFIRMDIR=" + (install / "firmware").string() + "\r\n");
        WriteFile(install / "base.db", "branch01,10.9.9.9,pw,id01,secret," +
                                           (install / "branch01.txt").string() +
                                           ",0,0,0,0,0,0\r\n");
    }

    void StartRouter(const std::string& model, const std::string& version) {
        router.emplace(std::vector<std::string>{
            "--state", (dir / "sim").string(), "--name", "r1", "--address", kRouterAddress,
            "--telnet-port", "23", "--ftp-port", "21", "--model", model, "--version", version});
        ASSERT_TRUE(router->ready());
    }

    // One request from the router; the exit status, the page in `page`.
    int Request() {
        ChildProcess netprov(
            (cgiBin / "Netprov").string(), {},
            {"REQUEST_METHOD=GET", "QUERY_STRING=accessid=id01&accesspass=" + Md5Hex("secret"),
             "REMOTE_ADDR=" + std::string(kRouterAddress)},
            cgiBin.string(), (dir / "page.html").string());
        const int status = netprov.Wait(120000).value_or(-1);
        page = ReadFile(dir / "page.html");
        return status;
    }

    std::vector<std::string> Uploads() const {
        return sim::WaitForJournal(dir / "sim" / "journal.jsonl", {"\"event\":\"upload\""}, 1,
                                   std::chrono::milliseconds(0));
    }

    fs::path install;
    fs::path cgiBin;
    std::optional<sim::TarnsimProcess> router;
    std::string page;
};

const char kNoNewSoftware[] = "新しいソフトウェアファイルはありません。";
const char kUpdatingConfig[] = "構成定義を更新します。しばらくお待ちください ･･･";
const char kConfigUpdated[] = "構成定義を更新しました。";
const char kFinished[] = "設定が正常に終了しました。";

// A legacy model at V20.00 with an image of V29.99 and the conversion table
// as shipped: only the configuration goes up.
TEST_F(NetprovProcessTest, LegacyModelIsNotGivenAnImageBelowThirty) {
    tarn::ImageOptions image;
    image.model = "Tarn-60";
    image.version = "V29.99";
    std::string error;
    ASSERT_TRUE(tarn::WriteImage(install / "firmware" / "old.bin", image, error)) << error;
    StartRouter("Tarn-60", "V20.00");
    EXPECT_EQ(Request(), 0) << page;
    EXPECT_EQ(page, ExpectedPage({kNoNewSoftware, kUpdatingConfig, kConfigUpdated, kFinished}));
    const auto uploads = Uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_NE(uploads[0].find("\"slot\":\"config1\""), std::string::npos) << uploads[0];
}

// Among images of equal version the first by name goes up, whatever order
// the folder lists them in, as the console chooses.
TEST_F(NetprovProcessTest, EqualVersionsPushTheFirstImageByName) {
    const auto [first, second] =
        sim::EqualImagesListedOutOfNameOrder(install / "firmware", "Tarn-90", "V30.02");
    StartRouter("Tarn-90", "V30.01");
    EXPECT_EQ(Request(), 0) << page;
    EXPECT_EQ(ReadFile(dir / "sim" / "r1" / "firmware"), ReadFile(first));
}

}  // namespace
}  // namespace quellin::netprov
