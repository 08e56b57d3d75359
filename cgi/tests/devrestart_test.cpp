#include "devrestart.h"

#include "tarnsim_client.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <sstream>

namespace quellin::devrestart {
namespace {

namespace sim = quellin::tarn::testing;
using quellin::testing::WriteFile;

constexpr char kAddress[] = "127.0.86.4";

class DevrestartTest : public quellin::testing::TempDirTest {
protected:
    void StartRouter(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> arguments{"--state",          (dir / "sim").string(),
                                           "--name",           "r1",
                                           "--address",        kAddress,
                                           "--telnet-port",    "0",
                                           "--ftp-port",       "0",
                                           "--reset-delay-ms", "200"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        router.emplace(arguments);
        ASSERT_TRUE(router->ready());
        options.port = static_cast<std::uint16_t>(router->router().telnetPort);
    }

    int Run(const std::vector<std::string>& arguments) {
        std::ostringstream stream;
        int status = RunDevrestart(arguments, dir.path().string(), options, stream);
        errors = stream.str();
        return status;
    }

    std::filesystem::path journal() const { return dir / "sim" / "journal.jsonl"; }

    std::optional<sim::TarnsimProcess> router;
    TelnetOptions options = [] {
        TelnetOptions o;
        o.receiveTimeout = std::chrono::milliseconds(300);
        o.initialSleep = std::chrono::milliseconds(0);
        return o;
    }();
    std::string errors;
};

TEST_F(DevrestartTest, ResetsTheRouterIntoTheUploadedSlot) {
    WriteFile(dir / "NEXORA.INI", "[Config]\r\nLOGINID=operator\r\n");
    StartRouter({"--user", "operator", "--startup", "config2"});
    EXPECT_EQ(Run({kAddress, "branch", "01"}), 0) << errors;
    EXPECT_EQ(errors, "");
    EXPECT_EQ(sim::WaitForJournal(journal(),
                                  {"\"event\":\"login\"", "\"user\":\"operator\"", "\"ok\":true"})
                  .size(),
              1u);
    EXPECT_EQ(
        sim::WaitForJournal(journal(), {"\"event\":\"command\"", "\"text\":\"reset config1\""})
            .size(),
        1u);
    EXPECT_EQ(
        sim::WaitForJournal(journal(), {"\"event\":\"up\"", "\"startup\":\"config1\""}).size(), 1u);
}

TEST_F(DevrestartTest, WithoutSettingsLogsInWithAnEmptyUser) {
    StartRouter();
    EXPECT_EQ(Run({kAddress}), 0) << errors;
    EXPECT_EQ(sim::WaitForJournal(journal(), {"\"event\":\"login\"", "\"user\":\"\""}).size(), 1u);
}

TEST_F(DevrestartTest, RefusedLoginFails) {
    StartRouter({"--password", "secret"});
    EXPECT_EQ(Run({kAddress, "branch01"}), 1);
    EXPECT_NE(errors.find("Devrestart: 127.0.86.4 branch01: "), std::string::npos) << errors;
    EXPECT_TRUE(
        sim::WaitForJournal(journal(), {"\"event\":\"reset\""}, 1, std::chrono::milliseconds(0))
            .empty());
}

TEST_F(DevrestartTest, RouterThatNeverFallsSilentEndsAtTheSettingsDeadline) {
    WriteFile(dir / "NEXORA.INI", "[Config]\r\nTELNETDEADLINE=1\r\n");
    StartRouter({"--fault", "trickle:100"});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run({kAddress, "branch01"}), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(errors.rfind("Devrestart: 127.0.86.4 branch01: ", 0), 0u) << errors;
    EXPECT_NE(errors.find("trickle 1\r\n"), std::string::npos) << errors;
}

TEST_F(DevrestartTest, UnreachableRouterFails) {
    options.port = 1;  // nothing listens there on this address
    EXPECT_EQ(Run({kAddress, "branch01"}), 1);
    EXPECT_FALSE(errors.empty());
}

TEST_F(DevrestartTest, MissingAddressIsAUsageError) {
    EXPECT_EQ(Run({}), 2);
    EXPECT_EQ(Run({""}), 2);
    EXPECT_EQ(errors.rfind("usage: ", 0), 0u);
}

}  // namespace
}  // namespace quellin::devrestart
