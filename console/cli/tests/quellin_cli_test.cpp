#include "quellin_cli.h"
#include "clock.h"
#include "codec.h"
#include "device_registry.h"
#include "folder_lock.h"
#include "ftp_session.h"
#include "maintenance_runner.h"
#include "operation_log.h"
#include "tarnsim_client.h"
#include "test_support.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <set>
#include <sstream>
#include <thread>

namespace quellin::cli {
namespace {

using quellin::testing::ReadFile;
using quellin::testing::Sjis;
using quellin::testing::WriteFile;
using tarn::testing::RunProgram;
using tarn::testing::TarnsimProcess;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Ports and an address block of this test process's own, so that parallel
// test runs do not meet on loopback.
int BasePort() {
    return 30000 + static_cast<int>(::getpid() % 15000) * 2;
}
std::string AddressBlock() {
    const int pid = static_cast<int>(::getpid());
    return "127." + std::to_string(40 + pid % 200) + "." + std::to_string(pid / 200 % 250) + ".";
}

std::vector<std::string> RouterOptions() {
    return {"--telnet-port",        std::to_string(BasePort()),
            "--ftp-port",           std::to_string(BasePort() + 1),
            "--initial-sleep-ms",   "0",
            "--receive-timeout-ms", "500",
            "--restart-wait-ms",    "0"};
}

class QuellinTest : public quellin::testing::TempDirTest {
protected:
    void SetUp() override {
        home = dir.folder();
        std::filesystem::create_directory(dir / "log");
        std::filesystem::create_directory(dir / "firmware");
        WriteFile(dir / "NEXORA.INI", "[Config]\r\nFIRMDIR=" + home + "firmware\r\nLOGDIR=" + home +
                                          "log\r\nMAXROWS=8\r\n");
    }

    Outcome Run(std::vector<std::string> args, bool withRouterOptions = false) {
        if (withRouterOptions) {
            auto extra = RouterOptions();
            args.insert(args.end(), extra.begin(), extra.end());
        }
        std::ostringstream out, err;
        Outcome o;
        o.status = RunQuellin(args, home, out, err);
        o.out = out.str();
        o.err = err.str();
        return o;
    }

    CList<CBase> Devices() {
        CList<CBase> devices;
        LoadDevices(dir / "base.db", devices, 8);
        return devices;
    }

    std::string Log(const std::string& name) { return ReadFile(dir / "log" / (name + ".log")); }

    // The messages of a device's operation log (see testing::LogMessages).
    std::vector<std::string> LogMessages(const std::string& name) {
        return quellin::testing::LogMessages(dir / "log" / (name + ".log"), name);
    }

    void Register(const std::string& name, const std::string& address) {
        auto o = Run({"register", name, "--address", address, "--password", "secret"});
        ASSERT_EQ(o.status, kExitOk) << o.err;
    }

