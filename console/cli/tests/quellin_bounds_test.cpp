// The quellin program, started as an operator starts it and watched from
// outside: against simulated routers whose answer to a command never ends
// (lines without end, a line every 300 ms so that the silence that ends an
// answer never comes, 50 MB without a line end), each operation must end
// within its bounds, say why in a few lines, log its failure and keep its
// memory small; files that claim impossible sizes are examined at once.
#include "codec.h"
#include "tarnsim_client.h"
#include "test_support.h"

#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace quellin::cli {
namespace {

using quellin::testing::PrintTo;
using quellin::testing::ReadFile;
using quellin::testing::RowName;
using quellin::testing::Sjis;
using quellin::testing::WriteFile;
using std::chrono::milliseconds;
using tarn::testing::BinPath;
using tarn::testing::MeasuredRun;
using tarn::testing::RunMeasured;
using tarn::testing::RunProgram;
using tarn::testing::TarnsimProcess;

// A router that floods must not make the program hold gigabytes: the output
// limit is 64 MiB.
constexpr long kMemoryBoundKiB = 200 * 1024;
// Generous beside the bounds below (two seconds of deadline, 64 MiB over
// loopback); a program that never ends is killed at kPatience.
constexpr milliseconds kEndsWithin{60000};
constexpr milliseconds kPatience{180000};
// The end of the received text, the names of phase and event, the program's
// prefix: a failure text stays far below this.
constexpr std::size_t kShortText = 6000;

// An address of this test process's own, so that parallel runs do not meet.
std::string Address() {
    const int pid = static_cast<int>(::getpid());
    return "127." + std::to_string(40 + pid % 200) + "." + std::to_string(pid / 200 % 250) + ".77";
}

enum class Command { kIdentify, kCollectLog, kApplyConfig };

struct Row {
    const char* name;
    const char* fault;
    Command command;
    const char* event;    // identify: the event in the failure text
    const char* detail;   // identify: how the end of the received text begins
    const char* message;  // the operation's log line
};

// Line ends as quellin shows them on its one line.
std::string Escaped(std::string text) {
    for (std::size_t at = 0; (at = text.find_first_of("\r\n", at)) != std::string::npos; at += 2)
        text.replace(at, 1, text[at] == '\r' ? "\\r" : "\\n");
    return text;
}

class EndlessAnswer : public quellin::testing::TempDirTest,
                      public ::testing::WithParamInterface<Row> {
protected:
    void SetUp() override {
        home = dir.folder();
        std::filesystem::create_directory(dir / "log");
        std::filesystem::create_directory(dir / "firmware");
        // A flood must fill the output limit before the deadline ends the
        // dialogue, also in a sanitizer build; the trickles end at it.
        const bool flood = std::string(GetParam().fault) == "flood";
        WriteFile(dir / "NEXORA.INI", "[Config]\r\nFIRMDIR=" + home + "firmware\r\nLOGDIR=" + home +
                                          "log\r\nTELNETDEADLINE=" + (flood ? "30" : "2") + "\r\n");
        WriteFile(dir / "a.cfg", "hostname a\r\n");
    }

    // The router answers the command that the row names without end; the
    // identification before it is answered as usual.
    std::unique_ptr<TarnsimProcess> StartRouter(const Row& row) {
        const char* command = row.command == Command::kCollectLog    ? "tech-support"
                              : row.command == Command::kApplyConfig ? "reset"
                                                                     : "";
        auto sim = std::make_unique<TarnsimProcess>(
            std::vector<std::string>{"--state", (dir / "sim").string(), "--address", Address(),
                                     "--telnet-port", "0", "--ftp-port", "0", "--password",
                                     "secret", "--fault", row.fault, "--fault-command", command});
        return sim;
    }

    MeasuredRun Quellin(std::vector<std::string> args, const tarn::testing::ReadyRouter& router) {
        args.insert(args.end(), {"--home", home, "--telnet-port", std::to_string(router.telnetPort),
                                 "--ftp-port", std::to_string(router.ftpPort), "--initial-sleep-ms",
                                 "0", "--receive-timeout-ms", "500", "--restart-wait-ms", "0"});
        // Freed memory that a sanitizer keeps aside would count as held.
        return RunMeasured(BinPath("quellin"), args, kPatience,
                           {"ASAN_OPTIONS=quarantine_size_mb=16"});
    }

    // The messages of a device's operation log (see testing::LogMessages).
    std::vector<std::string> LogMessages(const std::string& name) {
        return quellin::testing::LogMessages(dir / "log" / (name + ".log"), name);
    }

    std::string home;
};

TEST_P(EndlessAnswer, OperationEndsWithinItsBoundsAndSaysWhyBriefly) {
    const Row& row = GetParam();
    auto sim = StartRouter(row);
    ASSERT_TRUE(sim->ready());
    const auto& router = sim->router();

    MeasuredRun run;
    if (row.command == Command::kIdentify) {
        run = Quellin({"identify", router.address, "--password", "secret"}, router);
    } else {
        auto registered = RunProgram(
            BinPath("quellin"), {"register", "osaka", "--address", router.address, "--password",
                                 "secret", "--config", (dir / "a.cfg").string(), "--home", home});
        ASSERT_EQ(registered.status, 0) << registered.output;
        run =
            Quellin({row.command == Command::kCollectLog ? "collect-log" : "apply-config", "osaka"},
                    router);
    }

    EXPECT_FALSE(run.killed) << "still running after " << kPatience.count() << " ms";
    EXPECT_EQ(run.status, 1) << run.output << run.errors;
    EXPECT_LT(run.elapsed, kEndsWithin);
    EXPECT_GT(run.peakKiB, 0);
    EXPECT_LT(run.peakKiB, kMemoryBoundKiB);
    EXPECT_LT(run.errors.size(), kShortText);
    EXPECT_LT(run.output.size(), kShortText);

    if (row.command == Command::kIdentify) {
        EXPECT_EQ(run.output, "");
        const std::string failure =
            std::string("quellin: コマンド実行:") + row.event + ":" + Escaped(row.detail);
        EXPECT_EQ(run.errors.substr(0, failure.size()), failure) << run.errors.substr(0, 200);
        EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1)
            << "one line: " << run.errors;
        return;
    }
    const bool collecting = row.command == Command::kCollectLog;
    // The message, then on the same line why: the dialogue's phase and event.
    const std::string said = std::string("[1/1] osaka: failed (") + row.message + "): ";
    EXPECT_EQ(run.output.substr(0, said.size()), said) << run.output;
    EXPECT_NE(run.output.find("コマンド実行:"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.substr(run.output.find('\n')), "\n処理に失敗した装置があります。\n")
        << run.output;
    EXPECT_EQ(LogMessages("osaka"),
              (std::vector<std::string>{
                  Sjis(collecting ? "ログ採取を開始しました。" : "即時反映を開始しました。"),
                  Sjis(row.message)}));
    // Nothing collected was written.
    for (const auto& entry : std::filesystem::directory_iterator(dir / "log"))
        EXPECT_FALSE(entry.path().filename().string().starts_with("osaka-")) << entry.path();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, EndlessAnswer,
    ::testing::Values(
        // 64 MiB of lines: the last 4 KiB of them.
        Row{"IdentifyFlood", "flood", Command::kIdentify, "受信メッセージサイズオーバー", "", ""},
        // Seven lines in two seconds: all of them.
        Row{"IdentifyTrickle", "trickle:300", Command::kIdentify, "受信タイムアウト",
            "show system information\r\ntrickle 1\r\n", ""},
        // The line that never ends is not part of the output.
        Row{"IdentifyLongLine", "long-line", Command::kIdentify, "受信メッセージサイズオーバー",
            "show system information\r\n", ""},
        Row{"CollectLogFlood", "flood", Command::kCollectLog, "", "", "ログ採取に失敗しました。"},
        Row{"CollectLogTrickle", "trickle:300", Command::kCollectLog, "", "",
            "ログ採取に失敗しました。"},
        Row{"CollectLogLongLine", "long-line", Command::kCollectLog, "", "",
            "ログ採取に失敗しました。"},
        Row{"ApplyConfigFlood", "flood", Command::kApplyConfig, "", "", "再起動に失敗しました。"},
        Row{"ApplyConfigTrickle", "trickle:300", Command::kApplyConfig, "", "",
            "再起動に失敗しました。"},
        Row{"ApplyConfigLongLine", "long-line", Command::kApplyConfig, "", "",
            "再起動に失敗しました。"}),
    RowName());

// Many routers that flood at once: each identification stops at its own
// small limit, so an inventory of 32 at once stays far below 32 dialogues'
// full limit, and says the limit in each reason.
TEST(FloodingFleetTest, InventoryOfThirtyTwoAtOnceStaysSmall) {
    quellin::testing::TempDir dir;
    const std::string block = tarn::testing::OwnAddressBlock(211);
    const int port = tarn::testing::OwnPort(12000, 2000);
    auto fleet = tarn::testing::StartFleet(
        dir.path(), "defaults password=secret telnet-port=" + std::to_string(port) +
                        " ftp-port=" + std::to_string(port + 1) + " fault=flood\n" +
                        "router name=r%d address=" + block + "1 count=32\n");
    ASSERT_TRUE(fleet->ready());
    std::string registry;
    for (int i = 1; i <= 32; ++i)
        registry += "r" + std::to_string(i) + "," + block + std::to_string(i) +
                    ",secret,,,,0,0,0,0,0,0\r\n";
    WriteFile(dir / "base.db", registry);
    WriteFile(dir / "NEXORA.INI", "[Config]\r\nMAXROWS=32\r\n");
    MeasuredRun run = RunMeasured(
        BinPath("quellin"),
        {"inventory", "--json", "--jobs", "32", "--home", dir.folder(), "--telnet-port",
         std::to_string(port), "--initial-sleep-ms", "0", "--receive-timeout-ms", "2000"},
        kPatience, {"ASAN_OPTIONS=quarantine_size_mb=16"});
    EXPECT_EQ(run.status, 1) << run.errors;
    EXPECT_LT(run.peakKiB, 300 * 1024);
    std::istringstream lines(run.output);
    int cut = 0;
    for (std::string line; std::getline(lines, line);)
        cut += line.find("256 KiB") != std::string::npos;
    EXPECT_EQ(cut, 32) << run.output.substr(0, 2000);
}

TEST(FirmwareInfoTest, SaysWhyAFileIsNoImageAndTakesNoTimeOverClaims) {
    quellin::testing::TempDir dir;
    // A first line and half a directory header.
    WriteFile(dir / "short.img", "TARN FIRMWARE IMAGE\n" + std::string(8, '\0'));
    // A directory of four billion entries, 1 GiB of holes on disk.
    WriteFile(dir / "claims.img",
              "TARN FIRMWARE IMAGE\n" + std::string(12, '\0') + "\xff\xff\xff\xff");
    std::filesystem::resize_file(dir / "claims.img", 1u << 30);

    const std::string shortImage = (dir / "short.img").string();
    const std::string claims = (dir / "claims.img").string();
    MeasuredRun run =
        RunMeasured(BinPath("quellin"), {"firmware-info", shortImage, claims}, kPatience);
    EXPECT_FALSE(run.killed);
    EXPECT_EQ(run.status, 1);
    EXPECT_LT(run.elapsed, milliseconds(10000));
    EXPECT_EQ(run.output, shortImage + ": not a firmware image (file ends early)\n" + claims +
                              ": not a firmware image (directory too long)\n");
    EXPECT_EQ(run.errors, "read: file ends early\n");
}

}  // namespace
}  // namespace quellin::cli
