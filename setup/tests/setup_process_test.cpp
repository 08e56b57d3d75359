// The real Setup program started from a medium in a temporary folder: the
// unattended form installs and patches before it ends, a second Setup ends
// at once while one runs, cancelling in the windows ends Setup, and the
// errors it reports read Japanese.  The windows are worked through their
// buttons by the window driver, loaded into the program with LD_PRELOAD.
#include "codec.h"
#include "desktop_entry.h"
#include "error_text.h"
#include "installer.h"
#include "test_medium.h"
#include "test_support.h"
#include "unattended.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

namespace quellin::setup {
namespace {
namespace fs = std::filesystem;
using quellin::testing::ChildProcess;
using quellin::testing::ReadFile;
using quellin::testing::WaitUntil;

class SetupProcessTest : public quellin::testing::TempDirTest {
protected:
    void SetUp() override {
        medium_ = setup::testing::MakeTestMedium(dir.path(), true);
        fs::create_directories(dir / "run");
        fs::permissions(dir / "run", fs::perms::owner_all);
        fs::create_directories(dir / "home");
        env_ = {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + (dir / "run").string(),
                "HOME=" + (dir / "home").string(), "XDG_CONFIG_HOME=" + (dir / "home").string()};
    }

    struct Outcome {
        int exitCode = -1;
        std::string out;
        std::string err;
    };

    Outcome RunSetup(const QStringList& arguments) {
        return Run(QString::fromStdString((medium_ / "Setup").string()), arguments);
    }

    // Runs a program with the test's environment, changed by `extra`
    // ("NAME=value" sets, "NAME" alone removes).  The exit code is -1 when
    // the program did not end by itself within the time; it is killed then.
    Outcome Run(const QString& program, const QStringList& arguments,
                const std::vector<std::string>& extra = {}, int timeoutMs = 60000) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("XDG_DESKTOP_DIR"));
        std::vector<std::string> entries = env_;
        entries.insert(entries.end(), extra.begin(), extra.end());
        for (const std::string& entry : entries) {
            const auto eq = entry.find('=');
            if (eq == std::string::npos) {
                environment.remove(QString::fromStdString(entry));
                continue;
            }
            environment.insert(QString::fromStdString(entry.substr(0, eq)),
                               QString::fromStdString(entry.substr(eq + 1)));
        }
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        const bool ended = process.waitForFinished(timeoutMs);
        if (!ended) {
            process.kill();
            process.waitForFinished(5000);
        }
        return {ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardOutput().toStdString(),
                process.readAllStandardError().toStdString()};
    }

    // Starts the windowed Setup and works its windows with the script (see
    // window_driver.cpp); the outcome, and the driver's trace in `trace`.
    Outcome RunWindows(const std::string& script, std::vector<std::string>& trace) {
        const fs::path traceFile = dir / "windows.trace";
        fs::remove(traceFile);
        Outcome outcome =
            Run(QString::fromStdString((medium_ / "Setup").string()), {},
                {"LD_PRELOAD=" + std::string(QUELLIN_WINDOW_DRIVER),
                 "QUELLIN_WINDOW_SCRIPT=" + script, "QUELLIN_WINDOW_TRACE=" + traceFile.string()},
                20000);
        trace.clear();
        std::istringstream lines(fs::exists(traceFile) ? ReadFile(traceFile) : "");
        for (std::string line; std::getline(lines, line);)
            trace.push_back(line);
        return outcome;
    }

    fs::path medium_;
    std::vector<std::string> env_;
};