    std::string home;
};

// --- Command line parsing ----------------------------------------------------

TEST_F(QuellinTest, WrongCommandLinesAreUsageErrors) {
    struct Row {
        const char* name;
        std::vector<std::string> args;
    };
    const Row rows[] = {
        {"no command", {}},
        {"unknown command", {"frobnicate"}},
        {"option of another command", {"devices", "--jobs", "2"}},
        {"option without value", {"collect-log", "a", "--jobs"}},
        {"jobs zero", {"collect-log", "a", "--jobs", "0"}},
        {"jobs too many", {"collect-log", "a", "--jobs", "257"}},
        {"time too short", {"apply-config", "a", "--at", "171225103"}},
        {"time month 13", {"apply-config", "a", "--at", "1713251030"}},
        {"time minute 60", {"update-firmware", "a", "--at", "1712251060"}},
        {"time 30 February", {"apply-config", "a", "--at", "2602301200"}},
        {"time passed", {"update-firmware", "a", "--at", "0101010000"}},
        {"no names", {"collect-log"}},
        {"identify bad address", {"identify", "router.example"}},
        {"port out of range", {"identify", "127.0.0.1", "--telnet-port", "65536"}},
        {"unknown device", {"collect-log", "nobody"}},
        // Every command that names devices says alike that one is unknown.
        {"unknown to unregister", {"unregister", "nobody"}},
        {"unknown to backup", {"backup", "nobody"}},
        {"unknown to drift", {"drift", "nobody"}},
        {"unknown to history", {"history", "nobody"}},
        {"unknown to diff", {"diff", "nobody"}},
    };
    for (const Row& row : rows) {
        auto o = Run(row.args);
        EXPECT_EQ(o.status, kExitUsage) << row.name;
        EXPECT_NE(o.err, "") << row.name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "log" / "Quellin_tool.log"));
}

TEST_F(QuellinTest, EveryCommandAnswersHelpWithItsOwnUsage) {
    for (const char* command :
         {"identify", "firmware-info", "devices", "register", "unregister", "apply-config",
          "update-firmware", "collect-log", "inventory", "backup", "drift", "history", "diff"}) {
        auto o = Run({command, "--help"});
        EXPECT_EQ(o.status, kExitOk) << command;
        EXPECT_EQ(o.out.rfind(std::string("usage: quellin ") + command + " ", 0), 0u) << o.out;
    }
    EXPECT_EQ(Run({"--help"}).status, kExitOk);
}

// --- Registration --------------------------------------------------------------

TEST_F(QuellinTest, RegisterFillsTheFirstEmptyRowAndLogsLikeTheDialog) {
    FakeClock clock(1513000000);
    SetClockForTesting(&clock);
    WriteFile(dir / "a.cfg", "hostname a\n");
    auto o =
        Run({"register", "osaka-1", "--address", "192.168.1.1", "--password", "pw", "--access-id",
             "A1", "--access-password", "X1", "--config", (dir / "a.cfg").string()});
    SetClockForTesting(nullptr);
    ASSERT_EQ(o.status, kExitOk) << o.err;
    EXPECT_EQ(o.out, "registered osaka-1 in row 1\n");
    auto devices = Devices();
    ASSERT_EQ(devices.size(), 8u);
    EXPECT_EQ(FormatDeviceRow(devices[0]),
              "osaka-1,192.168.1.1,pw,A1,X1," + (dir / "a.cfg").string() + ",0,0,0,0,0,0");
    EXPECT_EQ(Log("Quellin_tool"),
              FormatOperationLogLine(1513000000, "Quellin_tool",
                                     Sjis("装置を登録しました。装置名：osaka-1")) +
                  FormatOperationLogLine(1513000000, "Quellin_tool",
                                         Sjis("装置情報を設定しました。装置名：osaka-1")));
    EXPECT_EQ(Log("osaka-1"),
              FormatOperationLogLine(1513000000, "osaka-1", Sjis("装置を登録しました。")));
}

TEST_F(QuellinTest, RegisterRefusesWhatTheDialogRefuses) {
    Register("osaka-1", "");
    ASSERT_EQ(
        Run({"register", "kobe", "--address", "", "--password", "p", "--access-id", "A1"}).status,
        kExitOk);
    const std::string before = ReadFile(dir / "base.db");
    const std::string logBefore = Log("Quellin_tool");
    struct Row {
        const char* name;
        std::vector<std::string> args;
        const char* message;  // UTF-8, first line
    };
    const std::string name65(65, 'n');
    const Row rows[] = {
        {"duplicate access ID",
         {"register", "nara", "--address", "", "--password", "p", "--access-id", "A1"},
         "入力されたアクセスIDはすでに使用されています。"},
        {"slash in name",
         {"register", "na/ra", "--address", "", "--password", "p"},
         "装置名に次の文字は使用できません。"},
        {"name of 65 bytes",
         {"register", name65, "--address", "", "--password", "p"},
         "装置名は全角32桁(半角64桁)以下にしてください。"},
        {"comma in password",
         {"register", "nara", "--address", "", "--password", "p,q"},
         "装置のパスワードにカンマは使用できません。"},
        {"comma in access password",
         {"register", "nara", "--address", "", "--password", "p", "--access-password", "a,b"},
         "アクセスパスワードにカンマは使用できません。"},
    };
    for (const Row& row : rows) {
        auto o = Run(row.args);
        EXPECT_EQ(o.status, kExitFailed) << row.name;
        EXPECT_EQ(o.err.substr(0, o.err.find('\n')), std::string("quellin: ") + row.message)
            << row.name;
    }
    EXPECT_EQ(Run({"register", "osaka-1", "--address", "", "--password", "p"}).status, kExitFailed);
    EXPECT_EQ(Run({"register", "nara", "--address", "1.2.3", "--password", "p"}).status,
              kExitUsage);
    EXPECT_EQ(ReadFile(dir / "base.db"), before);
    EXPECT_EQ(Log("Quellin_tool"), logBefore);
}

TEST_F(QuellinTest, NameLimitCountsShiftJisBytes) {
    auto fullWidth = [](int count) {
        std::string text;
        for (int i = 0; i < count; ++i)
            text += "名";  // two bytes in Shift-JIS
        return text;
    };
    Register(std::string(64, 'n'), "");
    Register(fullWidth(32), "");
    EXPECT_EQ(Devices()[1].name.size(), 64u);
    EXPECT_EQ(Run({"register", std::string(65, 'm'), "--address", "", "--password", "p"}).status,
              kExitFailed);
    EXPECT_EQ(Run({"register", fullWidth(33), "--address", "", "--password", "p"}).status,
              kExitFailed);
    // A line break would end base.db's row early.
    EXPECT_EQ(Run({"register", "a\r\nb", "--address", "", "--password", "p"}).status, kExitFailed);
    EXPECT_EQ(Run({"register", "c", "--address", "", "--password", "p\nq"}).status, kExitFailed);
    EXPECT_EQ(Devices()[2].name, "");
}

TEST_F(QuellinTest, UnregisterEmptiesTheRowAndLogsIt) {
    Register("osaka-1", "127.0.0.1");
    Register("kobe", "127.0.0.2");
    const std::string logBefore = Log("Quellin_tool");
    auto o = Run({"unregister", "osaka-1"});
    ASSERT_EQ(o.status, kExitOk) << o.err;
    EXPECT_EQ(o.err, "");
    auto devices = Devices();
    EXPECT_EQ(FormatDeviceRow(devices[0]), kEmptyDeviceRow);
    EXPECT_EQ(devices[1].name, "kobe");
    const std::string deleted = Sjis("装置の登録を削除しました。");
    EXPECT_EQ(Log("Quellin_tool").substr(logBefore.size()).find(deleted + Sjis("装置名：osaka-1")),
              19u + std::string(",Quellin_tool,").size());
    EXPECT_EQ(Log("osaka-1").ends_with("," + deleted + "\r\n"), true);
    EXPECT_EQ(Run({"unregister", "osaka-1"}).status, kExitUsage);
    Register("nara", "");
    EXPECT_EQ(Devices()[0].name, "nara");
}

TEST_F(QuellinTest, EveryWritingCommandIsRefusedWhileTheFolderIsHeld) {
    Register("osaka-1", "");
    const std::string before = ReadFile(dir / "base.db");
    const std::string logBefore = Log("Quellin_tool");
    FolderLock console(home);
    ASSERT_TRUE(console.acquired());
    const std::vector<std::vector<std::string>> commands = {
        {"register", "kobe", "--address", "", "--password", "p"},
        {"unregister", "osaka-1"},
        {"collect-log", "osaka-1"},
        {"apply-config", "osaka-1"},
        {"update-firmware", "osaka-1", "--at", "3712251030"},
    };
    for (const auto& args : commands) {
        auto o = Run(args);
        EXPECT_EQ(o.status, kExitBusy) << args[0];
        EXPECT_NE(o.err.find("Quellin_tool or another quellin is working on"), std::string::npos)
            << o.err;
    }
    EXPECT_EQ(ReadFile(dir / "base.db"), before);
    EXPECT_EQ(Log("Quellin_tool"), logBefore);
    EXPECT_EQ(LogMessages("osaka-1"), std::vector<std::string>{});
    EXPECT_EQ(Run({"devices"}).status, kExitOk);  // reading stays allowed
}

// --- Against simulated routers ---------------------------------------------------

class RouterTest : public QuellinTest {
protected:
    std::unique_ptr<TarnsimProcess> StartFleet(const std::string& lines) {
        WriteFile(dir / "fleet.txt",
                  "defaults password=secret telnet-port=" + std::to_string(BasePort()) +
                      " ftp-port=" + std::to_string(BasePort() + 1) +
                      " reset-delay-ms=50 tech-support-bytes=2000\n" + lines);
        auto sim = std::make_unique<TarnsimProcess>(std::vector<std::string>{
            "--state", (dir / "sim").string(), "--fleet", (dir / "fleet.txt").string()});
        EXPECT_TRUE(sim->ready());
        return sim;
    }
};

TEST_F(RouterTest, IdentifyPrintsModelVersionAndStartup) {
    auto sim = StartFleet("router name=r address=" + AddressBlock() +
                          "2 model=Tarn-60 version=V29.05 startup=config2\n");
    auto o = Run({"identify", AddressBlock() + "2", "--password", "secret"}, true);
    EXPECT_EQ(o.status, kExitOk) << o.err;
    EXPECT_EQ(o.out, "model: Tarn-60\nversion: V29.05\nstartup configuration: config2\n");

    auto wrong = Run({"identify", AddressBlock() + "2", "--password", "nope"}, true);
    EXPECT_EQ(wrong.status, kExitFailed);
    EXPECT_EQ(wrong.out, "");
    EXPECT_NE(wrong.err, "");
}

TEST_F(RouterTest, IdentifyTellsWhenNothingAnswers) {
    auto o = Run({"identify", AddressBlock() + "99"}, true);
    EXPECT_EQ(o.status, kExitFailed);
    EXPECT_EQ(o.out, "");
    EXPECT_GT(o.err.size(), std::string("quellin: \n").size());
}

TEST_F(QuellinTest, FirmwareInfoReadsBuiltImagesAndNamesTheRest) {
    const auto image = (dir / "a.img").string();
    auto built = RunProgram(tarn::testing::BinPath("tarnimage"),
                            {"--model", "Tarn-90", "--version", "V30.02", "--ptf", "PTF7", "--date",
                             "2017/12/25", image});
    ASSERT_EQ(built.status, 0) << built.output;
    const auto elf = (dir / "b.img").string();
    ASSERT_EQ(RunProgram(tarn::testing::BinPath("tarnimage"),
                         {"--model", "BRKX30", "--version", "V31.10", "--format", "elf", elf})
                  .status,
              0);
    WriteFile(dir / "c.txt", "hostname a\n");

    auto o = Run({"firmware-info", image, elf});
    EXPECT_EQ(o.status, kExitOk) << o.err;
    EXPECT_EQ(o.out, image + ": model Tarn-90, version V30.02, ptf PTF7, date 2017/12/25\n" + elf +
                         ": model BRKX30, version V31.10, ptf PTF00, date 2006/01/26\n");

    auto mixed = Run({"firmware-info", (dir / "c.txt").string(), image});
    EXPECT_EQ(mixed.status, kExitFailed);
    EXPECT_EQ(mixed.out.rfind((dir / "c.txt").string() + ": not a firmware image (", 0), 0u)
        << mixed.out;
}

TEST_F(RouterTest, RunOverThreeDevicesWhereOneHasNoAddress) {
    const std::string block = AddressBlock();
    auto sim = StartFleet("router name=a address=" + block + "11\nrouter name=c address=" + block +
                          "13\n");
    Register("osaka", block + "11");
    ASSERT_EQ(Run({"register", "kobe", "--address", "", "--password", "secret"}).status, kExitOk);
    ASSERT_EQ(Run({"register", "nara", "--address", block + "13", "--password", "secret"}).status,
              kExitOk);

    auto o = Run({"collect-log", "osaka", "kobe", "nara"}, true);
    EXPECT_EQ(o.status, kExitFailed);
    EXPECT_EQ(o.out,
              "[1/3] osaka: done\n"
              "[2/3] kobe: failed (IPアドレスが設定されていません。)\n"
              "[3/3] nara: done\n"
              "処理に失敗した装置があります。\n");
    auto devices = Devices();
    EXPECT_NE(devices[0].lastLogCollection, 0);
    EXPECT_EQ(devices[1].lastLogCollection, 0);
    EXPECT_NE(devices[2].lastLogCollection, 0);
    EXPECT_EQ(LogMessages("kobe"),
              (std::vector<std::string>{Sjis("ログ採取を開始しました。"),
                                        Sjis("IPアドレスが設定されていません。")}));
    EXPECT_EQ(LogMessages("osaka"), (std::vector<std::string>{Sjis("ログ採取を開始しました。"),
                                                              Sjis("ログ採取を終了しました。")}));
    // The console's start line belongs to the console alone.
    EXPECT_EQ(Log("Quellin_tool").find(Sjis("ツールを起動しました。")), std::string::npos);
}

TEST_F(RouterTest, ApplyConfigAndScheduledFirmwareReachTheRouter) {
    const std::string block = AddressBlock();
    auto sim = StartFleet("router name=a address=" + block + "21 model=Tarn-90 version=V30.01\n");
    WriteFile(dir / "a.cfg", "hostname a\r\n");
    ASSERT_EQ(Run({"register", "osaka", "--address", block + "21", "--password", "secret",
                   "--config", (dir / "a.cfg").string()})
                  .status,
              kExitOk);
    auto apply = Run({"apply-config", "osaka", "--at", "3712251030"}, true);
    EXPECT_EQ(apply.status, kExitOk) << apply.out << apply.err;
    EXPECT_EQ(ReadFile(dir / "sim" / "a" / "config2"), ConvertNewlinesText("hostname a\r\n"));

    ASSERT_EQ(RunProgram(tarn::testing::BinPath("tarnimage"),
                         {"--model", "Tarn-90", "--version", "V30.05",
                          (dir / "firmware" / "new.img").string()})
                  .status,
              0);
    auto update = Run({"update-firmware", "osaka", "--at", "3712251030"}, true);
    EXPECT_EQ(update.status, kExitOk) << update.out << update.err;
    EXPECT_EQ(update.out,
              "[1/1] osaka: done\n複数装置のソフトウェアスケジュール実行を終了しました。\n");
    auto devices = Devices();
    EXPECT_NE(devices[0].lastConfigTransfer, 0);
    EXPECT_NE(devices[0].lastFirmwareUpdate, 0);
    const auto messages = LogMessages("osaka");
    ASSERT_EQ(messages.size(), 5u);
    EXPECT_EQ(messages[2], Sjis("ソフトウェアのスケジュール実行を開始しました。"));
    EXPECT_EQ(messages[3], Sjis("V30.01版からV30.05版へソフトウェアを更新します。"));
    EXPECT_EQ(messages[4], Sjis("ソフトウェアのスケジュール実行を終了しました。"));
}

TEST_F(RouterTest, FourJobsOverSixRoutersKeepLinesWholeAndSaveEveryStamp) {
    const std::string block = AddressBlock();
    auto sim = StartFleet("router name=r%d address=" + block + "31 count=6\n");
    std::vector<std::string> args = {"collect-log"};
    for (int i = 0; i < 6; ++i) {
        const std::string name = "branch-" + std::to_string(i + 1);
        Register(name, block + std::to_string(31 + i));
        args.push_back(name);
    }
    args.insert(args.end(), {"--jobs", "4"});
    auto o = Run(args, true);
    EXPECT_EQ(o.status, kExitOk) << o.out << o.err;
    EXPECT_NE(o.out.find("[6/6] "), std::string::npos);
    EXPECT_EQ(o.out.substr(o.out.rfind('\n', o.out.size() - 2) + 1),
              "複数装置のログ採取を終了しました。\n");
    auto devices = Devices();
    int collected = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "log"))
        if (entry.path().filename().string().find("-20") != std::string::npos)
            ++collected;
    EXPECT_EQ(collected, 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_NE(devices[i].lastLogCollection, 0) << devices[i].name;
        EXPECT_EQ(LogMessages(devices[i].name),
                  (std::vector<std::string>{Sjis("ログ採取を開始しました。"),
                                            Sjis("ログ採取を終了しました。")}));
    }
}

