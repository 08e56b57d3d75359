// tarnsim driven from outside, over plain sockets, as the console and the
// provisioning program will meet it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <string>
#include <thread>

#include "codec.h"
#include "socket_support.h"
#include "tarn_image.h"
#include "tarnsim_client.h"
#include "test_support.h"

namespace quellin::tarn::testing {
namespace {

using ::quellin::testing::ReadFile;
using ::quellin::testing::TempDirTest;
using ::quellin::testing::WriteFile;

// The three values the system picks out of "show system information".
struct SystemInfo {
    std::string model;
    std::string version;
    std::string startup;
};

std::string Between(const std::string& text, const std::string& label, std::size_t skip, char end) {
    auto at = text.find(label);
    if (at == std::string::npos)
        return "<missing>";
    at += label.size() + skip;
    auto stop = text.find(end, at);
    if (at > text.size() || stop == std::string::npos)
        return "<unterminated>";
    return text.substr(at, stop - at);
}

SystemInfo ParseSystemInfo(const std::string& text) {
    return {Between(text, "System : ", 0, '\r'), Between(text, "\r\nFirm Ver. : ", 0, ' '),
            Between(text, "Startup-config : ", 25, '\r')};
}

// Every line ends in CR LF: no bare LF and no bare CR.
bool AllLinesCrLf(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            return false;
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))
            return false;
    }
    return true;
}

class TarnsimTest : public TempDirTest {
protected:
    std::vector<std::string> Args(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--state",          dir.path().string(),
                                         "--telnet-port",    "0",
                                         "--ftp-port",       "0",
                                         "--reset-delay-ms", "200"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }
    std::filesystem::path Journal() const { return dir / "journal.jsonl"; }

    // Logs in, runs one command and returns what came back up to the
    // prompt (echo, output and the prompt itself).
    std::string Command(const ReadyRouter& router, const std::string& password,
                        const std::string& command) {
        LineClient client(router.address, router.telnetPort);
        EXPECT_TRUE(TelnetLogin(client, "admin", password));
        client.Send(command + "\r\n");
        auto reply = client.ReadUntil("\r\n# ");
        EXPECT_TRUE(reply.has_value()) << client.buffered();
        client.Send("exit\r\n");
        client.ReadToEnd();
        return reply.value_or("");
    }
};

TEST_F(TarnsimTest, LogsInAndReportsItsSystemInformation) {
    TarnsimProcess sim(
        Args({"--name", "osaka-1", "--address", "127.0.0.2", "--model", "Tarn-60", "--version",
              "V29.05", "--startup", "config2", "--user", "admin", "--password", "secret"}));
    ASSERT_TRUE(sim.ready());
    ASSERT_EQ(sim.routers().size(), 1u);
    EXPECT_EQ(sim.router().name, "osaka-1");
    EXPECT_EQ(sim.router().address, "127.0.0.2");

    LineClient client("127.0.0.2", sim.router().telnetPort);
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(TelnetLogin(client, "admin", "secret"));
    ASSERT_TRUE(client.Send("show system information\r\n"));
    auto reply = client.ReadUntil("\r\n# ");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->rfind("show system information\r\n", 0), 0u) << *reply;
    EXPECT_TRUE(AllLinesCrLf(*reply));
    SystemInfo info = ParseSystemInfo(*reply);
    EXPECT_EQ(info.model, "Tarn-60");
    EXPECT_EQ(info.version, "V29.05");
    EXPECT_EQ(info.startup, "config2");
    std::string stamp = Between(*reply, "Startup-config : ", 0, '\r').substr(0, 24);
    EXPECT_EQ(stamp.size(), 24u);
    EXPECT_EQ(stamp[3], ' ');
    EXPECT_EQ(stamp.substr(19, 1), " ");

    ASSERT_TRUE(client.Send("idinfo -c\r\n"));
    auto idinfo = client.ReadUntil("\r\n# ");
    ASSERT_TRUE(idinfo);
    EXPECT_EQ(*idinfo,
              "idinfo -c\r\nTYPE    : Tarn-60\r\nFIRM    : V29.05\r\nCURRENT : config2\r\n# ");

    ASSERT_TRUE(client.Send("exit\r\n"));
    auto rest = client.ReadToEnd();
    ASSERT_TRUE(rest);
    EXPECT_EQ(*rest, "exit\r\n");

    EXPECT_EQ(
        WaitForJournal(Journal(), {"\"router\":\"osaka-1\"", "\"address\":\"127.0.0.2\"",
                                   "\"event\":\"login\"", "\"user\":\"admin\"", "\"ok\":true"})
            .size(),
        1u);
    EXPECT_EQ(
        WaitForJournal(Journal(), {"\"event\":\"command\"", "show system information"}).size(), 1u);
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(WaitForJournal(Journal(), {"\"event\":\"stop\""}).size(), 1u);
}

