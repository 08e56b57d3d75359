// The history against real repositories in temporary folders.  git itself
// reads back what was stored: commits, messages, times, files and a clean
// working folder.
#include "config_history.h"
#include "clock.h"
#include "codec.h"
#include "device_file_name.h"
#include "test_support.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace quellin::history {
namespace {

namespace fs = std::filesystem;
using quellin::testing::ChildProcess;
using quellin::testing::ReadFile;
using quellin::testing::Sjis;
using quellin::testing::TempDirTest;
using quellin::testing::WriteFile;

bool Committed(const Result<ConfigHistory::Stored>& stored) {
    return stored && stored->committed;
}
bool Unchanged(const Result<ConfigHistory::Stored>& stored) {
    return stored && !stored->committed;
}
// The diff, or the reason it could not be made.
std::string Text(const Result<std::string>& diff) {
    return diff ? *diff : "failed: " + cp932::ToUtf8Lossy(diff.error().detail);
}

constexpr std::int64_t kMonday = 1714381200;  // 2024-04-29 09:00:00 UTC

const std::string kFirst = "hostname osaka-1\ninterface lan0\n ip address 192.168.1.1/24\neof\n";
const std::string kSecond = "hostname osaka-1\ninterface lan0\n ip address 192.168.9.1/24\neof\n";

class ConfigHistoryTest : public TempDirTest {
protected:
    fs::path Folder() const { return dir / "history"; }

    std::unique_ptr<ConfigHistory> Opened(ConfigHistory::Access access) {
        auto history = ConfigHistory::Open(Folder(), access);
        EXPECT_TRUE(history) << cp932::ToUtf8Lossy(history.error().detail);
        return history ? std::move(*history) : nullptr;
    }
    std::unique_ptr<ConfigHistory> OpenForWriting() {
        return Opened(ConfigHistory::Access::kWrite);
    }

