#include "backup_units.h"
#include "codec.h"
#include "desktop_entry.h"
#include "error_text.h"
#include "installation_rights.h"
#include "installer.h"
#include "license_text.h"
#include "test_medium.h"
#include "test_support.h"
#include "unattended.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

namespace quellin::setup {
namespace {
namespace fs = std::filesystem;
using quellin::testing::ReadFile;
using quellin::testing::Sjis;
using quellin::testing::WriteFile;

// Records every start and answers as told; nothing runs.
class FakeLauncher final : public ProcessLauncher {
public:
    StartResult Start(const fs::path& program, const std::vector<std::string>& arguments) override {
        starts.push_back({program, arguments});
        return error != 0 ? StartResult{-1, error} : StartResult{4242, 0};
    }
    std::optional<int> Wait(int) override { return 0; }

    struct Call {
        fs::path program;
        std::vector<std::string> arguments;
    };
    std::vector<Call> starts;
    int error = 0;
};

std::string Jp(const char* text) {
    return cp932::Jp(text);
}

// ---- error texts ----

TEST(ErrorTextTest, ErrorsOfAnInstallationReadJapaneseWithTheirNumber) {
    struct Row {
        const char* name;
        int error;
        std::string text;
    };
    const Row rows[] = {
        {"permission", EACCES, Jp("アクセスが拒否されました。 13")},
        {"operation not permitted", EPERM, Jp("アクセスが拒否されました。 1")},
        {"no space", ENOSPC, Jp("ディスクに十分な空き領域がありません。 28")},
        {"quota", EDQUOT, Jp("ディスクに十分な空き領域がありません。 122")},
        {"not found", ENOENT, Jp("指定されたファイルまたはフォルダが見つかりません。 2")},
        {"read-only", EROFS, Jp("読み取り専用のファイルシステムには書き込めません。 30")},
        {"exists", EEXIST, Jp("同じ名前のファイルが既に存在します。 17")},
        // A rare error keeps the system's description rather than none.
        {"other", EXDEV, std::string(std::strerror(EXDEV)) + " 18"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(DescribeError(row.error), row.text) << row.name;
}

// ---- the installation's group ----

TEST(InstallationRightsTest, WebServerUserComesFromHttpdConf) {
    struct Row {
        const char* name;
        std::string conf;
        const char* user;
    };
    const Row rows[] = {
        {"shipped template", ReadFile(fs::path(QUELLIN_SOURCE_DIR) / "dist/httpd/conf/httpd.conf"),
         "www-data"},
        {"another user", "Listen 80\r\nUser apache\r\nGroup apache\r\n", "apache"},
        {"quoted, indented", "  User \"daemon\"\n", "daemon"},
        {"first one wins", "User first\nUser second\n", "first"},
        {"comment and look-alike", "#User nobody\nUserDir public_html\n", "www-data"},
        {"none", "Listen 80\r\n", "www-data"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(WebServerUser(row.conf), row.user) << row.name;
}

TEST(InstallationRightsTest, OperatorIsTheSudoUserButNotRoot) {
    auto env = [](std::optional<std::string> sudoUser) -> EnvironmentLookup {
        return [sudoUser](const char* name) -> std::optional<std::string> {
            if (std::string(name) == "SUDO_USER")
                return sudoUser;
            return std::nullopt;
        };
    };
    EXPECT_EQ(SudoOperator(env(std::nullopt)), std::nullopt);
    EXPECT_EQ(SudoOperator(env("")), std::nullopt);
    EXPECT_EQ(SudoOperator(env("root")), std::nullopt);
    EXPECT_EQ(SudoOperator(env("alice")), std::optional<std::string>("alice"));
}

class GroupRightsTest : public quellin::testing::TempDirTest {};

TEST_F(GroupRightsTest, OnlyLogConfigAndHistoryAreSharedForWriting) {
    // The medium's tree, copied; beside it what the folder held before.
    const fs::path medium = dir / "medium";
    const fs::path install = dir / "inst";
    for (const fs::path& root : {medium, install}) {
        fs::create_directories(root / "log");
        fs::create_directories(root / "httpd" / "cgi-bin");
        WriteFile(root / "NEXORA.INI", "[Config]\r\n");
        WriteFile(root / "Quellin_tool", "console");
        WriteFile(root / "httpd" / "cgi-bin" / "Netprov", "netprov");
        fs::create_symlink("Netprov", root / "httpd" / "cgi-bin" / "nph-Netprov");
    }
    WriteFile(medium / "Setup", "not installed");
    WriteFile(install / "log" / "r1.log", "line\r\n");
    WriteFile(install / "base.db", "r1,,,,,,0,0,0,0,0,0\r\n");
    fs::create_directories(install / "unrelated");
    WriteFile(install / "unrelated" / "notes.txt", "mine");
    for (const char* folder : {"", "log", "httpd/cgi-bin", "unrelated"})
        ::chmod((install / folder).c_str(), 0755);
    ::chmod((install / "log" / "r1.log").c_str(), 0644);
    ::chmod((install / "base.db").c_str(), 0644);
    ::chmod((install / "NEXORA.INI").c_str(), 0666);
    ::chmod((install / "Quellin_tool").c_str(), 0775);
    ::chmod((install / "httpd" / "cgi-bin" / "Netprov").c_str(), 0700);
    ::chmod((install / "httpd").c_str(), 0700);
    ::chmod((install / "unrelated" / "notes.txt").c_str(), 0666);
    // Files outside the tree that a member reaches from a shared folder:
    // through a second name, and through a link swapped in between the
    // walk's look at an entry and its change.
    for (const char* name : {"linked", "secret"}) {
        WriteFile(dir / name, "keep");
        ::chmod((dir / name).c_str(), 0600);
    }
    fs::create_hard_link(dir / "linked", install / "log" / "linked.log");
    GroupRightsOptions options;
    options.beforeChange = [&](const fs::path& entry) {
        if (entry == install / "log" / "r1.log" && !fs::is_symlink(entry)) {
            fs::rename(entry, install / "log" / "r1.log.moved");
            fs::create_symlink(dir / "secret", entry);
        }
    };
    struct stat before {};
    ASSERT_EQ(::stat((install / "unrelated" / "notes.txt").c_str(), &before), 0);
    // Root hands the tree to another group; anyone else to a group of their own.
    const gid_t group = ::geteuid() == 0 ? 65534 : ::getegid();

    ASSERT_FALSE(ApplyGroupRights(medium, install, group, options));

    struct Row {
        const char* path;
        mode_t mode;  // permission bits with set-group-ID
    };
    const Row rows[] = {
        {"", 03775},
        {"log", 02775},
        {"log/r1.log.moved", 0664},
        {"config", 02775},
        {"history", 02775},
        {"base.db", 0660},
        {".Quellin_tool.lock", 0660},
        {"NEXORA.INI", 0644},
        {"Quellin_tool", 0755},
        {"httpd", 02750},
        {"httpd/cgi-bin", 02755},
        {"httpd/cgi-bin/Netprov", 0750},
    };
    for (const Row& row : rows) {
        struct stat info {};
        ASSERT_EQ(::lstat((install / row.path).c_str(), &info), 0) << row.path;
        EXPECT_EQ(info.st_mode & 07777, row.mode) << row.path;
        EXPECT_EQ(info.st_gid, group) << row.path;
    }
    EXPECT_TRUE(fs::is_symlink(install / "httpd" / "cgi-bin" / "nph-Netprov"));
    EXPECT_FALSE(fs::exists(install / "Setup"));
    for (const char* name : {"unrelated/notes.txt", "../linked", "../secret"}) {
        struct stat after {};
        ASSERT_EQ(::stat((install / name).c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & 07777, name[0] == 'u' ? 0666u : 0600u) << name;
        EXPECT_EQ(after.st_gid, before.st_gid) << name;
    }
}

// ---- the folder rules ----

class FolderRulesTest : public quellin::testing::TempDirTest {
protected:
    void SetUp() override { medium_ = setup::testing::MakeTestMedium(dir.path(), false); }

    fs::path medium_;
    FakeLauncher launcher_;
};

TEST_F(FolderRulesTest, RefusedFoldersCreateNothing) {
    struct Row {
        const char* name;
        std::string text;
        const char* message;
    };
    const std::string base = cp932::FromPath(dir.path());
    const Row rows[] = {
        {"empty", "", kFolderWrong},
        {"kanji", base + Sjis("/日本語"), kJapaneseInFolder},
        {"full-width letters", base + Sjis("/ＡＢＣ"), kJapaneseInFolder},
        {"one full-width blank", base + Sjis("/a　b"), kJapaneseInFolder},
        {"relative", "opt/Quellin_server", kFolderWrong},
        {"root", "/", kFolderWrong},
        {"the medium itself", base + "/medium", kFolderWrong},
        {"inside the medium", base + "/medium/sub/inst", kFolderWrong},
    };
    for (const Row& row : rows) {
        std::vector<fs::path> made;
        CInstaller installer(medium_, launcher_, dir / "desk", nullptr, [&](const fs::path& p) {
            made.push_back(p);
            return MakeDirectory(p);
        });
        std::optional<SetupMessage> failure = installer.PrepareFolder(row.text);
        ASSERT_TRUE(failure.has_value()) << row.name;
        EXPECT_EQ(failure->text, Jp(row.message)) << row.name;
        EXPECT_EQ(failure->icon, MsgIcon::Exclamation) << row.name;
        EXPECT_TRUE(made.empty()) << row.name;
    }
    EXPECT_FALSE(fs::exists(medium_ / "sub"));
}

TEST_F(FolderRulesTest, HalfWidthKatakanaIsAccepted) {
    CInstaller installer(medium_, launcher_, dir / "desk");
    const std::string folder = cp932::FromPath(dir.path()) + Sjis("/ｸｴﾘﾝ/ｻｰﾊﾞ");
    EXPECT_EQ(installer.PrepareFolder(folder), std::nullopt);
    EXPECT_TRUE(fs::is_directory(dir / "ｸｴﾘﾝ" / "ｻｰﾊﾞ"));
    EXPECT_EQ(installer.installFolder(), folder);
}

TEST_F(FolderRulesTest, TrailingSeparatorsAreDropped) {
    CInstaller installer(medium_, launcher_, dir / "desk");
    EXPECT_EQ(installer.PrepareFolder(cp932::FromPath(dir.path()) + "/inst//"), std::nullopt);
    EXPECT_EQ(installer.installFolder(), cp932::FromPath(dir.path()) + "/inst");
}

TEST(FolderWalkTest, CreatesOneLevelPerPassFromTheTop) {
    std::set<std::string> existing = {"/", "/base"};
    std::vector<std::string> tried;
    std::vector<std::string> created;
    auto makeDirectory = [&](const fs::path& p) {
        tried.push_back(p.string());
        if (existing.count(p.string()))
            return EEXIST;
        if (!existing.count(p.parent_path().string()))
            return ENOENT;
        existing.insert(p.string());
        created.push_back(p.string());
        return 0;
    };
    EXPECT_TRUE(CreateFolderWithParents("/base/A/B/C", makeDirectory));
    EXPECT_EQ(created, (std::vector<std::string>{"/base/A", "/base/A/B", "/base/A/B/C"}));
    EXPECT_EQ(tried, (std::vector<std::string>{"/base/A/B/C", "/base/A/B", "/base/A", "/base/A/B/C",
                                               "/base/A/B", "/base/A/B/C"}));
}

TEST(FolderWalkTest, StopsAtAnyOtherError) {
    struct Row {
        const char* name;
        std::string folder;
        int error;
    };
    for (const Row& row : {Row{"permission", "/x/y", EACCES}, Row{"no separator", "x", ENOENT},
                           Row{"name too long", "/x", ENAMETOOLONG}}) {
        int calls = 0;
        auto makeDirectory = [&](const fs::path&) {
            ++calls;
            return row.error;
        };
        EXPECT_FALSE(CreateFolderWithParents(row.folder, makeDirectory)) << row.name;
        EXPECT_LE(calls, 2) << row.name;
    }
}

class FolderWalkDiskTest : public quellin::testing::TempDirTest {};

TEST_F(FolderWalkDiskTest, ExistingFoldersCountAsCreated) {
    const std::string base = cp932::FromPath(dir.path());
    EXPECT_TRUE(CreateFolderWithParents(base + "/a/b/c", MakeDirectory));
    EXPECT_TRUE(fs::is_directory(dir / "a" / "b" / "c"));
    EXPECT_TRUE(CreateFolderWithParents(base + "/a/b/c", MakeDirectory));
    WriteFile(dir / "file", "x");
    EXPECT_FALSE(CreateFolderWithParents(base + "/file/sub", MakeDirectory));
}

TEST_F(FolderRulesTest, FileInTheWayIsAWrongFolder) {
    WriteFile(dir / "file", "x");
    CInstaller installer(medium_, launcher_, dir / "desk");
    auto failure = installer.PrepareFolder(cp932::FromPath(dir.path()) + "/file");
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->text, Jp(kFolderWrong));
}

// ---- the installation ----

class InstallTest : public quellin::testing::TempDirTest {
protected:
    void SetUp() override {
        medium_ = setup::testing::MakeTestMedium(dir.path(), false, settingsName());
        folder_ = cp932::FromPath(dir.path()) + "/inst/a";
        install_ = dir / "inst" / "a";
    }
    virtual std::string settingsName() const { return "NEXORA.INI"; }

    std::optional<SetupMessage> Install(ProcessLauncher& launcher) {
        CInstaller installer(medium_, launcher, dir / "home" / "Desktop");
        if (auto failure = installer.PrepareFolder(folder_))
            return failure;
        auto failure = installer.CopyAndConfigure();
        if (!failure && installer.patcherPid() > 0) {
            EXPECT_EQ(launcher.Wait(installer.patcherPid()), std::optional<int>(0));
        }
        return failure;
    }

    fs::path medium_;
    std::string folder_;
    fs::path install_;
};

TEST_F(InstallTest, InstalledTreeIsCompleteAndConfigured) {
    PosixProcessLauncher launcher;
    ASSERT_EQ(Install(launcher), std::nullopt);

    EXPECT_FALSE(fs::exists(install_ / "Setup"));
    EXPECT_FALSE(fs::exists(install_ / "Webcfgpatch"));
    EXPECT_TRUE(fs::exists(medium_ / "Setup"));
    EXPECT_EQ(ReadFile(install_ / "license.txt"), setup::testing::TestLicenseBytes());
    EXPECT_EQ(ReadFile(install_ / "syslog" / "Syslogd"), "syslogd");
    EXPECT_TRUE(fs::is_directory(install_ / "firmware"));
    EXPECT_TRUE(fs::is_directory(install_ / "log"));
    EXPECT_FALSE(fs::exists(install_ / "base.db"));
    ASSERT_TRUE(fs::is_symlink(install_ / "httpd" / "cgi-bin" / "nph-Netprov"));
    EXPECT_EQ(fs::read_symlink(install_ / "httpd" / "cgi-bin" / "nph-Netprov"), "Netprov");
    EXPECT_NE(fs::status(install_ / "Quellin_tool").permissions() & fs::perms::owner_write,
              fs::perms::none);

    EXPECT_EQ(ReadFile(install_ / "NEXORA.INI"),
              "[Config]\r\nLOGINID=admin\r\nMAXROWS=300\r\nFIRMDIR=" + folder_ +
                  "/firmware\r\nLOGDIR=" + folder_ + "/log\r\nPORT=80\r\n");

    const std::string conf = ReadFile(install_ / "httpd" / "conf" / "httpd.conf");
    for (const std::string& line :
         {"\r\nServerRoot \"" + folder_ + "/httpd\"\r\n", std::string("\r\nListen 80\r\n"),
          "\r\nDocumentRoot \"" + folder_ + "/httpd/htdocs\"\r\n",
          "\r\nScriptAlias /cgi-bin/ \"" + folder_ + "/httpd/cgi-bin/\"\r\n",
          "\r\n<Directory \"" + folder_ + "/httpd/cgi-bin\">\r\n"})
        EXPECT_NE(conf.find(line), std::string::npos) << line;
    EXPECT_EQ(conf.find("\"*"), std::string::npos);

    EXPECT_EQ(ReadFile(dir / "home" / "Desktop" / kDesktopEntryName),
              "[Desktop Entry]\nType=Application\nVersion=1.0\nName=Quellin Server\nExec=\"" +
                  folder_ + "/Quellin_tool\"\nPath=" + folder_ + "\nTerminal=false\n");

    // The backup's units start the installed quellin; the timer is as shipped.
    const std::string service = ReadFile(install_ / "systemd" / "quellin-backup.service");
    EXPECT_NE(service.find("\nExecStart=\"" + folder_ + "/quellin\" backup --all"),
              std::string::npos)
        << service;
    EXPECT_EQ(service.find("@QUELLIN_FOLDER@"), std::string::npos);
    EXPECT_EQ(ReadFile(install_ / "systemd" / "quellin-backup.timer"),
              ReadFile(fs::path(QUELLIN_SOURCE_DIR) / "dist" / "systemd" / "quellin-backup.timer"));
}

TEST(BackupUnitsTest, FolderIsEscapedForTheCommandLine) {
    EXPECT_EQ(FillInFolder("ExecStart=\"@QUELLIN_FOLDER@/quellin\" backup\nX=@QUELLIN_FOLDER@\n",
                           "/opt/a b"),
              "ExecStart=\"/opt/a b/quellin\" backup\nX=/opt/a b\n");
    EXPECT_EQ(FillInFolder("\"@QUELLIN_FOLDER@\"", "/x/100%/$HOME/\"q\"\\"),
              "\"/x/100%%/$$HOME/\\\"q\\\"\\\\\"");
    EXPECT_EQ(FillInFolder("no marker", "/x"), "no marker");
}

TEST_F(InstallTest, PatcherIsStartedFromTheMediumWithTheInstalledConfiguration) {
    FakeLauncher launcher;
    ASSERT_EQ(Install(launcher), std::nullopt);
    ASSERT_EQ(launcher.starts.size(), 1u);
    EXPECT_EQ(launcher.starts[0].program, medium_ / "Webcfgpatch");
    EXPECT_EQ(launcher.starts[0].arguments,
              (std::vector<std::string>{folder_ + "/httpd/conf/httpd.conf", folder_, "80"}));
}

// What stands in the folder never receives the copy: a file's other name
// (or someone's descriptor) keeps the old bytes, and where root installs,
// another user's link in a folder's place goes.
TEST_F(InstallTest, ExistingFolderIsAcceptedAndOverwritten) {
    fs::create_directories(install_ / "httpd" / "cgi-bin");
    WriteFile(dir / "held", "old console");
    fs::create_hard_link(dir / "held", install_ / "Quellin_tool");
    WriteFile(install_ / "base.db", "kept registry\r\n");
    fs::create_symlink("elsewhere", install_ / "httpd" / "cgi-bin" / "nph-Netprov");
    fs::create_directories(dir / "outside");
    fs::create_symlink(dir / "outside", install_ / "firmware");
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::lchown((install_ / "firmware").c_str(), 65534, 65534), 0);
    }
    FakeLauncher launcher;
    ASSERT_EQ(Install(launcher), std::nullopt);
    EXPECT_EQ(ReadFile(install_ / "Quellin_tool"), "console");
    EXPECT_EQ(ReadFile(dir / "held"), "old console");
    EXPECT_EQ(ReadFile(install_ / "base.db"), "kept registry\r\n");
    EXPECT_EQ(fs::read_symlink(install_ / "httpd" / "cgi-bin" / "nph-Netprov"), "Netprov");
    EXPECT_EQ(fs::is_symlink(install_ / "firmware"), !root);
    // A second installation over the first.
    ASSERT_EQ(Install(launcher), std::nullopt);
    EXPECT_EQ(launcher.starts.size(), 2u);
}

TEST_F(InstallTest, FailuresSkipTheRemainingSteps) {
    struct Row {
        const char* name;
        int startError;
        bool removeMedium;
        bool removePatcher;
        std::string message;
    };
    const Row rows[] = {
        {"medium gone", 0, true, false, Jp(kFolderWrong)},
        {"patcher missing", 0, false, true, Jp(kFolderWrong)},
        {"patcher not startable", EACCES, false, false, Jp("アクセスが拒否されました。 13")},
    };
    for (const Row& row : rows) {
        fs::remove_all(dir / "inst");
        fs::remove_all(dir / "home");
        fs::remove_all(medium_);
        medium_ = setup::testing::MakeTestMedium(dir.path(), false);
        if (row.removeMedium)
            fs::remove_all(medium_);
        if (row.removePatcher)
            fs::remove(medium_ / "Webcfgpatch");
        FakeLauncher launcher;
        launcher.error = row.startError;
        CInstaller installer(medium_, launcher, dir / "home" / "Desktop");
        ASSERT_EQ(installer.PrepareFolder(folder_), std::nullopt) << row.name;
        std::optional<SetupMessage> failure = installer.CopyAndConfigure();
        ASSERT_TRUE(failure.has_value()) << row.name;
        EXPECT_EQ(failure->text, row.message) << row.name;
        EXPECT_FALSE(fs::exists(dir / "home" / "Desktop" / kDesktopEntryName)) << row.name;
        if (fs::exists(install_ / "NEXORA.INI")) {
            EXPECT_EQ(ReadFile(install_ / "NEXORA.INI").find("FIRMDIR"), std::string::npos);
        }
    }
}

TEST_F(InstallTest, AFileThatCannotBeCopiedStopsTheInstallation) {
    // Folders in the way of the medium's files: whichever comes first in
    // the copy fails, and the failure is not lost to the entries after it.
    for (const char* blocked : {"Quellin_tool", "license.txt", "firmifconvert.db", "syslog/Syslogd",
                                "httpd/htdocs/index.html"})
        fs::create_directories(install_ / blocked);
    FakeLauncher launcher;
    std::optional<SetupMessage> failure = Install(launcher);
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->text, Jp("パラメーターが間違っています。 22"));
    EXPECT_TRUE(launcher.starts.empty());
    EXPECT_FALSE(fs::exists(dir / "home" / "Desktop" / kDesktopEntryName));
}

TEST_F(InstallTest, MissingHomeIsExplainedInJapanese) {
    FakeLauncher launcher;
    CInstaller installer(medium_, launcher, std::nullopt);
    ASSERT_EQ(installer.PrepareFolder(folder_), std::nullopt);
    std::optional<SetupMessage> failure = installer.CopyAndConfigure();
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->text, Jp(kHomeNotSet));
}

class LowerCaseSettingsTest : public InstallTest {
    std::string settingsName() const override { return "NEXORA.ini"; }
};

TEST_F(LowerCaseSettingsTest, SettingsFileIsFoundWhateverItsCase) {
    FakeLauncher launcher;
    ASSERT_EQ(Install(launcher), std::nullopt);
    EXPECT_FALSE(fs::exists(install_ / "NEXORA.INI"));
    EXPECT_NE(ReadFile(install_ / "NEXORA.ini").find("PORT=80\r\n"), std::string::npos);
}

class NoSettingsTest : public InstallTest {
    std::string settingsName() const override { return ""; }
};

TEST_F(NoSettingsTest, NoSettingsFileIsCreated) {
    FakeLauncher launcher;
    ASSERT_EQ(Install(launcher), std::nullopt);
    for (const auto& entry : fs::directory_iterator(install_))
        EXPECT_EQ(entry.path().filename().string().find("NEXORA"), std::string::npos);
    EXPECT_TRUE(fs::exists(dir / "home" / "Desktop" / kDesktopEntryName));
}

// ---- licence text ----

TEST(LicenseLinesTest, EveryLineEndsInCrLf) {
    struct Row {
        const char* name;
        std::string in;
        std::string out;
    };
    const Row rows[] = {
        {"empty", "", ""},
        {"crlf", "a\r\nb\r\n", "a\r\nb\r\n"},
        {"lf", "a\nb\n", "a\r\nb\r\n"},
        {"lone cr", "a\rb", "a\r\nb\r\n"},
        {"no final end", "a\r\nb", "a\r\nb\r\n"},
        {"blank lines", "\r\n\n", "\r\n\r\n"},
        {"cp932 bytes kept", Sjis("表示") + "\n", Sjis("表示") + "\r\n"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(JoinLicenseLines(row.in), row.out) << row.name;
}

class LicenseFileTest : public quellin::testing::TempDirTest {};

TEST_F(LicenseFileTest, MissingFileIsEmptyAndUnreadableOneIsReported) {
    LicenseText missing = ReadLicenseText(dir.path());
    EXPECT_EQ(missing.text, "");
    EXPECT_EQ(missing.error, "");
    fs::create_directory(dir / "license.txt");
    LicenseText unreadable = ReadLicenseText(dir.path());
    EXPECT_EQ(unreadable.text, "");
    EXPECT_EQ(unreadable.error, Jp("ファイルではなくフォルダです。 21"));
}

TEST(ShippedLicenseTest, IsCp932WithCrLfLines) {
    const std::string bytes = ReadFile(fs::path(QUELLIN_SOURCE_DIR) / "setup" / "license.txt");
    ASSERT_FALSE(bytes.empty());
    EXPECT_TRUE(cp932::ToUtf8(bytes).has_value());
    EXPECT_EQ(JoinLicenseLines(bytes), bytes);
}

// ---- the desktop entry ----

TEST(DesktopEntryTest, QuotesAndEscapesTheFolder) {
    struct Row {
        const char* name;
        std::string folder;
        std::string exec;
        std::string path;
    };
    const Row rows[] = {
        {"plain", "/opt/Quellin_server", "\"/opt/Quellin_server/Quellin_tool\"",
         "/opt/Quellin_server"},
        {"blank", "/opt/Q S", "\"/opt/Q S/Quellin_tool\"", "/opt/Q S"},
        {"percent", "/opt/100%", "\"/opt/100%%/Quellin_tool\"", "/opt/100%"},
        {"dollar and quote", "/opt/$a\"b", "\"/opt/\\\\$a\\\\\"b/Quellin_tool\"", "/opt/$a\"b"},
        {"backslash", "/opt/a\\b", "\"/opt/a\\\\\\\\b/Quellin_tool\"", "/opt/a\\\\b"},
    };
    for (const Row& row : rows) {
        const std::string text = DesktopEntryText(row.folder);
        EXPECT_NE(text.find("\nExec=" + row.exec + "\n"), std::string::npos) << row.name << text;
        EXPECT_NE(text.find("\nPath=" + row.path + "\n"), std::string::npos) << row.name << text;
    }
}

EnvironmentLookup Env(std::map<std::string, std::string> values) {
    return [values](const char* name) -> std::optional<std::string> {
        auto it = values.find(name);
        if (it == values.end())
            return std::nullopt;
        return it->second;
    };
}

class DesktopFolderTest : public quellin::testing::TempDirTest {};

TEST_F(DesktopFolderTest, FollowsTheXdgRules) {
    const std::string home = dir.path().string();
    EXPECT_EQ(DesktopFolder(Env({{"XDG_DESKTOP_DIR", "/d"}, {"HOME", home}})), fs::path("/d"));
    EXPECT_EQ(DesktopFolder(Env({{"HOME", home}})), dir / "Desktop");
    EXPECT_EQ(DesktopFolder(Env({})), std::nullopt);
    fs::create_directories(dir / ".config");
    WriteFile(dir / ".config" / "user-dirs.dirs",
              "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/デスクトップ\"\n");
    EXPECT_EQ(DesktopFolder(Env({{"HOME", home}})), dir / "デスクトップ");
    WriteFile(dir / "dirs", "XDG_DESKTOP_DIR=\"/srv/desk\"\n");
    EXPECT_EQ(DesktopFolder(Env({{"HOME", home}, {"XDG_CONFIG_HOME", home}})), dir / "Desktop");
    fs::rename(dir / "dirs", dir / "user-dirs.dirs");
    EXPECT_EQ(DesktopFolder(Env({{"HOME", home}, {"XDG_CONFIG_HOME", home}})),
              fs::path("/srv/desk"));
}

TEST(UserDirsTest, AcceptsOnlyHomeRelativeOrAbsoluteFolders) {
    struct Row {
        const char* name;
        std::string text;
        std::optional<fs::path> desktop;
    };
    const Row rows[] = {
        {"home relative", "XDG_DESKTOP_DIR=\"$HOME/Desk\"", fs::path("/h/Desk")},
        {"home itself", "XDG_DESKTOP_DIR=\"$HOME/\"", fs::path("/h")},
        {"absolute", "XDG_DESKTOP_DIR=\"/x/y\"\r\n", fs::path("/x/y")},
        {"escaped quote", "XDG_DESKTOP_DIR=\"/x\\\"y\"", fs::path("/x\"y")},
        {"relative", "XDG_DESKTOP_DIR=\"Desk\"", std::nullopt},
        {"other variable", "XDG_DESKTOP_DIRX=\"/x\"", std::nullopt},
        {"home prefix only", "XDG_DESKTOP_DIR=\"$HOMEX/a\"", std::nullopt},
        {"unquoted", "XDG_DESKTOP_DIR=/x", std::nullopt},
        {"lone quote", "XDG_DESKTOP_DIR=\"", std::nullopt},
        {"second line wins over broken first", "XDG_DESKTOP_DIR=x\nXDG_DESKTOP_DIR=\"/z\"",
         fs::path("/z")},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ParseUserDirsDesktop(row.text, "/h"), row.desktop) << row.name;
}

// ---- the unattended form ----

TEST(UnattendedOptionsTest, ParsesTheScriptedForm) {
    struct Row {
        const char* name;
        std::vector<std::string> arguments;
        bool requested;
        bool accept;
        std::string folder;
        bool error;
    };
    const Row rows[] = {
        {"none", {}, false, false, kDefaultFolder, false},
        {"qt arguments only", {"-platform", "offscreen"}, false, false, kDefaultFolder, false},
        {"full", {"--folder", "/srv/q", "--accept-license"}, true, true, "/srv/q", false},
        {"equals form", {"--accept-license", "--folder=/srv/q"}, true, true, "/srv/q", false},
        {"default folder", {"--accept-license"}, true, true, kDefaultFolder, false},
        {"not accepted", {"--folder", "/srv/q"}, true, false, "/srv/q", false},
        {"folder missing", {"--accept-license", "--folder"}, true, true, kDefaultFolder, true},
        {"unknown", {"--accept-license", "--quiet"}, true, true, kDefaultFolder, true},
        {"own unknown", {"-style", "--quiet"}, false, false, kDefaultFolder, true},
    };
    for (const Row& row : rows) {
        UnattendedOptions options = ParseUnattendedOptions(row.arguments);
        EXPECT_EQ(options.requested, row.requested) << row.name;
        EXPECT_EQ(options.acceptLicense, row.accept) << row.name;
        EXPECT_EQ(options.folder, row.folder) << row.name;
        EXPECT_EQ(!options.error.empty(), row.error) << row.name;
    }
}

class UnattendedTest : public quellin::testing::TempDirTest {};

TEST_F(UnattendedTest, RefusalsAndFailuresEndNonZero) {
    const fs::path medium = setup::testing::MakeTestMedium(dir.path(), false);
    FakeLauncher launcher;
    std::ostringstream out, err;
    const std::string folder = (dir / "inst").string();
    EXPECT_EQ(RunUnattended(ParseUnattendedOptions({"--folder", folder}), medium, launcher,
                            dir / "desk", out, err),
              1);
    EXPECT_EQ(err.str(), std::string(kLicenseDeclined) + "\n");
    EXPECT_FALSE(fs::exists(dir / "inst"));

    err.str("");
    EXPECT_EQ(RunUnattended(ParseUnattendedOptions({"--bogus", "--accept-license"}), medium,
                            launcher, dir / "desk", out, err),
              2);

    err.str("");
    EXPECT_EQ(
        RunUnattended(ParseUnattendedOptions({"--accept-license", "--folder", folder + "/日本"}),
                      medium, launcher, dir / "desk", out, err),
        1);
    EXPECT_EQ(err.str(), std::string(kJapaneseInFolder) + "\n");

    err.str("");
    EXPECT_EQ(RunUnattended(ParseUnattendedOptions({"--accept-license", "--folder", folder}),
                            medium, launcher, dir / "desk", out, err),
              0);
    EXPECT_EQ(out.str(), std::string(kCompleted) + "\n");
    EXPECT_EQ(err.str(), "");
}

}  // namespace
}  // namespace quellin::setup