TEST_F(TarnsimTest, RefusesWrongCredentials) {
    TarnsimProcess sim(Args({"--address", "127.0.0.2", "--user", "admin", "--password", "secret"}));
    ASSERT_TRUE(sim.ready());
    struct Row {
        const char* name;
        const char* user;
        const char* password;
    };
    const Row rows[] = {{"wrong_password", "admin", "Secret"},
                        {"empty_password", "admin", ""},
                        {"wrong_user", "root", "secret"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LineClient client("127.0.0.2", sim.router().telnetPort);
        ASSERT_TRUE(client.ReadUntil("Login:"));
        client.Send(std::string(row.user) + "\r\n");
        ASSERT_TRUE(client.ReadUntil("Password:"));
        client.Send(std::string(row.password) + "\r\n");
        auto reply = client.ReadUntil("Login:");
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->find("# "), std::string::npos);
    }
    EXPECT_EQ(WaitForJournal(Journal(), {"\"event\":\"login\"", "\"ok\":false"}, 3).size(), 3u);
}

TEST_F(TarnsimTest, AsksForTelnetOptionsAndRecordsTheReplies) {
    TarnsimProcess sim(Args({"--telnet-options", "do-echo,will-echo"}));
    ASSERT_TRUE(sim.ready());
    LineClient client(sim.router().address, sim.router().telnetPort);
    auto greeting = client.ReadUntil("Login:");
    ASSERT_TRUE(greeting);
    EXPECT_EQ(greeting->substr(0, 6), "\xFF\xFD\x01\xFF\xFB\x01");
    client.Send("\xFF\xFC\x01");  // WONT ECHO
    EXPECT_EQ(
        WaitForJournal(Journal(), {"\"event\":\"telnet-option\"", "\"received\":\"WONT ECHO\""})
            .size(),
        1u);
    // The option bytes are not part of the user name.
    client.Send("admin\r\n");
    auto echo = client.ReadUntil("Password:");
    ASSERT_TRUE(echo);
    EXPECT_EQ(*echo, " admin\r\nPassword:");  // the space after "Login:" comes first
}

