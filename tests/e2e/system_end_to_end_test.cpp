// The whole system in one run, as an operator would have it: Setup installs
// from the medium into a temporary folder, a simulated fleet sits on its own
// loopback addresses, quellin registers and maintains the routers, then the
// console's main window opens over the installation (offscreen), its menu
// starts the installed Syslogd, the installed web server serves Netprov while
// one router provisions itself over HTTP, the routers' syslog lands in
// Syslogd's log file, and the console's exit command stops Syslogd again.
// Every operation-log line of the run is checked.
#include "console_session.h"
#include "device_list_model.h"
#include "fake_file_dialogs.h"
#include "fake_service_manager.h"
#include "file_dialogs.h"
#include "installed_system.h"
#include "main_window.h"
#include "message_box.h"
#include "qt_operation_waiter.h"
#include "service_manager.h"
#include "tarn_image.h"
#include "tarnsim_client.h"
#include "test_support.h"

#include <QAction>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace quellin {
namespace {

namespace fs = std::filesystem;
namespace sim = quellin::tarn::testing;
using quellin::testing::InstalledWebServer;
using quellin::testing::LogMessages;
using quellin::testing::Ran;
using quellin::testing::ReadFile;
using quellin::testing::RunToEnd;
using quellin::testing::Sjis;
using quellin::testing::SjisAll;
using quellin::testing::WaitUntil;
using quellin::testing::WriteFile;

constexpr char kApache[] = "/usr/sbin/apache2";
// Routers sit on the standard ports of their own addresses, because Netprov
// reaches a router only there; the block is used by no other test.
constexpr char kProvisioned[] = "127.0.87.10";
constexpr char kConfigured[] = "127.0.87.11";
constexpr char kUpdated[] = "127.0.87.12";
constexpr char kCollected[] = "127.0.87.13";

bool Udp514Bound() {
    return ReadFile("/proc/net/udp").find(":0202 ") != std::string::npos;
}

// The live processes running exactly this program (ended ones not yet
// reaped do not count: they hold no socket any more).
std::vector<int> ProcessesOf(const fs::path& program) {
    std::vector<int> ids;
    std::error_code error;
    const fs::path wanted = fs::weakly_canonical(program, error);
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string id = entry.path().filename().string();
        if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code unreadable;
        if (fs::read_symlink(entry.path() / "exe", unreadable) != wanted || unreadable)
            continue;
        std::string stat = ReadFile(entry.path() / "stat");
        auto close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z')
            continue;
        ids.push_back(std::stoi(id));
    }
    return ids;
}

// The console as its program wires it over an installation folder, with
// message boxes, file pickers and the service manager standing in (there
// is no systemd here).  Its session holds the folder as the program's does,
// so no quellin runs beside it.
struct Console {
    explicit Console(const std::string& home)
        : session(home, {boxes, waiter, processes, services}) {
        session.Start();
        window.emplace(session, files);
        waiter.setOwner(&*window);
        window->show();
    }

    QString Status() const {
        auto* label = window->findChild<QLabel*>(QStringLiteral("id1031"));
        return label != nullptr ? label->text() : QStringLiteral("<no status>");
    }
    bool Enabled(int command) const {
        QAction* action = window->menuAction(command);
        return action != nullptr && action->isEnabled();
    }
    void Run(int command) {
        QAction* action = window->menuAction(command);
        ASSERT_NE(action, nullptr) << command;
        action->trigger();
    }

    FakeMessageBoxes boxes;
    console::QtOperationWaiter waiter{nullptr};
    FakeFileDialogs files;
    console::SystemProcessControl processes;
    console::FakeServiceManager services;
    console::ConsoleSession session;
    std::optional<console::CNEXORADlg> window;
};

// Waits while the console's events run, so its once-a-second timer ticks.
template <typename Condition>
bool WaitWithConsole(Condition condition, int timeoutMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}

