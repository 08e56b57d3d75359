// The notices' rules at their own layer: when a run's findings become
// notices (a failure once, an update once per image, drift once per
// difference), what is mailed, where the mail server comes from, and how
// a hook is started and stopped.
#include "notices.h"
#include "hooks.h"

#include "test_support.h"

#include <gtest/gtest.h>

namespace quellin::console {
namespace {

using testing::Sjis;
using testing::WriteFile;

TEST(NoticesTest, FailureIsToldWhenItStartsAndWhenItEnds) {
    CBase device;
    device.name = "r1";
    device.address = "192.0.2.1";
    const std::vector<CBase*> devices = {&device};
    NoticeStates states;
    auto run = [&](BackupResult result) {
        std::string events;
        for (const Notice& n : BackupNotices(devices, {result}, states, 100))
            events += std::string(EventKey(n.event)) + " ";
        return events;
    };
    const BackupResult failed{Outcome::Failed("x")};
    EXPECT_EQ(run(failed), "failure ");
    EXPECT_EQ(run(failed), "");
    EXPECT_EQ(run({.stored = true, .commit = "c1"}), "recovery change ");
    EXPECT_EQ(run({}), "");
    EXPECT_EQ(states["r1"].backupFailures, 2u);
    EXPECT_EQ(ParseNoticeState(NoticeStateText(states)), states);

    InventoryRow row{.name = "r1",
                     .image = "a.bin",
                     .imageVersion = "V30.10",
                     .verdict = InventoryVerdict::kUpdateAvailable};
    EXPECT_EQ(InventoryNotices({row}, states, 1).size(), 1u);
    EXPECT_EQ(InventoryNotices({row}, states, 2).size(), 0u);
    row.imageVersion = "V30.20";
    EXPECT_EQ(InventoryNotices({row}, states, 3).size(), 1u);

    const DriftResult differs{.same = false, .diff = "+x\n"};
    EXPECT_EQ(DriftNotices(devices, {differs}, states, 1).size(), 1u);
    EXPECT_EQ(DriftNotices(devices, {differs}, states, 2).size(), 0u);
    EXPECT_EQ(DriftNotices(devices, {DriftResult{}}, states, 3).size(), 0u);
    EXPECT_EQ(DriftNotices(devices, {differs}, states, 4).size(), 1u);

    // Scheduled collections and planned operations fail and recover on
    // their own, apart from the backup.
    EXPECT_EQ(WorkNotices(NoticeWork::kCollection, device, Outcome::Failed("x"), states, 5).size(),
              1u);
    EXPECT_EQ(WorkNotices(NoticeWork::kOperation, device, Outcome{}, states, 5).size(), 0u);
    EXPECT_EQ(WorkNotices(NoticeWork::kCollection, device, Outcome::Failed("x"), states, 6).size(),
              0u);
    EXPECT_TRUE(states["r1"].collectionFailing);
    EXPECT_EQ(ParseNoticeState(NoticeStateText(states)), states);
    // A state file of the first version reads with neither failing.
    const NoticeStates first = ParseNoticeState(
        "name\tbackup_failing\tinventory_failing\tupdate_told\tdrift_told\tlast_backup_ok\t"
        "changes_stored\tbackup_failures\r\nr1\t1\t0\t\t\t5\t2\t3\r\n");
    ASSERT_EQ(first.size(), 1u);
    EXPECT_TRUE(first.at("r1").backupFailing);
    EXPECT_FALSE(first.at("r1").collectionFailing);
    EXPECT_EQ(first.at("r1").backupFailures, 3u);
}

TEST(NoticesTest, MailsFollowTheSettings) {
    std::vector<Notice> notices;
    for (const char* name : {"a", "b"})
        notices.push_back({.device = name, .commit = "c", .diff = "+ password hunter2\n"});
    notices.push_back({.event = NoticeEvent::kDrift, .device = "c"});
    NoticeSettings settings;
    settings.onChange = true;
    EXPECT_TRUE(NoticeMails(notices, settings).empty());  // nobody to mail
    settings.to = {"ops@example.org"};
    EXPECT_EQ(NoticeMails(notices, settings).size(), 2u);
    settings.digest = true;
    settings.maskSecrets = true;
    const auto mails = NoticeMails(notices, settings);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].subject, "[Quellin] " + Sjis("構成定義の変更: 2 台"));
    EXPECT_EQ(mails[0].body.find("hunter2"), std::string::npos) << mails[0].body;
    EXPECT_NE(mails[0].body.find("+ password ********\r\n"), std::string::npos);
}

TEST(NoticesTest, MailServerIsSyslogdsUnlessNexoraIniNamesItsOwn) {
    testing::TempDir dir;
    WriteFile(dir / "Syslogd.ini",
              "[SETUP]\r\nSMTPServer=mail.example.org\r\nSMTPPort=587\r\nSMTPSecurity=1\r\n"
              "ClientMailAddress=syslogd@example.org\r\n");
    WriteFile(dir / "NEXORA.INI", "[Config]\r\nNoticeTo=ops@example.org\r\n");
    auto server = ReadNoticeMailServer(dir / "NEXORA.INI", dir / "Syslogd.ini");
    EXPECT_EQ(server.host, "mail.example.org");
    EXPECT_EQ(server.port, 587);
    EXPECT_EQ(server.security, mail::SmtpSecurity::StartTls);
    EXPECT_EQ(server.from, "syslogd@example.org");
    WriteFile(dir / "NEXORA.INI", "[Config]\r\nNoticeServer=other.example.org\r\n");
    server = ReadNoticeMailServer(dir / "NEXORA.INI", dir / "Syslogd.ini");
    EXPECT_EQ(server.host, "other.example.org");
    EXPECT_EQ(server.port, 25);
    EXPECT_EQ(server.security, mail::SmtpSecurity::None);
}

TEST(HooksTest, RunWithoutShellAndAreKilledAfterTheirTime) {
    EXPECT_EQ(SplitCommandWords(" /bin/sh  -c \"echo a  b\" "),
              (std::vector<std::string>{"/bin/sh", "-c", "echo a  b"}));
    const HookRun said = RunHook({"/bin/sh", "-c", "echo \"$QUELLIN_EVENT;$0\"; exit 3"},
                                 {{"QUELLIN_EVENT", "change"}}, std::chrono::seconds(30));
    EXPECT_EQ(said.output, "change;/bin/sh\n");
    EXPECT_EQ(said.status, 3);
    // A hook that hangs, with a child that holds its output open.
    const auto start = std::chrono::steady_clock::now();
    const HookRun hung = RunHook({"/bin/sh", "-c", "sleep 60 & yes | head -c 100000; sleep 60"}, {},
                                 std::chrono::milliseconds(300));
    EXPECT_TRUE(hung.timedOut);
    EXPECT_EQ(hung.output.size(), kMaxHookOutput);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_FALSE(RunHook({"/nonexistent/hook"}, {}, std::chrono::seconds(1)).started);
}

}  // namespace
}  // namespace quellin::console