TEST_F(TarnsimTest, StoresFilesByFtpInBothModes) {
    TarnsimProcess sim(Args({"--password", "secret"}));
    ASSERT_TRUE(sim.ready());
    const ReadyRouter& router = sim.router();
    std::string binary;
    for (int i = 0; i < 3000; ++i)
        binary.push_back(static_cast<char>(i * 7 % 256));
    binary += "line\r\nend\n\r\x1a";

    EXPECT_EQ(
        FtpStore(router.address, router.ftpPort, "ftp-admin", "secret", "config2", binary, true),
        "");
    EXPECT_EQ(ReadFile(dir / router.name / "config2"), binary);
    EXPECT_EQ(FtpStore(router.address, router.ftpPort, "ftp-admin", "secret", "firmware",
                       binary + "active", false),
              "");
    EXPECT_EQ(ReadFile(dir / router.name / "firmware"), binary + "active");

    auto uploads = WaitForJournal(Journal(), {"\"event\":\"upload\"", "\"ok\":true"}, 2);
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_NE(
        uploads[0].find("\"slot\":\"config2\",\"bytes\":3012,\"mode\":\"passive\",\"type\":\"I\""),
        std::string::npos)
        << uploads[0];
    EXPECT_NE(uploads[1].find("\"slot\":\"firmware\",\"bytes\":3018,\"mode\":\"active\""),
              std::string::npos)
        << uploads[1];

    // Only the three slots exist, and only ftp-admin with the password.
    EXPECT_EQ(
        FtpStore(router.address, router.ftpPort, "ftp-admin", "secret", "../escape", "x", true)
            .substr(0, 9),
        "STOR: 553");
    EXPECT_EQ(FtpStore(router.address, router.ftpPort, "ftp-admin", "wrong", "config1", "x", true)
                  .substr(0, 9),
              "PASS wron");
    EXPECT_EQ(FtpStore(router.address, router.ftpPort, "admin", "secret", "config1", "x", true)
                  .substr(0, 10),
              "PASS secre");
    EXPECT_FALSE(std::filesystem::exists(dir / router.name / "config1"));
}

TEST_F(TarnsimTest, AcceptsUploadsFromCurl) {
    if (!std::filesystem::exists("/usr/bin/curl"))
        GTEST_SKIP() << "no curl command";
    TarnsimProcess sim(Args({"--password", "pw"}));
    ASSERT_TRUE(sim.ready());
    const ReadyRouter& router = sim.router();
    std::string config = "interface lan0\nip address 192.0.2.1/24\neof\n";
    WriteFile(dir / "local.conf", config);
    std::string url = "ftp://" + router.address + ":" + std::to_string(router.ftpPort) + "/config1";
    // Passive (EPSV) and active (EPRT) as curl does them.
    EXPECT_EQ(RunProgram("/usr/bin/curl", {"-s", "-S", "--user", "ftp-admin:pw", "-T",
                                           (dir / "local.conf").string(), url})
                  .status,
              0);
    EXPECT_EQ(ReadFile(dir / router.name / "config1"), config);
    EXPECT_EQ(RunProgram("/usr/bin/curl", {"-s", "-S", "-P", "-", "--user", "ftp-admin:pw", "-T",
                                           (dir / "local.conf").string(), url})
                  .status,
              0);
    EXPECT_EQ(
        WaitForJournal(Journal(), {"\"event\":\"upload\"", "\"mode\":\"active\"", "\"ok\":true"})
            .size(),
        1u);
}

TEST_F(TarnsimTest, RestartsWithUploadedFirmware) {
    TarnsimProcess sim(Args({"--model", "Tarn-90", "--version", "V10.02", "--password", "pw",
                             "--firmware-form", "both"}));
    ASSERT_TRUE(sim.ready());
    const ReadyRouter& router = sim.router();
    ImageOptions image;
    image.model = "Tarn-90";
    image.version = "V11.05";
    image.format = ImageFormat::kElf;
    EXPECT_EQ(FtpStore(router.address, router.ftpPort, "ftp-admin", "pw", "firmware",
                       BuildImage(image).bytes, true),
              "");

    {
        LineClient client(router.address, router.telnetPort);
        ASSERT_TRUE(TelnetLogin(client, "admin", "pw"));
        client.Send("configure\r\nsave config1\r\nreset\r\n");
        auto all = client.ReadToEnd();
        ASSERT_TRUE(all);
        EXPECT_NE(all->find("reset\r\n"), std::string::npos);
        EXPECT_EQ(all->substr(all->size() - 2), "\r\n");  // closed without a prompt
    }
    ASSERT_EQ(WaitForJournal(Journal(), {"\"event\":\"up\"", "\"version\":\"V11.05\""}).size(), 1u);
    EXPECT_EQ(WaitForJournal(Journal(), {"\"event\":\"firmware\"", "\"accepted\":true",
                                         "\"model\":\"Tarn-90\""})
                  .size(),
              1u);

    std::string reply = Command(router, "pw", "show system information");
    SystemInfo info = ParseSystemInfo(reply);
    EXPECT_EQ(info.version, "V11.05");
    EXPECT_EQ(info.startup, "config1");
    EXPECT_NE(reply.find("Running-firmware : Firmware2\r\n"), std::string::npos) << reply;
    EXPECT_NE(reply.find("Firmware2 Ver. : V11.05 "), std::string::npos) << reply;
    EXPECT_NE(reply.find("Firmware1 Ver. : V10.02 "), std::string::npos) << reply;
}