class SystemTest : public quellin::testing::TempDirTest {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "the routers listen on ports 23 and 21 and Syslogd on UDP 514, which "
                            "needs root";
        if (!fs::exists(kApache))
            GTEST_SKIP() << "Debian's apache2 is not installed";
        if (!fs::exists(fs::path(QUELLIN_MEDIUM_DIR) / "Setup"))
            GTEST_SKIP() << "the medium has no Setup; build the medium target";
        if (Udp514Bound())
            GTEST_SKIP() << "UDP port 514 is taken here";
        // The web server's user reaches the installation through the folder.
        fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
        install = dir / "Quellin_server";
        home = install.string() + "/";
        fs::create_directories(dir / "desktop");
        fs::create_directories(dir / "run");
        fs::permissions(dir / "run", fs::perms::owner_all);
        // Syslogd inherits the console's environment.
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
    }

    void TearDown() override {
        // A run cut short still ends the console the way its user would,
        // and never leaves the installed Syslogd behind.
        if (console && console->window->isVisible())
            console->Run(console::kCmdExit);
        console.reset();
        if (!install.empty())
            for (int id : ProcessesOf(install / "syslog" / "Syslogd"))
                ::kill(id, SIGKILL);
        webServer.reset();
    }

    Ran Quellin(std::vector<std::string> args) {
        return RunToEnd(dir / "quellin.out", (install / "quellin").string(), args);
    }

    fs::path install;
    std::string home;
    std::optional<Console> console;
    std::optional<InstalledWebServer> webServer;
};