// A failure is told with its message and, after it, the reason the router
// dialogue, the FTP server or the file system gave; the log keeps the
// message alone.
TEST_F(RouterTest, FailuresSayWhyAfterTheirMessage) {
    const std::string block = AddressBlock();
    auto sim = StartFleet("router name=a address=" + block + "41 fault=wrong-password\n" +
                          "router name=b address=" + block + "42 fault=refuse-ftp-login\n");
    WriteFile(dir / "a.cfg", "hostname a\r\n");
    for (const auto& [name, host] : {std::pair{"osaka", "41"}, std::pair{"kobe", "42"}}) {
        ASSERT_EQ(Run({"register", name, "--address", block + host, "--password", "secret",
                       "--config", (dir / "a.cfg").string()})
                      .status,
                  kExitOk);
    }
    ASSERT_EQ(Run({"register", "nara", "--address", block + "43", "--password", "secret",
                   "--config", (dir / "missing.cfg").string()})
                  .status,
              kExitFailed);
    ASSERT_EQ(Run({"register", "nara", "--address", block + "43", "--password", "secret"}).status,
              kExitOk);

    auto o = Run({"apply-config", "osaka", "kobe", "nara"}, true);
    EXPECT_EQ(o.status, kExitFailed);
    std::istringstream lines(o.out);
    std::vector<std::string> printed;
    for (std::string line; std::getline(lines, line);)
        printed.push_back(line);
    ASSERT_EQ(printed.size(), 4u) << o.out;
    EXPECT_EQ(printed[0],
              "[1/3] osaka: failed (装置情報の取得に失敗しました。): "
              "ログインが拒否されました (パスワードの誤り)")
        << printed[0];
    EXPECT_EQ(printed[1].rfind("[2/3] kobe: failed (構成定義ファイルの転送に失敗しました。): "
                               "FTP login refused: ",
                               0),
              0u)
        << printed[1];
    EXPECT_EQ(printed[2],
              "[3/3] nara: failed (構成定義ファイルが見つかりません。): no "
              "configuration file is registered for the device");
    EXPECT_EQ(printed[3], "処理に失敗した装置があります。");
    EXPECT_EQ(LogMessages("osaka"),
              (std::vector<std::string>{Sjis("即時反映を開始しました。"),
                                        Sjis("装置情報の取得に失敗しました。")}));
    EXPECT_EQ(o.err, "");
}

