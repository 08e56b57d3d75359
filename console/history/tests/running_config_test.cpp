// The running configuration read from a simulated router (tarnsim) over a
// real telnet dialogue: what the router shows, and the failures of a router
// that refuses the login or does not listen.
#include "running_config.h"
#include "config_text.h"
#include "tarnsim_client.h"
#include "test_support.h"

namespace quellin::history {
namespace {

using namespace std::chrono_literals;
using quellin::tarn::testing::FtpStore;
using quellin::tarn::testing::LineClient;
using quellin::tarn::testing::TarnsimProcess;
using quellin::tarn::testing::TelnetLogin;
using quellin::tarn::testing::WaitForJournal;
using quellin::testing::TempDirTest;

class RunningConfigTest : public TempDirTest {
protected:
    std::vector<std::string> Args(std::vector<std::string> extra) {
        std::vector<std::string> args = {"--state",          dir.path().string(),
                                         "--telnet-port",    "0",
                                         "--ftp-port",       "0",
                                         "--name",           "r1",
                                         "--address",        "127.0.19.2",
                                         "--password",       "pw",
                                         "--reset-delay-ms", "100"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    TelnetOptions Options(int port) {
        TelnetOptions options;
        options.port = static_cast<std::uint16_t>(port);
        options.initialSleep = 0ms;
        options.receiveTimeout = 150ms;
        return options;
    }
};

TEST_F(RunningConfigTest, ReadsWhatTheRouterRuns) {
    TarnsimProcess sim(Args({}));
    ASSERT_TRUE(sim.ready());
    const int port = sim.router().telnetPort;
    Result<std::string> first =
        ReadRunningConfiguration("127.0.19.2", "admin", "pw", Options(port));
    ASSERT_TRUE(first) << first.error().detail;
    EXPECT_EQ(first->rfind("! Tarn-90 configuration\nhostname r1\n", 0), 0u) << *first;
    EXPECT_TRUE(first->ends_with("\neof\n"));
    EXPECT_EQ(first->find('\r'), std::string::npos);

    // A configuration taken up at a restart is read back byte for byte.
    const std::string pushed = "hostname r1\ninterface lan0\n ip address 192.168.19.1/24\neof\n";
    ASSERT_EQ(
        FtpStore("127.0.19.2", sim.router().ftpPort, "ftp-admin", "pw", "config2", pushed, true),
        "");
    {
        LineClient client("127.0.19.2", port);
        ASSERT_TRUE(TelnetLogin(client, "admin", "pw"));
        client.Send("reset config2\r\n");
        ASSERT_TRUE(client.ReadToEnd());
    }
    ASSERT_EQ(WaitForJournal(dir / "journal.jsonl", {"\"event\":\"up\""}).size(), 1u);
    Result<std::string> second =
        ReadRunningConfiguration("127.0.19.2", "admin", "pw", Options(port));
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, pushed);
}

TEST_F(RunningConfigTest, FailedDialoguesCarryTheirFailure) {
    TarnsimProcess sim(Args({"--fault", "wrong-password"}));
    ASSERT_TRUE(sim.ready());
    EXPECT_EQ(
        ReadRunningConfiguration("127.0.19.2", "admin", "pw", Options(sim.router().telnetPort))
            .error()
            .code,
        ErrorCode::kLoginRefused);

    sim.Stop();
    EXPECT_EQ(
        ReadRunningConfiguration("127.0.19.2", "admin", "pw", Options(sim.router().telnetPort))
            .error()
            .code,
        ErrorCode::kConnectionRefused);
}

}  // namespace
}  // namespace quellin::history