TEST_F(TarnsimTest, RestartFromAnotherSlotAndRefusedFirmware) {
    TarnsimProcess sim(Args({"--password", "pw"}));
    ASSERT_TRUE(sim.ready());
    const ReadyRouter& router = sim.router();
    // A file that is no image leaves the software as it was.
    EXPECT_EQ(FtpStore(router.address, router.ftpPort, "ftp-admin", "pw", "firmware",
                       "not an image\n", true),
              "");
    {
        LineClient client(router.address, router.telnetPort);
        ASSERT_TRUE(TelnetLogin(client, "admin", "pw"));
        client.Send("reset config2\r\n");
        ASSERT_TRUE(client.ReadToEnd());
    }
    ASSERT_EQ(WaitForJournal(Journal(), {"\"event\":\"up\"", "\"startup\":\"config2\""}).size(),
              1u);
    EXPECT_EQ(WaitForJournal(Journal(), {"\"event\":\"firmware\"", "\"accepted\":false"}).size(),
              1u);
    EXPECT_EQ(WaitForJournal(Journal(),
                             {"\"event\":\"reset\"", "\"slot\":\"config2\"", "\"planned\":false"})
                  .size(),
              1u);
    SystemInfo info = ParseSystemInfo(Command(router, "pw", "show system information"));
    EXPECT_EQ(info.version, "V10.02");
    EXPECT_EQ(info.startup, "config2");
}

TEST_F(TarnsimTest, RecordsPlannedRestarts) {
    TarnsimProcess sim(Args({"--password", "pw"}));
    ASSERT_TRUE(sim.ready());
    const ReadyRouter& router = sim.router();
    LineClient client(router.address, router.telnetPort);
    ASSERT_TRUE(TelnetLogin(client, "admin", "pw"));
    client.Send("configure\r\naddact 0 1712251030 reset config2\r\ncommit\r\nexit\r\n");
    auto reply = client.ReadUntil("exit\r\n# ");
    ASSERT_TRUE(reply) << client.buffered();
    EXPECT_EQ(*reply,
              "configure\r\n# addact 0 1712251030 reset config2\r\n# commit\r\n# exit\r\n# ");
    client.Send("addact 0 9912312359 reset\r\nenable\r\n");
    ASSERT_TRUE(client.ReadUntil("enable\r\n# "));
    client.Send("exit\r\n");
    ASSERT_TRUE(client.ReadToEnd());
    EXPECT_EQ(WaitForJournal(Journal(), {"\"event\":\"planned-restart\"", "\"at\":\"1712251030\"",
                                         "\"slot\":\"config2\"", "\"past\":true"})
                  .size(),
              1u);
    EXPECT_EQ(WaitForJournal(Journal(), {"\"event\":\"planned-restart\"", "\"at\":\"9912312359\"",
                                         "\"slot\":\"\"", "\"past\":false"})
                  .size(),
              1u);
}

