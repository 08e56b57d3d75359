// The real Setup program started from a medium in a temporary folder: the
// unattended form installs and patches before it ends, and a second Setup
// ends at once while one runs.
#include "codec.h"
#include "desktop_entry.h"
#include "installer.h"
#include "test_medium.h"
#include "test_support.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <signal.h>

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
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("XDG_DESKTOP_DIR"));
        for (const std::string& entry : env_) {
            const auto eq = entry.find('=');
            environment.insert(QString::fromStdString(entry.substr(0, eq)),
                               QString::fromStdString(entry.substr(eq + 1)));
        }
        process.setProcessEnvironment(environment);
        process.start(QString::fromStdString((medium_ / "Setup").string()), arguments);
        EXPECT_TRUE(process.waitForFinished(60000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardOutput().toStdString(),
                process.readAllStandardError().toStdString()};
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
