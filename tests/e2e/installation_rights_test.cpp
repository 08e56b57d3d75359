// An installation made by root works as installed, with nobody setting
// rights by hand: Setup installs from the medium, the installed web server
// runs Netprov as its own user (www-data), which appends to operation logs
// that quellin (root) created and rewrites a configuration file that root
// put into the installation's config folder; afterwards quellin and the
// console (root) still rewrite base.db and append to the logs, and Netprov
// still reads what they wrote; the sudo operator, a mere member of the group,
// saves base.db but replaces no program.  Root only: Setup arranges the group
// only as root, the server changes user only when root starts it, and the
// router listens on ports 23 and 21.
#include "installed_system.h"
#include "tarnsim_client.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace quellin {
namespace {

namespace fs = std::filesystem;
namespace sim = quellin::tarn::testing;
using quellin::testing::ChildProcess;
using quellin::testing::InstalledWebServer;
using quellin::testing::LogMessages;
using quellin::testing::Ran;
using quellin::testing::ReadFile;
using quellin::testing::RunToEnd;
using quellin::testing::SjisAll;
using quellin::testing::WaitUntil;
using quellin::testing::WriteFile;

constexpr char kApache[] = "/usr/sbin/apache2";
constexpr char kGroup[] = "quellin";
// The router sits on the standard ports of its own address, where Netprov
// reaches it; the block is used by no other test.
constexpr char kRouter[] = "127.0.85.10";

struct Owner {
    uid_t user = 0;
    gid_t group = 0;
    mode_t mode = 0;
    bool operator==(const Owner&) const = default;
};

Owner OwnerOf(const fs::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return {static_cast<uid_t>(-1), static_cast<gid_t>(-1), 0};
    return {info.st_uid, info.st_gid, info.st_mode & 07777};
}

class InstallationRightsTest : public quellin::testing::TempDirTest {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root: Setup arranges the installation's group only as root, "
                            "the web server serves as www-data only when root starts it, and "
                            "the router listens on ports 23 and 21";
        if (!fs::exists(kApache))
            GTEST_SKIP() << "Debian's apache2 is not installed";
        if (!fs::exists(fs::path(QUELLIN_MEDIUM_DIR) / "Setup"))
            GTEST_SKIP() << "the medium has no Setup; build the medium target";
        // The web server's user passes through the folders above the
        // installation.
        fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
        install = dir / "Quellin_server";
        fs::create_directories(dir / "run");
        fs::permissions(dir / "run", fs::perms::owner_all);
        operatorName = "qlop" + std::to_string(::getpid());
        Ran added = RunToEnd(dir / "useradd.out", "/usr/sbin/useradd", {"--system", operatorName});
        ASSERT_EQ(added.status, 0) << added.output;
        operatorUid = ::getpwnam(operatorName.c_str())->pw_uid;
    }
    void TearDown() override {
        if (!operatorName.empty())
            RunToEnd(dir / "userdel.out", "/usr/sbin/userdel", {operatorName});
    }

    Ran Quellin(std::vector<std::string> args) {
        return RunToEnd(dir / "quellin.out", (install / "quellin").string(), args);
    }
    Ran Provision() {
        return RunToEnd(dir / "provision.out", sim::BinPath("tarnsim"),
                        {"provision", "--from", kRouter, "--url", webServer->NetprovUrl(),
                         "--access-id", "id01", "--access-password", "secret01", "--state",
                         (dir / "sim").string(), "--name", "r1"});
    }

    // The operator as they log in again after Setup: with the group.
    Ran AsOperator(const std::string& program, std::vector<std::string> args) {
        args.insert(args.begin(), {"-u", operatorName, "--", program});
        return RunToEnd(dir / "operator.out", "/usr/sbin/runuser", args);
    }

    fs::path install;
    std::optional<InstalledWebServer> webServer;
    std::string operatorName;
    uid_t operatorUid = 0;
};