TEST_F(TarnsimTest, PlannedRestartComesAtItsMinute) {
    TarnsimProcess sim(Args({"--password", "pw"}));
    ASSERT_TRUE(sim.ready());
    // A plan for the current minute is due at once; near the end of a
    // minute, wait for the next one so that the minute cannot pass first.
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    if (local.tm_sec >= 55) {
        std::this_thread::sleep_for(std::chrono::seconds(61 - local.tm_sec));
        now = std::time(nullptr);
        ::localtime_r(&now, &local);
    }
    char digits[16];
    std::strftime(digits, sizeof digits, "%y%m%d%H%M", &local);
    std::string reply =
        Command(sim.router(), "pw", std::string("addact 0 ") + digits + " reset config2\r\nenable");
    EXPECT_NE(reply.find("addact 0"), std::string::npos);
    ASSERT_EQ(WaitForJournal(Journal(),
                             {"\"event\":\"reset\"", "\"planned\":true", "\"slot\":\"config2\""})
                  .size(),
              1u);
    ASSERT_EQ(WaitForJournal(Journal(), {"\"event\":\"up\"", "\"startup\":\"config2\""}).size(),
              1u);
}

TEST_F(TarnsimTest, ShowsTheConfigurationTakenUpAtTheLastRestart) {
    const std::vector<std::string> settings = {"--name", "branch", "--password", "pw"};
    std::string builtIn;
    {
        TarnsimProcess sim(Args(settings));
        ASSERT_TRUE(sim.ready());
        const ReadyRouter& router = sim.router();
        builtIn = Command(router, "pw", "show config");
        ASSERT_EQ(builtIn.rfind("show config\r\n", 0), 0u) << builtIn;
        EXPECT_NE(builtIn.find("\r\nhostname branch\r\n"), std::string::npos) << builtIn;
        EXPECT_EQ(builtIn.substr(builtIn.size() - 7), "eof\r\n# ") << builtIn;
        EXPECT_TRUE(AllLinesCrLf(builtIn.substr(0, builtIn.size() - 2)));

        // Stored, but not running before the restart.
        const std::string uploaded = "hostname branch\ninterface lan0\n ip address dhcp\neof\n";
        ASSERT_EQ(
            FtpStore(router.address, router.ftpPort, "ftp-admin", "pw", "config2", uploaded, true),
            "");
        EXPECT_EQ(Command(router, "pw", "show config"), builtIn);

        for (const char* slot : {"config2", "config1"}) {
            LineClient client(router.address, router.telnetPort);
            ASSERT_TRUE(TelnetLogin(client, "admin", "pw"));
            client.Send(std::string("reset ") + slot + "\r\n");
            ASSERT_TRUE(client.ReadToEnd());
            ASSERT_EQ(WaitForJournal(Journal(), {"\"event\":\"up\"",
                                                 std::string("\"startup\":\"") + slot + "\""})
                          .size(),
                      1u);
            if (std::string(slot) == "config2") {
                EXPECT_EQ(Command(router, "pw", "show config"),
                          "show config\r\nhostname branch\r\ninterface lan0\r\n ip address "
                          "dhcp\r\neof\r\n# ");
            } else {
                EXPECT_EQ(Command(router, "pw", "show config"), builtIn);
            }
        }
    }
    // The built-in configuration is the same on every start.
    TarnsimProcess again(Args(settings));
    ASSERT_TRUE(again.ready());
    EXPECT_EQ(Command(again.router(), "pw", "show config"), builtIn);
}

TEST_F(TarnsimTest, TechSupportHasTheConfiguredSize) {
    TarnsimProcess sim(
        Args({"--password", "pw", "--tech-support-bytes", "5000", "--tech-support-pace-ms", "5"}));
    ASSERT_TRUE(sim.ready());
    for (const char* command : {"show tech-support", "tech-support"}) {
        SCOPED_TRACE(command);
        std::string reply = Command(sim.router(), "pw", command);
        std::string echo = std::string(command) + "\r\n";
        ASSERT_EQ(reply.rfind(echo, 0), 0u);
        EXPECT_EQ(reply.size(), echo.size() + 5000 + 2);
        EXPECT_TRUE(AllLinesCrLf(reply.substr(0, reply.size() - 2)));
    }
}

struct FaultRow {
    const char* name;
    const char* fault;
};