// --json: one object per device for scripts, read back here field by field.
TEST_F(RouterTest, JsonPrintsOneObjectPerDevice) {
    const std::string block = AddressBlock();
    auto sim = StartFleet("router name=a address=" + block + "51\n");
    Register("osaka", block + "51");
    Register("kobe", "");
    auto o = Run({"collect-log", "osaka", "kobe", "--json"}, true);
    EXPECT_EQ(o.status, kExitFailed);
    std::istringstream lines(o.out);
    std::vector<std::string> objects;
    for (std::string line; std::getline(lines, line);)
        objects.push_back(line);
    ASSERT_EQ(objects.size(), 2u) << o.out;
    auto field = [](const std::string& object, const std::string& name) {
        const std::string key = "\"" + name + "\":";
        const auto at = object.find(key);
        if (at == std::string::npos)
            return std::string("<none>");
        const auto start = at + key.size();
        if (object[start] != '"')
            return object.substr(start, object.find_first_of(",}", start) - start);
        std::string value;
        for (auto i = start + 1; i < object.size() && object[i] != '"'; ++i) {
            if (object[i] == '\\')
                ++i;
            value += object[i];
        }
        return value;
    };
    const std::string& done =
        objects[0].find("osaka") != std::string::npos ? objects[0] : objects[1];
    const std::string& failed = &done == &objects[0] ? objects[1] : objects[0];
    EXPECT_EQ(done.front(), '{');
    EXPECT_EQ(done.back(), '}');
    EXPECT_EQ(field(done, "name"), "osaka");
    EXPECT_EQ(field(done, "address"), block + "51");
    EXPECT_EQ(field(done, "operation"), "collect-log");
    EXPECT_EQ(field(done, "outcome"), "done");
    EXPECT_EQ(field(done, "message"), "");
    EXPECT_EQ(field(done, "reason"), "");
    EXPECT_GT(std::stod(field(done, "seconds")), 0.0);
    EXPECT_EQ(field(failed, "name"), "kobe");
    EXPECT_EQ(field(failed, "outcome"), "failed");
    EXPECT_EQ(field(failed, "message"), "IPアドレスが設定されていません。");
}

