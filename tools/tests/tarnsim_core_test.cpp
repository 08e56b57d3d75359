// The simulator's parts without sockets: settings and fleet files, the
// router shell's outputs and effects, telnet input, FTP arguments, journal
// and syslog formats.
#include <arpa/inet.h>

#include <string>

#include "clock.h"
#include "codec.h"
#include "ftp_connection.h"
#include "journal.h"
#include "router_config.h"
#include "router_shell.h"
#include "syslog_sender.h"
#include "telnet_connection.h"
#include "test_support.h"

namespace quellin::tarn {
namespace {

struct FleetCase {
    const char* name;
    std::string text;
    std::size_t routers;
    std::string error;
};

TEST(FleetTest, ParsesRoutersDefaultsAndCounts) {
    const FleetCase cases[] = {
        {"empty", "# nothing\n\n", 0, ""},
        {"one", "router name=a address=127.0.0.2\n", 1, ""},
        {"count", "router name=b-%d address=127.0.0.250 count=10\n", 10, ""},
        {"bad_kind", "switch name=a\n", 0, "line 1: expected router or defaults"},
        {"bad_pair", "router name\n", 0, "line 1: expected key=value, got name"},
        {"bad_key", "\nrouter colour=red\n", 0, "line 2: unknown setting colour"},
        {"not_loopback", "router address=10.0.0.1\n", 0,
         "line 1: address 10.0.0.1 is not a loopback address (127.x.x.x)"},
        {"count_zero", "router count=0\n", 0, "line 1: count needs a number from 1 to 4096"},
        {"bad_fault", "router fault=explode\n", 0, "line 1: unknown fault explode"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<RouterConfig> routers;
        std::string error;
        EXPECT_EQ(ParseFleet(c.text, RouterConfig{}, routers, error), c.error.empty());
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(routers.size(), c.routers);
    }
}

TEST(FleetTest, CountsAcrossOctetsAndAppliesDefaults) {
    RouterConfig base;
    base.password = "from-command-line";
    std::vector<RouterConfig> routers;
    std::string error;
    ASSERT_TRUE(
        ParseFleet("defaults model=Tarn-70 fault=no-prompt,silence:50\n"
                   "router name=x address=127.0.0.254 count=3 version=V29.05\n"
                   "defaults model=Tarn-10\n"
                   "router name=last address=127.1.0.1 password=own\n",
                   base, routers, error))
        << error;
    ASSERT_EQ(routers.size(), 4u);
    EXPECT_EQ(routers[0].name, "x-1");
    EXPECT_EQ(routers[2].name, "x-3");
    EXPECT_EQ(routers[1].address, "127.0.0.255");
    EXPECT_EQ(routers[2].address, "127.0.1.0");
    EXPECT_EQ(routers[2].model, "Tarn-70");
    EXPECT_EQ(routers[2].version, "V29.05");
    EXPECT_EQ(routers[2].password, "from-command-line");
    EXPECT_TRUE(routers[2].faults.noPrompt);
    EXPECT_EQ(routers[2].faults.silenceMs, 50);
    EXPECT_EQ(routers[3].model, "Tarn-10");
    EXPECT_EQ(routers[3].password, "own");
}

TEST(FleetTest, EndlessAnswersTakeTheirDefaultsAndCommand) {
    std::vector<RouterConfig> routers;
    std::string error;
    ASSERT_TRUE(
        ParseFleet("router name=a fault=flood fault-command=tech-support\n"
                   "router name=b address=127.0.0.3 fault=trickle,long-line\n"
                   "router name=c address=127.0.0.4 fault=trickle:300,long-line:100\n",
                   RouterConfig{}, routers, error))
        << error;
    ASSERT_EQ(routers.size(), 3u);
    EXPECT_TRUE(routers[0].faults.flood);
    EXPECT_EQ(routers[0].faults.outputCommand, "tech-support");
    EXPECT_EQ(routers[1].faults.trickleMs, 4000);
    EXPECT_EQ(routers[1].faults.longLineBytes, 50u << 20);
    EXPECT_EQ(routers[1].faults.outputCommand, "");
    EXPECT_EQ(routers[2].faults.trickleMs, 300);
    EXPECT_EQ(routers[2].faults.longLineBytes, 100u);
}

TEST(RouterConfigTest, ChecksSettings) {
    struct Row {
        const char* name;
        const char* key;
        const char* value;
        bool applies;
        bool valid;
    };
    const Row rows[] = {
        {"port_max", "telnet-port", "65535", true, true},
        {"port_over", "telnet-port", "65536", false, true},
        {"port_sign", "ftp-port", "-1", false, true},
        {"form", "firmware-form", "running", true, true},
        {"form_bad", "firmware-form", "dual", false, true},
        {"syslog", "syslog", "127.0.0.1:514", true, true},
        {"syslog_far", "syslog", "192.0.2.1:514", true, false},
        {"syslog_no_port", "syslog", "127.0.0.1", false, true},
        {"version_bad", "version", "10.02", true, false},
        {"slot_bad", "startup", "config3", true, false},
        {"name_slash", "name", "a/b", true, false},
        {"name_dots", "name", "..", true, false},
        {"model_30", "model", "012345678901234567890123456789", true, true},
        {"model_31", "model", "0123456789012345678901234567890", true, false},
        {"options", "telnet-options", "will-echo,do-echo", true, true},
        {"options_bad", "telnet-options", "linemode", false, true},
        {"trickle_zero", "fault", "trickle:0", false, true},
        {"long_line_over", "fault", "long-line:1073741825", false, true},
        {"fault_command", "fault-command", "tech-support", true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        RouterConfig config;
        std::string error;
        EXPECT_EQ(ApplyRouterSetting(config, row.key, row.value, error), row.applies) << error;
        if (row.applies) {
            EXPECT_EQ(CheckRouterConfig(config, error), row.valid) << error;
        }
    }
}

class RouterShellTest : public ::testing::Test {
protected:
    RouterShellTest() : state(InitialState(config, kNow)), shell(config, state) {}
    std::string Text(const ShellReply& reply) {
        std::string text;
        for (const auto& piece : reply.output)
            text += piece.bytes;
        return text;
    }
    static constexpr std::int64_t kNow = 1700000000;
    RouterConfig config;
    RouterState state;
    RouterShell shell;
};

TEST_F(RouterShellTest, SystemInformationCarriesTheLabels) {
    state.bootTime = kNow - 90061;
    std::string text = Text(shell.Run("show  system   information", kNow));
    EXPECT_EQ(text,
              "System : Tarn-90\r\n"
              "Name : 127.0.0.2\r\n"
              "Firm Ver. : V10.02 (PTF00 2006/01/26)\r\n"
              "Startup-config : " +
                  StartupStamp(kNow) +
                  " config1\r\n"
                  "Uptime : 1 days 01:01:01\r\n");
}

TEST_F(RouterShellTest, RunningFirmwareForms) {
    config.firmwareForm = FirmwareForm::kRunning;
    state.runningBank = 1;
    std::string text = Text(shell.Run("show system information", kNow));
    EXPECT_EQ(text.find("Firm Ver. : "), std::string::npos);
    EXPECT_NE(text.find("\r\nRunning-firmware : Firmware2\r\n"
                        "Firmware1 Ver. : V10.02 (PTF00 2006/01/26)\r\n"
                        "Firmware2 Ver. : V09.01 (PTF00 2006/01/26)\r\n"),
              std::string::npos)
        << text;
    config.firmwareForm = FirmwareForm::kBoth;
    text = Text(shell.Run("show system information", kNow));
    EXPECT_NE(text.find("\r\nFirm Ver. : V09.01 "), std::string::npos) << text;
}

TEST_F(RouterShellTest, StartupStampIs24Bytes) {
    for (std::int64_t t :
         {std::int64_t{0}, kNow, std::int64_t{1138281284}, std::int64_t{4102444799}}) {
        std::string stamp = StartupStamp(t);
        EXPECT_EQ(stamp.size(), 24u) << stamp;
    }
}

TEST_F(RouterShellTest, CommandsAndTheirEffects) {
    struct Row {
        const char* line;
        ShellReply::Then then;
        const char* output;
        const char* slot;
    };
    const Row rows[] = {
        {"", ShellReply::Then::kPrompt, "", ""},
        {"idinfo -c", ShellReply::Then::kPrompt,
         "TYPE    : Tarn-90\r\nFIRM    : V10.02\r\nCURRENT : config1\r\n", ""},
        {"reset", ShellReply::Then::kReset, "Restarting system ...\r\n", ""},
        {"reset config2", ShellReply::Then::kReset, "Restarting system ...\r\n", "config2"},
        {"reset config3", ShellReply::Then::kPrompt, "% Invalid slot\r\n", ""},
        {"save config1", ShellReply::Then::kPrompt, "Saving configuration to config1 ... done\r\n",
         ""},
        {"addact 0 1713011230 reset", ShellReply::Then::kPrompt, "% Invalid time\r\n", ""},
        {"addact 0 1712251030 restart", ShellReply::Then::kPrompt, "% Invalid addact command\r\n",
         ""},
        {"show running-config", ShellReply::Then::kPrompt, "% Unknown command\r\n", ""},
        {"exit", ShellReply::Then::kClose, "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        ShellReply reply = shell.Run(row.line, kNow);
        EXPECT_EQ(reply.then, row.then);
        EXPECT_EQ(Text(reply), row.output);
        EXPECT_EQ(reply.resetSlot, row.slot);
        EXPECT_FALSE(reply.plan);
    }
}

TEST_F(RouterShellTest, ExitLeavesConfigureFirst) {
    EXPECT_EQ(shell.Run("configure", kNow).then, ShellReply::Then::kPrompt);
    EXPECT_TRUE(shell.configuring());
    ShellReply plan = shell.Run("addact 0 1712251030 reset config2", kNow);
    ASSERT_TRUE(plan.plan);
    EXPECT_EQ(plan.plan->at, "1712251030");
    EXPECT_EQ(plan.plan->slot, "config2");
    EXPECT_EQ(plan.plan->due, MakeLocalTime(2017, 12, 25, 10, 30, 0));
    EXPECT_EQ(shell.Run("commit", kNow).then, ShellReply::Then::kPrompt);
    EXPECT_EQ(shell.Run("exit", kNow).then, ShellReply::Then::kPrompt);
    EXPECT_FALSE(shell.configuring());
    EXPECT_EQ(shell.Run("exit", kNow).then, ShellReply::Then::kClose);
}

TEST_F(RouterShellTest, SaveStampsTheSlot) {
    shell.Run("save config2", kNow + 50);
    EXPECT_EQ(state.slotSaved[1], kNow + 50);
    EXPECT_EQ(state.slotSaved[0], kNow);
}

TEST_F(RouterShellTest, ShowsTheConfigurationItRuns) {
    config.name = "osaka-1";
    config.address = "127.0.3.7";
    const std::string fresh = DefaultConfiguration(config);
    // The default depends on nothing but the router's own settings.
    EXPECT_EQ(DefaultConfiguration(config), fresh);
    EXPECT_NE(fresh.find("hostname osaka-1\n"), std::string::npos) << fresh;
    EXPECT_NE(fresh.find(" ip address 192.168.7.1/24\n"), std::string::npos) << fresh;
    EXPECT_EQ(fresh.substr(fresh.size() - 4), "eof\n");
    EXPECT_EQ(fresh.find('\r'), std::string::npos);

    RouterState started = InitialState(config, kNow);
    EXPECT_EQ(started.runningConfig, fresh);
    EXPECT_EQ(started.slotConfig[0], fresh);
    EXPECT_EQ(started.slotConfig[1], fresh);

    // Shown as CR LF lines, a last line without its line end included.
    state.runningConfig = "hostname a\ninterface lan0\r\n ip address dhcp\n\neof";
    EXPECT_EQ(Text(shell.Run("show   config", kNow)),
              "hostname a\r\ninterface lan0\r\n ip address dhcp\r\n\r\neof\r\n");
    state.runningConfig.clear();
    EXPECT_EQ(Text(shell.Run("show config", kNow)), "");
    EXPECT_EQ(Text(shell.Run("show config all", kNow)), "% Unknown command\r\n");

    // "save" keeps what runs in the slot.
    state.runningConfig = "hostname b\neof\n";
    shell.Run("save config2", kNow);
    EXPECT_EQ(state.slotConfig[1], "hostname b\neof\n");
    EXPECT_EQ(state.slotConfig[0], DefaultConfiguration(RouterConfig{}));
}

TEST_F(RouterShellTest, TechSupportIsCutIntoPacedChunks) {
    config.techSupportBytes = 2500;
    config.techSupportPaceMs = 40;
    ShellReply reply = shell.Run("show tech-support", kNow);
    ASSERT_EQ(reply.output.size(), 3u);
    EXPECT_EQ(reply.output[0].delayMs, 0);
    EXPECT_EQ(reply.output[1].delayMs, 40);
    EXPECT_EQ(reply.output[2].bytes.size(), 452u);
    std::string text = Text(reply);
    EXPECT_EQ(text.size(), 2500u);
    EXPECT_EQ(text.substr(2498), "\r\n");
    config.techSupportBytes = 0;
    EXPECT_TRUE(shell.Run("tech-support", kNow).output.empty());
}

TEST(PlanTimeTest, TenDigitsOfLocalTime) {
    struct Row {
        const char* digits;
        bool valid;
    };
    const Row rows[] = {{"1712251030", true},  {"0001010000", true},   {"9912312359", true},
                        {"171225103", false},  {"17122510300", false}, {"1713251030", false},
                        {"1712322359", false}, {"1712252400", false},  {"1712251060", false},
                        {"17122510a0", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.digits);
        EXPECT_EQ(ParsePlanTime(row.digits).has_value(), row.valid);
    }
}

TEST(InsertSilenceTest, PausesInTheMiddle) {
    auto pieces = InsertSilence({{"abcdef", 0}}, 700);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].bytes, "abc");
    EXPECT_EQ(pieces[1].bytes, "def");
    EXPECT_EQ(pieces[1].delayMs, 700);

    pieces = InsertSilence({{"ab", 0}, {"cd", 5}}, 700);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[1].bytes, "cd");
    EXPECT_EQ(pieces[1].delayMs, 705);

    EXPECT_EQ(InsertSilence({{"a", 0}}, 700).size(), 1u);
    EXPECT_EQ(InsertSilence({}, 700).size(), 0u);
}

TEST(TelnetInputTest, SeparatesLinesAndOptions) {
    TelnetInput input;
    const std::string bytes = std::string("adm") + "\xFF\xFC\x01" + "in\r\n" +  // WONT ECHO inside
                              "a\xFF\xFF" + std::string("b\r\0", 3) +           // IAC IAC, CR NUL
                              "\xFF\xFA\x18\x01\xFF\xF0" +                      // subnegotiation
                              "\xFF\xF1" +                                      // NOP
                              "last\n" + "\xFF\xFD";                            // DO split
    input.Feed(bytes.data(), bytes.size());
    ASSERT_EQ(input.lines().size(), 3u);
    EXPECT_EQ(input.lines()[0], "admin");
    EXPECT_EQ(input.lines()[1],
              "a\xFF"
              "b");
    EXPECT_EQ(input.lines()[2], "last");
    ASSERT_EQ(input.options().size(), 1u);
    EXPECT_EQ(DescribeOption(input.options()[0]), "WONT ECHO");
    input.Feed("\x1f", 1);
    ASSERT_EQ(input.options().size(), 2u);
    EXPECT_EQ(DescribeOption(input.options()[1]), "DO NAWS");
}

TEST(TelnetInputTest, CutsEndlessLines) {
    TelnetInput input;
    std::string flood(3 * TelnetInput::kMaxLine, 'x');
    input.Feed(flood.data(), flood.size());
    input.Feed("\n", 1);
    ASSERT_EQ(input.lines().size(), 1u);
    EXPECT_EQ(input.lines()[0].size(), TelnetInput::kMaxLine);
}

TEST(FtpArgumentTest, PortAndEprt) {
    auto port = ParsePortArgument("127,0,0,1,200,10");
    ASSERT_TRUE(port);
    EXPECT_EQ(FormatIpv4(port->address), "127.0.0.1");
    EXPECT_EQ(port->port, 200 * 256 + 10);
    for (const char* bad : {"127,0,0,1,200", "127,0,0,1,256,1", "127,0,0,1,0,0", "a,b,c,d,e,f",
                            "127,0,0,1,1,1,1", ""})
        EXPECT_FALSE(ParsePortArgument(bad)) << bad;

    auto eprt = ParseEprtArgument("|1|127.0.0.1|51210|");
    ASSERT_TRUE(eprt);
    EXPECT_EQ(eprt->port, 51210);
    for (const char* bad : {"|2|::1|51210|", "|1|127.0.0.1|0|", "|1|127.0.0.1|65536|",
                            "|1|127.0.0.1|80", "|1|host|80|", "|1|127.0.0.1|80|x"})
        EXPECT_FALSE(ParseEprtArgument(bad)) << bad;
}

TEST(JournalTest, EscapesAndConvertsTexts) {
    EXPECT_EQ(JsonString("a\"b\\c\r\n\t\x01"), "\"a\\\"b\\\\c\\r\\n\\t\\u0001\"");
    EXPECT_EQ(JsonString(cp932::Jp("再起動")), "\"再起動\"");
    EXPECT_EQ(JsonString("\x82"), "\"\xEF\xBF\xBD\"");  // a lone lead byte
    EXPECT_EQ(JsonLine().Add("a", 1).Add("b", true).Add("c", "x").Text(),
              "{\"a\":1,\"b\":true,\"c\":\"x\"}");
}

class JournalFileTest : public quellin::testing::TempDirTest {};

TEST_F(JournalFileTest, WritesOneLinePerEvent) {
    Journal journal((dir / "j.jsonl").string());
    ASSERT_TRUE(journal.ok());
    journal.Write("r1", "127.0.0.2", "login", JsonLine().Add("ok", true));
    journal.Write("", "", "stop");
    std::string text = quellin::testing::ReadFile(dir / "j.jsonl");
    auto lf = text.find('\n');
    ASSERT_NE(lf, std::string::npos);
    std::string first = text.substr(0, lf);
    EXPECT_EQ(first.substr(0, 9), "{\"time\":\"");
    EXPECT_NE(
        first.find("\"router\":\"r1\",\"address\":\"127.0.0.2\",\"event\":\"login\",\"ok\":true}"),
        std::string::npos)
        << first;
    std::string second = text.substr(lf + 1);
    EXPECT_NE(second.find("\"event\":\"stop\"}\n"), std::string::npos) << second;
    EXPECT_EQ(second.find("router"), std::string::npos);

    Journal broken((dir / "no" / "folder" / "j").string());
    EXPECT_FALSE(broken.ok());
}

TEST(SyslogFormatTest, PriorityStampAndText) {
    std::string stamp = SyslogStamp(1700000000);
    EXPECT_EQ(stamp.size(), 15u);
    EXPECT_EQ(FormatSyslog(134, "Jan  2 03:04:05", "kobe: up"), "<134>Jan  2 03:04:05 kobe: up");
    EXPECT_EQ(FormatSyslog(0, "", "x"), "<0>x");
    in_addr far{};
    ::inet_pton(AF_INET, "192.0.2.1", &far);
    in_addr near{};
    ::inet_pton(AF_INET, "127.0.0.2", &near);
    std::string error;
    EXPECT_FALSE(SendSyslog(near, Endpoint{far, 514}, "<1>x", error));
    EXPECT_FALSE(SendSyslog(far, Endpoint{near, 514}, "<1>x", error));
}

}  // namespace
}  // namespace quellin::tarn