TEST_F(TarnsimTest, PlaysTelnetFaults) {
    {
        SCOPED_TRACE("no-banner");
        TarnsimProcess sim(Args({"--fault", "no-banner"}));
        ASSERT_TRUE(sim.ready());
        LineClient client(sim.router().address, sim.router().telnetPort);
        ASSERT_TRUE(client.connected());
        EXPECT_EQ(client.ReadFor(milliseconds(300)), "");
        EXPECT_FALSE(client.closedByPeer());
    }
    {
        SCOPED_TRACE("close-after-command");
        TarnsimProcess sim(Args({"--fault", "close-after-command:system"}));
        ASSERT_TRUE(sim.ready());
        LineClient client(sim.router().address, sim.router().telnetPort);
        ASSERT_TRUE(TelnetLogin(client, "admin", ""));
        client.Send("idinfo -c\r\n");
        ASSERT_TRUE(client.ReadUntil("\r\n# "));
        client.Send("show system information\r\n");
        auto rest = client.ReadToEnd();
        ASSERT_TRUE(rest);
        EXPECT_EQ(*rest, "show system information\r\n");
    }
    {
        SCOPED_TRACE("no-prompt");
        TarnsimProcess sim(Args({"--fault", "no-prompt"}));
        ASSERT_TRUE(sim.ready());
        LineClient client(sim.router().address, sim.router().telnetPort);
        ASSERT_TRUE(TelnetLogin(client, "admin", ""));
        client.Send("idinfo -c\r\n");
        ASSERT_TRUE(client.ReadUntil("CURRENT : config1\r\n"));
        EXPECT_EQ(client.ReadFor(milliseconds(300)), "");
    }
    {
        SCOPED_TRACE("silence");
        TarnsimProcess sim(Args({"--fault", "silence:200"}));
        ASSERT_TRUE(sim.ready());
        std::string reply = Command(sim.router(), "", "idinfo -c");
        EXPECT_EQ(reply,
                  "idinfo -c\r\nTYPE    : Tarn-90\r\nFIRM    : V10.02\r\nCURRENT : config1\r\n# ");
    }
    {
        SCOPED_TRACE("wrong-password");
        TarnsimProcess sim(Args({"--fault", "wrong-password", "--password", "pw"}));
        ASSERT_TRUE(sim.ready());
        LineClient client(sim.router().address, sim.router().telnetPort);
        ASSERT_TRUE(client.ReadUntil("Login:"));
        client.Send("admin\r\n");
        ASSERT_TRUE(client.ReadUntil("Password:"));
        client.Send("pw\r\n");
        ASSERT_TRUE(client.ReadUntil("Login incorrect"));
    }
}

TEST_F(TarnsimTest, PlaysAnswersWithoutEnd) {
    {
        SCOPED_TRACE("flood");
        TarnsimProcess sim(Args({"--fault", "flood", "--fault-command", "tech-support"}));
        ASSERT_TRUE(sim.ready());
        LineClient client(sim.router().address, sim.router().telnetPort);
        ASSERT_TRUE(TelnetLogin(client, "admin", ""));
        // Other commands are answered as usual.
        client.Send("idinfo -c\r\n");
        ASSERT_TRUE(client.ReadUntil("CURRENT : config1\r\n# "));
        client.Send("show tech-support\r\n");
        auto flood = client.ReadUntil("flood 20000: ");
        ASSERT_TRUE(flood);
        EXPECT_EQ(flood->rfind("show tech-support\r\nflood 1: interface lan0", 0), 0u);
        EXPECT_GT(flood->size(), 1000000u);
        EXPECT_EQ(flood->find("# "), std::string::npos);
        EXPECT_TRUE(AllLinesCrLf(flood->substr(0, flood->rfind("\r\n") + 2)));
        EXPECT_EQ(WaitForJournal(Journal(), {"\"fault\":\"flood\""}).size(), 1u);
    }
    {
        SCOPED_TRACE("trickle");
        TarnsimProcess sim(Args({"--fault", "trickle:50"}));
        ASSERT_TRUE(sim.ready());
        LineClient client(sim.router().address, sim.router().telnetPort);
        ASSERT_TRUE(TelnetLogin(client, "admin", ""));
        client.Send("show system information\r\n");
        auto lines = client.ReadUntil("trickle 4\r\n");
        ASSERT_TRUE(lines);
        EXPECT_EQ(*lines,
                  "show system information\r\ntrickle 1\r\ntrickle 2\r\ntrickle 3\r\n"
                  "trickle 4\r\n");
    }
    {
        SCOPED_TRACE("long-line");
        TarnsimProcess sim(Args({"--fault", "long-line:3000000"}));
        ASSERT_TRUE(sim.ready());
        LineClient client(sim.router().address, sim.router().telnetPort);
        ASSERT_TRUE(TelnetLogin(client, "admin", ""));
        client.Send("show system information\r\n");
        ASSERT_TRUE(client.ReadUntil("show system information\r\n"));
        std::string line = client.ReadFor(milliseconds(500));
        while (line.size() < 3000000) {
            std::string more = client.ReadFor(milliseconds(1000));
            if (more.empty())
                break;
            line += more;
        }
        EXPECT_EQ(line, std::string(3000000, 'x'));
        // Then nothing more, not even the prompt.
        EXPECT_EQ(client.ReadFor(milliseconds(300)), "");
    }
}