// A downgrade is given only with --yes; without it the update is declined
// with the dialog's message and the reason, and nothing is uploaded.
TEST_F(RouterTest, DowngradeNeedsYes) {
    const std::string block = AddressBlock();
    auto sim = StartFleet("router name=a address=" + block + "61 model=Tarn-90 version=V30.10\n");
    ASSERT_EQ(RunProgram(tarn::testing::BinPath("tarnimage"),
                         {"--model", "Tarn-90", "--version", "V30.01",
                          (dir / "firmware" / "old.img").string()})
                  .status,
              0);
    Register("osaka", block + "61");
    auto o = Run({"update-firmware", "osaka"}, true);
    EXPECT_EQ(o.status, kExitFailed);
    EXPECT_EQ(o.out,
              "[1/1] osaka: declined (ソフトウェア更新を中止しました。): V30.10 to V30.01 would "
              "be a downgrade; run again with --yes to allow it\n処理に失敗した装置があります。\n");
    EXPECT_EQ(LogMessages("osaka"),
              (std::vector<std::string>{Sjis("ソフトウェア更新を開始しました。"),
                                        Sjis("ソフトウェア更新を中止しました。")}));
    EXPECT_FALSE(std::filesystem::exists(dir / "sim" / "a" / "firmware"));

    o = Run({"update-firmware", "osaka", "--yes"}, true);
    EXPECT_EQ(o.status, kExitOk) << o.out;
    EXPECT_EQ(o.out, "[1/1] osaka: done\n複数装置のソフトウェア更新を終了しました。\n");
    EXPECT_EQ(LogMessages("osaka").at(3),
              Sjis("V30.10版からV30.01版へソフトウェアを更新します(ダウングレード)。"));
    EXPECT_EQ(ReadFile(dir / "sim" / "a" / "firmware"), ReadFile(dir / "firmware" / "old.img"));
}

TEST(OneLineTest, EscapesLineEndsAndCutsLongReasonsWhole) {
    EXPECT_EQ(OneLine("a\r\nb\tc"), "a\\r\\nb\\tc");
    const std::string reason = Sjis("ログイン完了待ち");
    EXPECT_EQ(OneLine(reason, 5), "ログ...");
    EXPECT_EQ(OneLine(reason, 6), "ログイ...");
    EXPECT_EQ(OneLine(reason, reason.size()), "ログイン完了待ち");
}

}  // namespace
}  // namespace quellin::cli