    // git run on the repository; its standard output.
    std::string Git(const std::vector<std::string>& arguments, int* status = nullptr) {
        std::vector<std::string> all = {"-C", Folder().string()};
        all.insert(all.end(), arguments.begin(), arguments.end());
        const fs::path out = dir / "git.out";
        ChildProcess git("/usr/bin/git", all, {"HOME=" + dir.path().string(), "LC_ALL=C"}, {},
                         out.string());
        const int result = git.Wait(30000).value_or(-1);
        if (status != nullptr)
            *status = result;
        else
            EXPECT_EQ(result, 0);
        return fs::exists(out) ? ReadFile(out) : "";
    }
};

TEST_F(ConfigHistoryTest, CommitsOnlyWhatChanged) {
    auto history = OpenForWriting();
    ASSERT_TRUE(history);
    const auto first = history->Store("osaka-1", kFirst, kMonday);
    ASSERT_TRUE(Committed(first));
    EXPECT_EQ(first->commit.size(), 40u);
    EXPECT_TRUE(Unchanged(history->Store("osaka-1", kFirst, kMonday + 60)));
    const auto second = history->Store("osaka-1", kSecond, kMonday + 120);
    ASSERT_TRUE(Committed(second));
    EXPECT_TRUE(Committed(history->Store("kobe", kFirst, kMonday + 180)));

    // git sees three commits on main, each with its device and time, and a
    // working folder holding the newest versions.
    EXPECT_EQ(Git({"rev-parse", "--abbrev-ref", "HEAD"}), "main\n");
    const std::string log = Git({"log", "--format=%ct|%s|%an"});
    EXPECT_EQ(log, std::to_string(kMonday + 180) +
                       "|kobe: " + FormatLocalTime(kMonday + 180, "%Y/%m/%d %H:%M:%S") +
                       "|Quellin Server\n" + std::to_string(kMonday + 120) +
                       "|osaka-1: " + FormatLocalTime(kMonday + 120, "%Y/%m/%d %H:%M:%S") +
                       "|Quellin Server\n" + std::to_string(kMonday) + "|osaka-1: " +
                       FormatLocalTime(kMonday, "%Y/%m/%d %H:%M:%S") + "|Quellin Server\n");
    EXPECT_EQ(Git({"rev-parse", "HEAD~1"}), second->commit + "\n");
    EXPECT_EQ(Git({"show", "HEAD~1:osaka-1.cfg"}), kSecond);
    EXPECT_EQ(Git({"show", first->commit + ":osaka-1.cfg"}), kFirst);
    EXPECT_EQ(Git({"ls-tree", "--name-only", "HEAD"}), "kobe.cfg\nosaka-1.cfg\n");
    EXPECT_EQ(Git({"status", "--porcelain"}), "");
    Git({"fsck", "--strict"});
    EXPECT_EQ(ReadFile(Folder() / "osaka-1.cfg"), kSecond);
    EXPECT_EQ(ReadFile(Folder() / "kobe.cfg"), kFirst);
}

TEST_F(ConfigHistoryTest, ListsVersionsAndDiffsThem) {
    {
        auto history = OpenForWriting();
        ASSERT_TRUE(history);
        ASSERT_TRUE(Committed(history->Store("osaka-1", kFirst, kMonday)));
        ASSERT_TRUE(Committed(history->Store("kobe", "hostname kobe\neof\n", kMonday + 30)));
        ASSERT_TRUE(Committed(history->Store("osaka-1", kSecond, kMonday + 60)));
        ASSERT_TRUE(Committed(
            history->Store("osaka-1", kSecond + "ntp server 192.168.9.2\n", kMonday + 90)));
    }
    // Read by a second opening, as another command would.
    auto history = Opened(ConfigHistory::Access::kRead);
    ASSERT_TRUE(history);
    auto versions = history->History("osaka-1");
    ASSERT_TRUE(versions);
    ASSERT_EQ(versions->size(), 3u);
    EXPECT_EQ((*versions)[0].time, kMonday + 90);
    EXPECT_EQ((*versions)[0].changes, (LineChanges{1, 0}));
    EXPECT_EQ((*versions)[1].time, kMonday + 60);
    EXPECT_EQ((*versions)[1].changes, (LineChanges{1, 1}));
    EXPECT_EQ((*versions)[2].time, kMonday);
    EXPECT_EQ((*versions)[2].changes, (LineChanges{4, 0}));
    EXPECT_EQ(
        Git({"log", "--format=%H", "--", "osaka-1.cfg"}),
        (*versions)[0].commit + "\n" + (*versions)[1].commit + "\n" + (*versions)[2].commit + "\n");

    auto label = [&](std::size_t i) {
        return "osaka-1 " + ShortCommit((*versions)[i].commit) + " " +
               FormatLocalTime((*versions)[i].time, "%Y/%m/%d %H:%M:%S");
    };
    // No revision: the last change.
    EXPECT_EQ(Text(history->Diff("osaka-1", {})),
              "--- " + label(1) + "\n+++ " + label(0) +
                  "\n@@ -2,3 +2,4 @@\n interface lan0\n  ip address 192.168.9.1/24\n eof\n"
                  "+ntp server 192.168.9.2\n");
    // One: from it to the newest; abbreviated ids are taken.
    EXPECT_EQ(Text(history->Diff("osaka-1", {(*versions)[2].commit.substr(0, 7)})),
              "--- " + label(2) + "\n+++ " + label(0) +
                  "\n@@ -1,4 +1,5 @@\n hostname osaka-1\n interface lan0\n"
                  "- ip address 192.168.1.1/24\n+ ip address 192.168.9.1/24\n eof\n"
                  "+ntp server 192.168.9.2\n");
    // Two: between them, in the order given.
    EXPECT_EQ(Text(history->Diff("osaka-1", {(*versions)[1].commit, (*versions)[2].commit})),
              "--- " + label(1) + "\n+++ " + label(2) +
                  "\n@@ -1,4 +1,4 @@\n hostname osaka-1\n interface lan0\n"
                  "- ip address 192.168.9.1/24\n+ ip address 192.168.1.1/24\n eof\n");
    EXPECT_EQ(Text(history->Diff("osaka-1", {(*versions)[1].commit, (*versions)[1].commit})), "");

    // The only version of a device: its whole text is the change.
    auto kobe = history->Diff("kobe", {});
    ASSERT_TRUE(kobe);
    EXPECT_NE(kobe->find("\n@@ -0,0 +1,2 @@\n+hostname kobe\n+eof\n"), std::string::npos) << *kobe;
    EXPECT_EQ(kobe->rfind("--- kobe (", 0), 0u) << *kobe;

    auto unknown = history->Diff("osaka-1", {"0123456789abcdef"});
    EXPECT_EQ(unknown.error().code, ErrorCode::kNotFound);
    EXPECT_NE(unknown.error().detail.find("0123456789abcdef"), std::string::npos);
    auto none = history->History("nagoya");
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
    EXPECT_EQ(history->Diff("nagoya", {}).error(),
              (Error{ErrorCode::kNotFound, Sjis("保存された構成定義がありません: nagoya")}));
}

TEST_F(ConfigHistoryTest, JapaneseDeviceNamesGetReadableFiles) {
    auto history = OpenForWriting();
    ASSERT_TRUE(history);
    const std::string name = Sjis("大阪/梅田 1");
    const std::string text = Sjis("hostname 梅田\neof\n");
    ASSERT_TRUE(Committed(history->Store(name, text, kMonday)));
    EXPECT_EQ(DeviceFileName(name), "大阪%2F梅田%201.cfg");
    EXPECT_EQ(Git({"-c", "core.quotePath=false", "ls-tree", "--name-only", "HEAD"}),
              "大阪%2F梅田%201.cfg\n");
    EXPECT_EQ(ReadFile(Folder() / "大阪%2F梅田%201.cfg"), text);
    EXPECT_NE(Git({"log", "--format=%s"}).find("大阪/梅田 1: "), std::string::npos);
    auto versions = history->History(name);
    ASSERT_TRUE(versions);
    EXPECT_EQ(versions->size(), 1u);
}

TEST_F(ConfigHistoryTest, StoresFromManyThreadsTakeTurns) {
    auto history = OpenForWriting();
    ASSERT_TRUE(history);
    constexpr int kThreads = 6;
    constexpr int kDevices = 8;
    std::vector<std::thread> threads;
    std::atomic<int> committed{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int d = 0; d < kDevices; ++d) {
                const std::string name = "r" + std::to_string(t) + "-" + std::to_string(d);
                if (Committed(history->Store(name, "hostname " + name + "\neof\n", kMonday + d)))
                    ++committed;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(committed.load(), kThreads * kDevices);
    EXPECT_EQ(Git({"rev-list", "--count", "HEAD"}), std::to_string(kThreads * kDevices) + "\n");
    EXPECT_EQ(Git({"status", "--porcelain"}), "");
}

// A store killed while git's own lock files were held leaves them behind;
// the stores that follow take them, once older than a git command holds
// one, for what they are and neither fail nor leave git's index behind.
TEST_F(ConfigHistoryTest, LockFilesOfAKilledStoreDoNotHoldUpTheNextOnes) {
    {
        auto history = OpenForWriting();
        ASSERT_TRUE(history);
        ASSERT_TRUE(Committed(history->Store("osaka-1", kFirst, kMonday)));
    }
    for (const char* lock : {"index.lock", "HEAD.lock", "refs/heads/main.lock"}) {
        WriteFile(Folder() / ".git" / lock, "");
        fs::last_write_time(Folder() / ".git" / lock,
                            fs::file_time_type::clock::now() - std::chrono::minutes(11));
    }

    auto history = OpenForWriting();
    ASSERT_TRUE(history);
    const auto second = history->Store("osaka-1", kSecond, kMonday + 60);
    ASSERT_TRUE(Committed(second));
    EXPECT_EQ(Git({"rev-parse", "HEAD"}), second->commit + "\n");
    EXPECT_EQ(Git({"status", "--porcelain"}), "");
    EXPECT_FALSE(fs::exists(Folder() / ".git" / "index.lock"));
}

TEST_F(ConfigHistoryTest, ReopensAnExistingRepository) {
    {
        auto history = OpenForWriting();
        ASSERT_TRUE(history);
        ASSERT_TRUE(Committed(history->Store("a", kFirst, kMonday)));
    }
    auto history = OpenForWriting();
    ASSERT_TRUE(history);
    EXPECT_TRUE(Unchanged(history->Store("a", kFirst, kMonday + 1)));
    EXPECT_TRUE(Committed(history->Store("a", kSecond, kMonday + 2)));
    EXPECT_EQ(Git({"rev-list", "--count", "HEAD"}), "2\n");
}

TEST_F(ConfigHistoryTest, FoldersThatCannotHoldTheHistoryAreNamed) {
    // Reading needs a history.
    EXPECT_EQ(ConfigHistory::Open(Folder(), ConfigHistory::Access::kRead).error(),
              (Error{ErrorCode::kNotFound,
                     Sjis("構成定義の履歴はまだありません: ") + Folder().string()}));
    EXPECT_FALSE(fs::exists(Folder()));

    // A file where the folder belongs.
    WriteFile(Folder(), "not a folder");
    EXPECT_EQ(cp932::ToUtf8Lossy(
                  ConfigHistory::Open(Folder(), ConfigHistory::Access::kWrite).error().detail),
              "構成定義の履歴フォルダを作成できません: " + Folder().string() + ": Not a directory");
    fs::remove(Folder());

    // The parent does not exist: only the folder itself is made.
    const auto orphan =
        ConfigHistory::Open(dir / "missing" / "history", ConfigHistory::Access::kWrite);
    EXPECT_NE(cp932::ToUtf8Lossy(orphan.error().detail).find("No such file or directory"),
              std::string::npos);
}

// A folder the user may not write: the operator's own rights, which bind
// only a user other than root; as root the attempt runs in a child process
// that has become nobody.
TEST_F(ConfigHistoryTest, FolderWithoutWriteRightsFailsClearly) {
    {
        auto history = OpenForWriting();
        ASSERT_TRUE(history);
        ASSERT_TRUE(Committed(history->Store("a", kFirst, kMonday)));
    }
    const fs::path readOnly = dir / "read-only";
    fs::create_directory(readOnly);
    fs::permissions(dir.path(),
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(readOnly,
                    fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    if (::geteuid() != 0) {
        fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec);
        fs::permissions(Folder() / ".git", fs::perms::owner_write, fs::perm_options::remove);
    }
    auto attempt = [&](const fs::path& folder) {
        auto history = ConfigHistory::Open(folder, ConfigHistory::Access::kWrite);
        return history ? std::string("opened") : cp932::ToUtf8Lossy(history.error().detail);
    };
    std::vector<std::string> results;
    const std::vector<fs::path> folders = {readOnly / "history", readOnly, Folder()};
    if (::geteuid() == 0) {
        // Write access to the existing history is taken away from nobody by
        // its mode alone (0775 and group-owned by root's group).
        int pipe[2];
        ASSERT_EQ(::pipe(pipe), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(pipe[0]);
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(3);
            std::string all;
            for (const auto& folder : folders)
                all += attempt(folder) + "\n";
            (void)!::write(pipe[1], all.data(), all.size());
            ::_exit(0);
        }
        ::close(pipe[1]);
        std::string all;
        char buffer[4096];
        for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;)
            all.append(buffer, static_cast<std::size_t>(n));
        ::close(pipe[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        for (std::size_t start = 0, end; (end = all.find('\n', start)) != std::string::npos;
             start = end + 1)
            results.push_back(all.substr(start, end - start));
    } else {
        for (const auto& folder : folders)
            results.push_back(attempt(folder));
    }
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0], "構成定義の履歴フォルダを作成できません: " +
                              (readOnly / "history").string() + ": Permission denied");
    EXPECT_EQ(results[1], "構成定義の履歴フォルダに書き込めません: " + readOnly.string() +
                              ": Permission denied");
    EXPECT_NE(results[2].find("構成定義の履歴フォルダに書き込めません: "), std::string::npos)
        << results[2];
    EXPECT_FALSE(fs::exists(readOnly / "history"));
    if (::geteuid() != 0)
        fs::permissions(Folder() / ".git", fs::perms::owner_write, fs::perm_options::add);
    fs::permissions(readOnly, fs::perms::owner_all);
}

}  // namespace
}  // namespace quellin::history