TEST_F(SystemTest, FleetIsProvisionedMaintainedAndHeard) {
    // Setup, unattended, from the medium.
    Ran setup = RunToEnd(dir / "setup.out", std::string(QUELLIN_MEDIUM_DIR) + "/Setup",
                         {"--folder", install.string(), "--accept-license"},
                         {"XDG_DESKTOP_DIR=" + (dir / "desktop").string()});
    ASSERT_EQ(setup.status, 0) << setup.output;
    for (const char* file : {"Quellin_tool", "quellin", "NEXORA.INI", "syslog/Syslogd",
                             "httpd/cgi-bin/Netprov", "httpd/cgi-bin/Devrestart"})
        ASSERT_TRUE(fs::exists(install / file)) << file;
    EXPECT_FALSE(fs::exists(install / "Setup"));

    const std::string settings = ReadFile(install / "NEXORA.INI");
    EXPECT_NE(settings.find("FIRMDIR=" + home + "firmware\r\n"), std::string::npos) << settings;

    // Firmware in the software folder, one configuration file per router.
    struct Image {
        const char* model;
        const char* version;
    };
    for (Image image :
         {Image{"Tarn-120", "V05.00"}, Image{"Tarn-120", "V06.02"}, Image{"Tarn-90", "V30.05"}}) {
        tarn::ImageOptions options;
        options.model = image.model;
        options.version = image.version;
        std::string error;
        ASSERT_TRUE(tarn::WriteImage(
            install / "firmware" / (std::string(image.model) + "-" + image.version + ".bin"),
            options, error))
            << error;
    }
    // The configuration files in the installation's config folder, where
    // the web server's user may replace them.
    for (const char* name : {"r1", "r2", "r3", "r4"})
        WriteFile(install / "config" / (std::string(name) + ".txt"),
                  "hostname " + std::string(name) + "\r\ninterface lan0\r\n");

    // The fleet.
    WriteFile(dir / "fleet.txt",
              "defaults telnet-port=23 ftp-port=21 reset-delay-ms=300 syslog=127.0.0.1:514\n"
              "router name=r1 address=" +
                  std::string(kProvisioned) +
                  " model=Tarn-120 version=V05.00\n"
                  "router name=r2 address=" +
                  kConfigured +
                  " model=Tarn-20B version=V10.02 password=pw2\n"
                  "router name=r3 address=" +
                  kUpdated +
                  " model=Tarn-90 version=V30.01 password=pw3\n"
                  "router name=r4 address=" +
                  kCollected +
                  " model=Tarn-60 version=V29.05 password=pw4 tech-support-bytes=3000\n");
    sim::TarnsimProcess fleet(
        {"--state", (dir / "sim").string(), "--fleet", (dir / "fleet.txt").string()});
    ASSERT_TRUE(fleet.ready());
    const fs::path journal = dir / "sim" / "journal.jsonl";

    // Registration through quellin.  Netprov logs in without a password, so
    // the router that provisions itself has none.
    struct Device {
        const char* name;
        const char* address;
        const char* password;
        const char* accessId;
        const char* accessPassword;
    };
    const Device devices[] = {{"r1", kProvisioned, "", "id01", "secret01"},
                              {"r2", kConfigured, "pw2", "id02", "secret02"},
                              {"r3", kUpdated, "pw3", "id03", "secret03"},
                              {"r4", kCollected, "pw4", "id04", "secret04"}};
    for (const Device& device : devices) {
        Ran registered = Quellin(
            {"register", device.name, "--address", device.address, "--password", device.password,
             "--access-id", device.accessId, "--access-password", device.accessPassword, "--config",
             (install / "config" / (std::string(device.name) + ".txt")).string()});
        ASSERT_EQ(registered.status, 0) << registered.output;
    }
    Ran listed = Quellin({"devices"});
    ASSERT_EQ(listed.status, 0) << listed.output;
    for (const Device& device : devices)
        EXPECT_NE(listed.output.find(device.address), std::string::npos) << listed.output;

    // quellin's maintenance on the other routers, before the console holds
    // the folder.
    const std::vector<std::string> quick = {
        "--initial-sleep-ms", "0", "--receive-timeout-ms", "500", "--restart-wait-ms", "0"};
    auto maintain = [&](const std::string& command, const std::string& name) {
        std::vector<std::string> args = {command, name};
        args.insert(args.end(), quick.begin(), quick.end());
        return Quellin(args);
    };
    Ran configured = maintain("apply-config", "r2");
    EXPECT_EQ(configured.status, 0) << configured.output;
    Ran updated = maintain("update-firmware", "r3");
    EXPECT_EQ(updated.status, 0) << updated.output;
    Ran collected = maintain("collect-log", "r4");
    EXPECT_EQ(collected.status, 0) << collected.output;
    EXPECT_EQ(
        sim::WaitForJournal(journal, {"\"router\":\"r2\"", "\"event\":\"upload\"", "\"ok\":true"})
            .size(),
        1u);
    EXPECT_EQ(sim::WaitForJournal(
                  journal, {"\"router\":\"r3\"", "\"event\":\"up\"", "\"version\":\"V30.05\""}, 1,
                  std::chrono::seconds(30))
                  .size(),
              1u)
        << ReadFile(journal);
    // r4's log was asked for over telnet.
    EXPECT_EQ(
        sim::WaitForJournal(journal, {"\"router\":\"r4\"", "\"event\":\"command\"", "tech-support"})
            .size(),
        1u);

    // The console opens on the registered fleet; its menu starts the
    // installed Syslogd, which logs what it receives.
    const fs::path syslogLog = dir / "syslogd.txt";
    const fs::path syslogd = install / "syslog" / "Syslogd";
    WriteFile(install / "syslog" / "Syslogd.ini",
              "[SETUP]\r\nLogWriteFlag=1\r\nLogPath=" + syslogLog.string() + "\r\n");
    console.emplace(home);
    ASSERT_EQ(console->session.installation().state(), console::Installation::State::kOpen)
        << console->session.installation().reason();
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(console->window->deviceModel()->index(row, 1).data().toString(),
                  QString::fromLatin1(devices[row].name))
            << row;
    EXPECT_EQ(console->Status(), QString::fromUtf8("停止中"));
    ASSERT_TRUE(console->Enabled(console::kCmdStartSyslog));
    console->Run(console::kCmdStartSyslog);
    EXPECT_FALSE(console->Enabled(console::kCmdStartSyslog));
    EXPECT_TRUE(console->Enabled(console::kCmdStopSyslog));
    ASSERT_TRUE(WaitWithConsole(Udp514Bound, 10000)) << "Syslogd did not bind UDP 514";
    EXPECT_EQ(ProcessesOf(syslogd).size(), 1u);
    // The window's own watch finds the program it started.
    EXPECT_TRUE(
        WaitWithConsole([&] { return console->Status() == QString::fromUtf8("起動中"); }, 10000))
        << console->Status().toStdString();

    // The web server.
    webServer.emplace(install, dir.path());
    const std::string notStarted = webServer->Start();
    ASSERT_EQ(notStarted, "");

    // r1 provisions itself through the web server and Netprov while the
    // console is open.
    Ran provisioned = RunToEnd(dir / "provision.out", sim::BinPath("tarnsim"),
                               {"provision", "--from", kProvisioned, "--url",
                                webServer->NetprovUrl(), "--access-id", "id01", "--access-password",
                                "secret01", "--state", (dir / "sim").string(), "--name", "r1"});
    EXPECT_EQ(provisioned.status, 0)
        << provisioned.output << ReadFile(install / "httpd" / "logs" / "error.log");
    EXPECT_NE(provisioned.output.find("設定が正常に終了しました。"), std::string::npos)
        << provisioned.output;
    EXPECT_EQ(sim::WaitForJournal(journal, {"\"router\":\"r1\"", "\"event\":\"http-call\"",
                                            "\"status\":200", "\"ok\":true"})
                  .size(),
              1u);
    EXPECT_EQ(sim::WaitForJournal(journal,
                                  {"\"router\":\"r1\"", "\"event\":\"up\"",
                                   "\"version\":\"V06.02\"", "\"startup\":\"config1\""},
                                  1, std::chrono::seconds(30))
                  .size(),
              1u)
        << ReadFile(journal);

    // Syslog: a datagram from each router with a fixed sender time stamp,
    // so the whole log line is known; r2 sends Japanese in CP932 ("表" ends
    // in the byte 0x5C), which must reach the file byte for byte.
    struct Datagram {
        const char* from;
        const char* pri;
        std::string text;  // as typed (UTF-8); the router sends CP932
        std::string line;  // in Syslogd's log file, without CR LF
    };
    const std::string stamp = "Jan  2 03:04:05";
    const std::string japanese = "r2: 構成定義を表示しました。";
    const Datagram datagrams[] = {
        {kProvisioned, "134", "end-to-end check from r1",
         stamp + ",127.0.87.10,Local0,Info,end-to-end check from r1"},
        {kConfigured, "134", japanese, stamp + ",127.0.87.11,Local0,Info," + Sjis(japanese)},
        {kUpdated, "131", "r3: end-to-end error",
         stamp + ",127.0.87.12,Local0,Error,r3: end-to-end error"},
        {kCollected, "8", "end-to-end check from r4",
         stamp + ",127.0.87.13,User,Emergency,end-to-end check from r4"},
    };
    for (const Datagram& datagram : datagrams) {
        Ran sent = RunToEnd(dir / "syslog.out", sim::BinPath("tarnsim"),
                            {"syslog", "--from", datagram.from, "--to", "127.0.0.1:514", "--pri",
                             datagram.pri, "--stamp", stamp, datagram.text});
        EXPECT_EQ(sent.status, 0) << sent.output;
    }
    // r1's report of its restart after provisioning carries its own time.
    const std::string restartReport =
        ",127.0.87.10,Local0,Notice,r1: system startup V06.02 config1";
    auto received = [&] { return fs::exists(syslogLog) ? ReadFile(syslogLog) : std::string(); };
    auto hasLine = [&](const std::string& log, const std::string& line) {
        return log.starts_with(line + "\r\n") ||
               log.find("\n" + line + "\r\n") != std::string::npos;
    };
    auto allArrived = [&] {
        const std::string log = received();
        for (const Datagram& datagram : datagrams)
            if (!hasLine(log, datagram.line))
                return false;
        return log.find(restartReport + "\r\n") != std::string::npos;
    };
    EXPECT_TRUE(WaitWithConsole(allArrived, 10000)) << received();

    // 終了: the console stops Syslogd, logs its exit and closes.
    ASSERT_EQ(ProcessesOf(syslogd).size(), 1u);
    console->Run(console::kCmdExit);
    EXPECT_FALSE(console->window->isVisible());
    EXPECT_EQ(console->window->result(), QDialog::Accepted);
    EXPECT_EQ(ProcessesOf(syslogd), std::vector<int>{}) << "Syslogd outlived the console";
    EXPECT_TRUE(WaitUntil([] { return !Udp514Bound(); }, 5000)) << "UDP 514 is still bound";

    // Every line Syslogd wrote has its five columns and CR LF.
    const std::string log = received();
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(line.ends_with("\r")) << line;
        EXPECT_GE(std::count(line.begin(), line.end(), ','), 4) << line;
    }
    for (const Datagram& datagram : datagrams)
        EXPECT_TRUE(hasLine(log, datagram.line)) << datagram.line << "\n" << log;
    const auto report = log.find(restartReport + "\r\n");
    ASSERT_NE(report, std::string::npos) << log;
    // The report's time column is the 15 characters "Mmm dd hh:mm:ss".
    EXPECT_TRUE(report == 15 || (report > 15 && log[report - 16] == '\n')) << log;

    // Every operation-log line of the run.
    const std::vector<std::pair<std::string, std::vector<std::string>>> logs = {
        {"r1",
         SjisAll({"設定を開始しました。",
                  "ソフトウェアをV05.00版からV06.02版へ更新します。しばらくお待ちください ･･･",
                  "ソフトウェアを更新しました。",
                  "構成定義を更新します。しばらくお待ちください ･･･", "構成定義を更新しました。",
                  "設定が正常に終了しました。"})},
        {"r2", SjisAll({"即時反映を開始しました。", "即時反映を終了しました。"})},
        {"r3", SjisAll({"ソフトウェア更新を開始しました。",
                        "V30.01版からV30.05版へソフトウェアを更新します。",
                        "ソフトウェア更新を終了しました。"})},
        {"r4", SjisAll({"ログ採取を開始しました。", "ログ採取を終了しました。"})},
        {"Quellin_tool",
         SjisAll({"装置を登録しました。装置名：r1", "装置情報を設定しました。装置名：r1",
                  "装置を登録しました。装置名：r2", "装置情報を設定しました。装置名：r2",
                  "装置を登録しました。装置名：r3", "装置情報を設定しました。装置名：r3",
                  "装置を登録しました。装置名：r4", "装置情報を設定しました。装置名：r4",
                  "ツールを起動しました。", "システムログサーバを起動しました。",
                  "システムログサーバを停止しました。", "ツールを終了しました。"})},
    };
    for (const auto& [name, expected] : logs)
        EXPECT_EQ(LogMessages(install / "log" / (name + ".log"), name), expected) << name;
    // Beside them only the log collected from r4 ("r4-YYYYMMDDhhmmss.log").
    std::vector<std::string> logFiles;
    std::uintmax_t collectedBytes = 0;
    for (const auto& entry : fs::directory_iterator(install / "log")) {
        std::string file = entry.path().filename().string();
        if (file.size() == 21 && file.starts_with("r4-") && file.ends_with(".log")) {
            collectedBytes = entry.file_size();
            file = "r4-<time>.log";
        }
        logFiles.push_back(file);
    }
    std::sort(logFiles.begin(), logFiles.end());
    EXPECT_EQ(logFiles, (std::vector<std::string>{".keep", "Quellin_tool.log", "r1.log", "r2.log",
                                                  "r3.log", "r4-<time>.log", "r4.log"}));
    EXPECT_GE(collectedBytes, 3000u);

    EXPECT_EQ(fleet.Stop(), 0);
    EXPECT_TRUE(console->boxes.shown.empty());
}

}  // namespace
}  // namespace quellin