TEST_F(InstallationRightsTest, NetprovConsoleAndQuellinShareTheInstallation) {
    // Setup, unattended, as root.
    Ran setup =
        RunToEnd(dir / "setup.out", std::string(QUELLIN_MEDIUM_DIR) + "/Setup",
                 {"--folder", install.string(), "--accept-license"},
                 {"XDG_DESKTOP_DIR=" + (dir / "desktop").string(),
                  "XDG_RUNTIME_DIR=" + (dir / "run").string(), "SUDO_USER=" + operatorName});
    ASSERT_EQ(setup.status, 0) << setup.output;

    // The rights as installed: the group shares log/ and config/, passes
    // itself on to new files, and nothing is writable by everyone.
    const group* entry = ::getgrnam(kGroup);
    ASSERT_NE(entry, nullptr) << "Setup did not create the group " << kGroup;
    const gid_t group = entry->gr_gid;
    bool webServerIsMember = false;
    for (char** member = entry->gr_mem; *member != nullptr; ++member)
        webServerIsMember = webServerIsMember || std::string(*member) == "www-data";
    EXPECT_TRUE(webServerIsMember);
    for (const char* shared : {"log", "config", "history"}) {
        const Owner owner = OwnerOf(install / shared);
        EXPECT_EQ(owner.group, group) << shared;
        EXPECT_EQ(owner.mode, 02775u) << shared;
    }
    EXPECT_EQ(OwnerOf(install / "Quellin_tool").mode & S_IWGRP, 0u);
    // base.db the operator's, the lock every member's, the folder sticky.
    const Owner operatorsRegistry = {operatorUid, group, 0660};
    EXPECT_EQ(OwnerOf(install / "base.db"), operatorsRegistry);
    EXPECT_EQ(OwnerOf(install / ".Quellin_tool.lock"), (Owner{0, group, 0660}));
    EXPECT_EQ(OwnerOf(install).mode, 03775u);
    for (const auto& file : fs::recursive_directory_iterator(install)) {
        if (!file.is_symlink()) {
            EXPECT_EQ(OwnerOf(file.path()).mode & S_IWOTH, 0u) << file.path();
        }
    }

    // The web server on a loopback port.
    webServer.emplace(install, dir.path());
    const std::string notStarted = webServer->Start();
    ASSERT_EQ(notStarted, "");

    // The configuration file, put into config/ by root as usual (umask 022).
    const fs::path config = install / "config" / "r1.txt";
    const mode_t previous = ::umask(022);
    WriteFile(config, "hostname r1\r\ninterface lan0\r\n");
    ::umask(previous);

    WriteFile(dir / "fleet.txt",
              "defaults telnet-port=23 ftp-port=21 reset-delay-ms=300\n"
              "router name=r1 address=" +
                  std::string(kRouter) + " model=Tarn-120 version=V05.00 tech-support-bytes=500\n");
    sim::TarnsimProcess fleet(
        {"--state", (dir / "sim").string(), "--fleet", (dir / "fleet.txt").string()});
    ASSERT_TRUE(fleet.ready());

    // quellin (root) registers the router and collects its log: the
    // router's operation log is root's file from here on.
    Ran registered =
        Quellin({"register", "r1", "--address", kRouter, "--password", "", "--access-id", "id01",
                 "--access-password", "secret01", "--config", config.string()});
    ASSERT_EQ(registered.status, 0) << registered.output;
    Ran collected =
        Quellin({"collect-log", "r1", "--initial-sleep-ms", "0", "--receive-timeout-ms", "500"});
    ASSERT_EQ(collected.status, 0) << collected.output;
    ASSERT_EQ(OwnerOf(install / "log" / "r1.log").user, 0u);

    // The router provisions itself through the web server: Netprov, as
    // www-data, appends to root's log and rewrites root's configuration.
    const std::vector<std::string> provisioned =
        SjisAll({"設定を開始しました。", "新しいソフトウェアファイルはありません。",
                 "構成定義を更新します。しばらくお待ちください ･･･", "構成定義を更新しました。",
                 "設定が正常に終了しました。"});
    Ran first = Provision();
    EXPECT_EQ(first.status, 0) << first.output
                               << ReadFile(install / "httpd" / "logs" / "error.log");
    EXPECT_NE(first.output.find("設定が正常に終了しました。"), std::string::npos) << first.output;
    std::vector<std::string> expected =
        SjisAll({"ログ採取を開始しました。", "ログ採取を終了しました。"});
    expected.insert(expected.end(), provisioned.begin(), provisioned.end());
    EXPECT_EQ(LogMessages(install / "log" / "r1.log", "r1"), expected);
    EXPECT_EQ(ReadFile(config), "hostname r1\ninterface lan0\neof\n");
    const passwd* webServerUser = ::getpwnam("www-data");
    ASSERT_NE(webServerUser, nullptr);
    EXPECT_EQ(OwnerOf(config).user, webServerUser->pw_uid) << "Netprov replaced the file";
    EXPECT_EQ(OwnerOf(config).group, group);
    EXPECT_EQ(
        sim::WaitForJournal(dir / "sim" / "journal.jsonl",
                            {"\"router\":\"r1\"", "\"event\":\"up\"", "\"startup\":\"config1\""}, 1,
                            std::chrono::seconds(30))
            .size(),
        1u);

    // Root again: quellin appends to the log Netprov wrote to, rewrites the
    // configuration Netprov replaced and rewrites base.db; the console
    // logs its start.
    const std::vector<std::string> up = {"\"router\":\"r1\"", "\"event\":\"up\""};
    const std::size_t upsBefore = sim::WaitForJournal(dir / "sim" / "journal.jsonl", up, 1).size();
    Ran applied = Quellin({"apply-config", "r1", "--initial-sleep-ms", "0", "--receive-timeout-ms",
                           "500", "--restart-wait-ms", "0"});
    EXPECT_EQ(applied.status, 0) << applied.output;
    expected.push_back(quellin::testing::Sjis("即時反映を開始しました。"));
    expected.push_back(quellin::testing::Sjis("即時反映を終了しました。"));
    EXPECT_EQ(LogMessages(install / "log" / "r1.log", "r1"), expected);
    Ran another = Quellin({"register", "r2", "--address", "127.0.85.11", "--password", "pw"});
    EXPECT_EQ(another.status, 0) << another.output;
    EXPECT_NE(ReadFile(install / "base.db").find("r2,127.0.85.11,pw,"), std::string::npos);
    EXPECT_EQ(OwnerOf(install / "base.db"), operatorsRegistry) << "root's saves keep it";

    // The operator, without root, saves base.db but takes no program's place.
    const std::string quellin = (install / "quellin").string();
    EXPECT_EQ(AsOperator(quellin, {"register", "r3", "--address", "", "--password", "p"}).status,
              0);
    EXPECT_EQ(AsOperator(quellin, {"unregister", "r3"}).status, 0);
    EXPECT_EQ(OwnerOf(install / "base.db"), operatorsRegistry);
    Ran replacing = AsOperator(
        "/bin/sh",
        {"-c",
         "cd \"$0\" && touch new && for p in Quellin_tool quellin httpd/cgi-bin/Netprov;"
         " do mv -f new $p || rm -f $p || true >>$p || continue; echo $p; done 2>/dev/null;"
         " rm new",
         install.string()});
    EXPECT_EQ(replacing.status, 0) << replacing.output;
    EXPECT_EQ(replacing.output, "");

    ChildProcess console(
        (install / "Quellin_tool").string(), {},
        {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + (dir / "run").string()});
    ASSERT_TRUE(console.started());
    const std::string startLine = quellin::testing::Sjis("ツールを起動しました。");
    EXPECT_TRUE(WaitUntil(
        [&] {
            return ReadFile(install / "log" / "Quellin_tool.log").find(startLine) !=
                   std::string::npos;
        },
        20000));
    console.Signal(SIGTERM);
    EXPECT_TRUE(console.Wait(20000).has_value());
    EXPECT_EQ(OwnerOf(install / "log" / "Quellin_tool.log").mode & S_IWGRP, S_IWGRP);

    // Netprov reads the registry root rewrote and provisions the router
    // once more, when it is back from the restart quellin gave it.
    ASSERT_EQ(sim::WaitForJournal(dir / "sim" / "journal.jsonl", up, upsBefore + 1,
                                  std::chrono::seconds(30))
                  .size(),
              upsBefore + 1);
    Ran second = Provision();
    EXPECT_EQ(second.status, 0) << second.output;
    expected.insert(expected.end(), provisioned.begin(), provisioned.end());
    EXPECT_EQ(LogMessages(install / "log" / "r1.log", "r1"), expected);

    EXPECT_EQ(fleet.Stop(), 0);
}

}  // namespace
}  // namespace quellin