TEST_F(TarnsimTest, RefusesFtpLoginWhenTold) {
    TarnsimProcess sim(Args({"--fault", "refuse-ftp-login"}));
    ASSERT_TRUE(sim.ready());
    EXPECT_EQ(
        FtpStore(sim.router().address, sim.router().ftpPort, "ftp-admin", "", "config1", "x", false)
            .substr(0, 10),
        "PASS : 530");
    EXPECT_EQ(WaitForJournal(Journal(), {"\"service\":\"ftp\"", "\"ok\":false"}).size(), 1u);
}

TEST_F(TarnsimTest, ServesAFleetFromOneProcess) {
    WriteFile(dir / "fleet.txt",
              "# fifty routers and one more\n"
              "defaults password=pw telnet-port=0 ftp-port=0\n"
              "router name=branch-%d address=127.0.0.10 count=50 model=Tarn-20B\n"
              "router name=hq address=127.0.1.1 model=Tarn-90 version=V30.01\n");
    TarnsimProcess sim(Args({"--fleet", (dir / "fleet.txt").string()}));
    ASSERT_TRUE(sim.ready());
    ASSERT_EQ(sim.routers().size(), 51u);
    EXPECT_EQ(sim.router(0).name, "branch-1");
    EXPECT_EQ(sim.router(0).address, "127.0.0.10");
    EXPECT_EQ(sim.router(49).name, "branch-50");
    EXPECT_EQ(sim.router(49).address, "127.0.0.59");
    for (std::size_t i : {std::size_t{0}, std::size_t{24}, std::size_t{49}}) {
        SystemInfo info = ParseSystemInfo(Command(sim.router(i), "pw", "show system information"));
        EXPECT_EQ(info.model, "Tarn-20B");
    }
    SystemInfo hq = ParseSystemInfo(Command(sim.router(50), "pw", "show system information"));
    EXPECT_EQ(hq.model, "Tarn-90");
    EXPECT_EQ(hq.version, "V30.01");
    EXPECT_EQ(WaitForJournal(Journal(), {"\"event\":\"start\""}, 51).size(), 51u);
}