TEST_F(SetupProcessTest, UnattendedInstallWaitsForThePatchedConfiguration) {
    const fs::path install = dir / "inst" / "Quellin_server";
    Outcome outcome =
        RunSetup({QStringLiteral("--folder"), QString::fromStdString(install.string()),
                  QStringLiteral("--accept-license")});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "セットアップが完了しました。\n");
    EXPECT_EQ(outcome.err, "");

    EXPECT_FALSE(fs::exists(install / "Setup"));
    EXPECT_FALSE(fs::exists(install / "Webcfgpatch"));
    EXPECT_TRUE(fs::exists(install / "license.txt"));
    const std::string folder = install.string();
    EXPECT_NE(
        ReadFile(install / "NEXORA.INI")
            .find("FIRMDIR=" + folder + "/firmware\r\nLOGDIR=" + folder + "/log\r\nPORT=80\r\n"),
        std::string::npos);
    // Read at once: the form ends only after the patcher has.
    const std::string conf = ReadFile(install / "httpd" / "conf" / "httpd.conf");
    EXPECT_NE(conf.find("\r\nServerRoot \"" + folder + "/httpd\"\r\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(install / "httpd" / "conf" / "httpd.conf.tmp"));
    EXPECT_NE(ReadFile(dir / "home" / "Desktop" / kDesktopEntryName)
                  .find("\nExec=\"" + folder + "/Quellin_tool\"\n"),
              std::string::npos);

    // systemd takes the backup's units as installed; Setup enabled nothing.
    const fs::path units = install / "systemd";
    EXPECT_TRUE(fs::exists(units / "quellin-backup.service"));
    EXPECT_FALSE(fs::exists("/etc/systemd/system/quellin-backup.timer"));
    EXPECT_FALSE(fs::exists("/etc/systemd/system/timers.target.wants/quellin-backup.timer"));
    if (!fs::exists("/usr/bin/systemd-analyze"))
        GTEST_SKIP() << "systemd-analyze is not installed";
    Outcome verified = Run(QStringLiteral("/usr/bin/systemd-analyze"),
                           {QStringLiteral("verify"), QStringLiteral("--man=no"),
                            QString::fromStdString((units / "quellin-backup.service").string()),
                            QString::fromStdString((units / "quellin-backup.timer").string())});
    EXPECT_EQ(verified.exitCode, 0) << verified.err;
    EXPECT_EQ(verified.err, "");
}

TEST_F(SetupProcessTest, UnattendedRefusalsEndNonZero) {
    Outcome declined = RunSetup({QStringLiteral("--folder"), QStringLiteral("/nonexistent/q")});
    EXPECT_EQ(declined.exitCode, 1);
    EXPECT_EQ(declined.err,
              "使用許諾条件に同意されない場合、Quellin Serverのセットアップは実行できません。\n");
    Outcome japanese = RunSetup({QStringLiteral("--accept-license"), QStringLiteral("--folder"),
                                 QString::fromStdString((dir / "日本").string())});
    EXPECT_EQ(japanese.exitCode, 1);
    EXPECT_EQ(japanese.err, "入力された文字列に日本語が含まれています。\n");
    EXPECT_FALSE(fs::exists(dir / "日本"));
    Outcome usage = RunSetup({QStringLiteral("--accept-license"), QStringLiteral("--bogus")});
    EXPECT_EQ(usage.exitCode, 2);
}

// The usage needs no display: no window system is even asked for.
TEST_F(SetupProcessTest, HelpAndWrongOptionsPrintTheUsageWithoutADisplay) {
    const std::vector<std::string> noDisplay = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
    const QString setup = QString::fromStdString((medium_ / "Setup").string());
    Outcome help = Run(setup, {QStringLiteral("--help")}, noDisplay);
    Outcome wrong = Run(setup, {QStringLiteral("--bogus")}, noDisplay);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out, kSetupUsage);
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_EQ(wrong.err, "unknown argument: --bogus\n" + std::string(kSetupUsage));
}

TEST_F(SetupProcessTest, CancelOnTheWelcomeWindowEndsSetupOnYesOnly) {
    std::vector<std::string> trace;
    Outcome outcome = RunWindows(
        "click Form1 Command1\nanswer いいえ\nclick Form1 Command1\nanswer はい\n", trace);
    // The box's buttons read Japanese too: Qt's translation is installed.
    const std::string box = "box セットアップを中止します。よろしいですか？|はい|いいえ";
    EXPECT_EQ(trace,
              (std::vector<std::string>{"click Form1 Command1", box, "click Form1 Command1", box}));
    EXPECT_EQ(outcome.exitCode, 0) << "Setup did not end after Yes\n" << outcome.err;
}

TEST_F(SetupProcessTest, CancelOnTheFolderWindowEndsSetupWithNothingCopied) {
    const fs::path install = dir / "inst" / "Quellin_server";
    std::vector<std::string> trace;
    Outcome outcome = RunWindows(
        "click Form1 Command2\nclick frmlisense Command2\n"
        "type Form2 txt_setupPath " +
            install.string() + "\nclick Form2 Command1\nanswer はい\n",
        trace);
    EXPECT_EQ(trace, (std::vector<std::string>{
                         "click Form1 Command2", "click frmlisense Command2",
                         "type Form2 txt_setupPath", "click Form2 Command1",
                         "box セットアップを中止します。よろしいですか？|はい|いいえ"}));
    EXPECT_EQ(outcome.exitCode, 0) << "Setup did not end after Yes\n" << outcome.err;
    EXPECT_FALSE(fs::exists(dir / "inst"));
    EXPECT_FALSE(fs::exists(dir / "home" / "Desktop"));
}