TEST_F(TarnsimTest, RejectsBadSettings) {
    struct Row {
        const char* name;
        std::vector<std::string> args;
    };
    const Row rows[] = {
        {"not_loopback", {"--address", "192.0.2.1"}},
        {"bad_version", {"--version", "V10.2"}},
        {"bad_slot", {"--startup", "config3"}},
        {"unknown_setting", {"--colour", "blue"}},
        {"missing_value", {"--model"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        RunResult run = RunProgram(BinPath("tarnsim"), Args(row.args));
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.output.substr(0, 9), "tarnsim: ") << run.output;
    }
}

class UdpReceiver {
public:
    int port() const { return port_; }
    // One datagram and its sender's address; empty on time-out.
    std::pair<std::string, std::string> Receive() {
        pollfd p{fd_.get(), POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(kPatience.count())) != 1)
            return {};
        char buffer[2048];
        sockaddr_in from{};
        socklen_t size = sizeof from;
        ssize_t n = ::recvfrom(fd_.get(), buffer, sizeof buffer, 0,
                               reinterpret_cast<sockaddr*>(&from), &size);
        if (n < 0)
            return {};
        char address[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
        return {std::string(buffer, static_cast<std::size_t>(n)), address};
    }

private:
    UniqueFd fd_ = ::quellin::testing::BindOnLoopback(SOCK_DGRAM);
    int port_ = ::quellin::testing::BoundPort(fd_.get());
};

TEST_F(TarnsimTest, SendsSyslogDatagrams) {
    UdpReceiver receiver;
    std::string to = "127.0.0.1:" + std::to_string(receiver.port());
    auto run = RunProgram(BinPath("tarnsim"), {"syslog", "--from", "127.0.0.3", "--to", to, "--pri",
                                               "13", "--stamp", "Jan  2 03:04:05", "link", "down"});
    EXPECT_EQ(run.status, 0);
    auto [datagram, sender] = receiver.Receive();
    EXPECT_EQ(datagram, "<13>Jan  2 03:04:05 link down");
    EXPECT_EQ(sender, "127.0.0.3");

    run = RunProgram(BinPath("tarnsim"),
                     {"syslog", "--from", "127.0.0.3", "--to", to, "--no-stamp", "回線断"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(receiver.Receive().first, "<134>" + cp932::Jp("回線断"));

    EXPECT_EQ(RunProgram(BinPath("tarnsim"), {"syslog", "--to", "192.0.2.1:514", "x"}).status, 1);
}

TEST_F(TarnsimTest, RoutersReportEventsBySyslog) {
    UdpReceiver receiver;
    TarnsimProcess sim(Args({"--name", "kobe", "--address", "127.0.0.4", "--syslog",
                             "127.0.0.1:" + std::to_string(receiver.port())}));
    ASSERT_TRUE(sim.ready());
    LineClient client("127.0.0.4", sim.router().telnetPort);
    ASSERT_TRUE(TelnetLogin(client, "admin", ""));
    auto [datagram, sender] = receiver.Receive();
    EXPECT_EQ(sender, "127.0.0.4");
    ASSERT_GT(datagram.size(), 21u);
    EXPECT_EQ(datagram.substr(0, 5), "<134>");
    EXPECT_EQ(datagram[8], ' ');
    EXPECT_EQ(datagram.substr(20), " kobe: login: user admin from 127.0.0.1");
}

TEST_F(TarnsimTest, ImageToolWritesAndIdentifiesImages) {
    auto path = (dir / "image.bin").string();
    EXPECT_EQ(RunProgram(BinPath("tarnimage"), {"--model", "Tarn-90", "--version", "V10.02",
                                                "--format", "elf", "--ptf", "P1", path})
                  .status,
              0);
    auto identified = RunProgram(BinPath("tarnimage"), {"--identify", path});
    EXPECT_EQ(identified.status, 0);
    EXPECT_EQ(identified.output, path + ": Tarn-90 V10.02 P1 2006/01/26\n");
    EXPECT_EQ(RunProgram(BinPath("tarnimage"), {"--model", "Tarn-90", "--version", "V10.02",
                                                "--elf64", "--format", "elf", path})
                  .status,
              0);
    identified = RunProgram(BinPath("tarnimage"), {"--identify", path});
    EXPECT_EQ(identified.status, 1);
    EXPECT_EQ(identified.output, path + ": not an image (not a 32-bit ELF executable)\n");
    EXPECT_EQ(RunProgram(BinPath("tarnimage"), {"--version", "V10.02", path}).status, 2);
}

}  // namespace
}  // namespace quellin::tarn::testing