TEST_F(SetupProcessTest, WindowedInstallationEndsAfterItsCompletionMessage) {
    const fs::path install = dir / "inst" / "Quellin_server";
    std::vector<std::string> trace;
    Outcome outcome = RunWindows(
        "click Form1 Command2\nclick frmlisense Command2\n"
        "type Form2 txt_setupPath " +
            install.string() + "\nclick Form2 Command2\nanswer OK\n",
        trace);
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back(), "box セットアップが完了しました。|OK");
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_TRUE(fs::exists(install / "Quellin_tool"));
    EXPECT_FALSE(fs::exists(install / "Setup"));
    EXPECT_TRUE(fs::exists(dir / "home" / "Desktop" / kDesktopEntryName));
}

TEST_F(SetupProcessTest, MissingHomeIsReportedInJapanese) {
    const fs::path install = dir / "inst";
    Outcome outcome = Run(QString::fromStdString((medium_ / "Setup").string()),
                          {QStringLiteral("--folder"), QString::fromStdString(install.string()),
                           QStringLiteral("--accept-license")},
                          {"HOME", "XDG_CONFIG_HOME"});
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.err, std::string(kHomeNotSet) + "\n");
}

// Setup run by an ordinary user: the installation stays that user's, with
// a word about the group it could not arrange, and a file the user may not
// read is reported in Japanese with its number.
TEST_F(SetupProcessTest, OrdinaryUserInstallsWithoutTheGroup) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to start Setup as another user";
    constexpr uid_t kNobody = 65534;
    const fs::path own = dir / "nobody";
    for (const fs::path& folder : {own, own / "home", own / "run"}) {
        fs::create_directories(folder);
        ASSERT_EQ(::chown(folder.c_str(), kNobody, kNobody), 0);
        fs::permissions(folder, fs::perms::owner_all);
    }
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
    const std::vector<std::string> asNobody = {
        "HOME=" + (own / "home").string(), "XDG_RUNTIME_DIR=" + (own / "run").string(),
        "XDG_CONFIG_HOME=" + (own / "home").string(), "SUDO_USER"};
    auto setupAsNobody = [&](const fs::path& install) {
        return Run(
            QStringLiteral("setpriv"),
            {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
             QStringLiteral("--clear-groups"), QString::fromStdString((medium_ / "Setup").string()),
             QStringLiteral("--folder"), QString::fromStdString(install.string()),
             QStringLiteral("--accept-license")},
            asNobody);
    };

    // The medium's console is readable by its owner (root) only.
    Outcome refused = setupAsNobody(own / "refused");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err, "アクセスが拒否されました。 13\n");

    fs::permissions(medium_ / "Quellin_tool", fs::perms::others_read, fs::perm_options::add);
    const fs::path install = own / "inst";
    Outcome outcome = setupAsNobody(install);
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "セットアップが完了しました。\n");
    EXPECT_NE(outcome.err.find("root 以外で実行されたため"), std::string::npos) << outcome.err;
    struct stat info {};
    ASSERT_EQ(::stat((install / "log").c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, kNobody);
    EXPECT_EQ(info.st_gid, kNobody);
    EXPECT_EQ(info.st_mode & S_ISGID, 0u);
    EXPECT_TRUE(fs::exists(install / "config"));
    EXPECT_TRUE(fs::exists(own / "home" / "Desktop" / kDesktopEntryName));
}

TEST_F(SetupProcessTest, SecondSetupEndsAtOnce) {
    ChildProcess first((medium_ / "Setup").string(), {}, env_);
    ASSERT_TRUE(first.started());
    // The first one holds its lock once its window is up.
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const auto& entry : fs::directory_iterator(dir / "run"))
                if (entry.path().filename().string().find("Setup") != std::string::npos)
                    return true;
            return false;
        },
        20000));
    ChildProcess second((medium_ / "Setup").string(), {}, env_);
    EXPECT_EQ(second.Wait(20000), std::optional<int>(0));
    EXPECT_TRUE(first.Running());
    Outcome unattended = RunSetup({QStringLiteral("--accept-license"), QStringLiteral("--folder"),
                                   QString::fromStdString((dir / "inst").string())});
    EXPECT_EQ(unattended.exitCode, 1);
    EXPECT_FALSE(fs::exists(dir / "inst"));
    first.Signal(SIGTERM);
    EXPECT_TRUE(first.Wait(20000).has_value());
}

}  // namespace
}  // namespace quellin::setup
