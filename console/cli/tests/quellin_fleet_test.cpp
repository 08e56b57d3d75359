// quellin's fleet commands as the operator runs them, from the installation
// folder, against simulated routers on loopback: the inventory with every
// verdict (its table, JSON and CSV read back), the configuration backup
// into the history (read back by git itself), history and diff, the drift
// from the registered configuration files, a history folder the user may
// not write, and the notices, hooks and metrics of a run.
#include "codec.h"
#include "csv_fields.h"
#include "mail_composer.h"
#include "mail_peer.h"
#include "quellin_installation.h"
#include "socket_support.h"
#include "tarnsim_client.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <unistd.h>
#include <chrono>
#include <thread>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace quellin {
namespace {

namespace fs = std::filesystem;
namespace sim = quellin::tarn::testing;
using testing::ParseCsv;
using testing::Ran;
using testing::ReadFile;
using testing::Sjis;
using testing::WriteFile;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

// One flat JSON object of string values, as quellin prints it.
std::map<std::string, std::string> ParseObject(const std::string& text) {
    std::map<std::string, std::string> object;
    std::size_t i = 0;
    auto string = [&](std::string& value) {
        if (i >= text.size() || text[i] != '"')
            return false;
        for (++i; i < text.size() && text[i] != '"'; ++i) {
            if (text[i] != '\\') {
                value += text[i];
                continue;
            }
            const char c = text[++i];
            switch (c) {
                case 'n':
                    value += '\n';
                    break;
                case 'r':
                    value += '\r';
                    break;
                case 't':
                    value += '\t';
                    break;
                case 'u':
                    value += static_cast<char>(std::stoi(text.substr(i + 1, 4), nullptr, 16));
                    i += 4;
                    break;
                default:
                    value += c;
            }
        }
        ++i;
        return true;
    };
    if (text.empty() || text[i++] != '{')
        return {};
    while (i < text.size() && text[i] != '}') {
        std::string key;
        std::string value;
        if (!string(key) || text[i++] != ':' || !string(value))
            return {};
        object[key] = value;
        if (text[i] == ',')
            ++i;
    }
    return object;
}

class QuellinFleetTest : public testing::QuellinInstallationTest {
protected:
    // Ports and an address block of this test process's own, so that
    // parallel test runs do not meet on loopback.
    QuellinFleetTest() : QuellinInstallationTest(sim::OwnPort(24000, 4000)) {}

    void SetUp() override {
        QuellinInstallationTest::SetUp();
        fs::create_directory(dir / "config");
        Settings(20);
        block_ = sim::OwnAddressBlock(101);
    }

    // The program in its folder, with the routers' ports and short waits.
    Ran Quellin(std::vector<std::string> args, const std::vector<std::string>& before = {}) {
        const bool toRouters = args[0] != "history" && args[0] != "diff" && args[0] != "register" &&
                               args[0] != "unregister";
        return Run(toRouters ? ToRouters(std::move(args), 300) : std::move(args), before);
    }

    // git on the history, as an administrator reads it.
    std::string Git(const std::vector<std::string>& args) {
        std::vector<std::string> strings = {"/usr/bin/git", "-C", (dir / "history").string(), "-c",
                                            "core.quotePath=false"};
        strings.insert(strings.end(), args.begin(), args.end());
        Ran ran = testing::RunToEnd(strings, dir.path());
        EXPECT_EQ(ran.status, 0) << ran.err;
        return ran.out;
    }

    void Image(const std::string& file, const std::string& model, const std::string& version) {
        ASSERT_EQ(
            sim::RunProgram(sim::BinPath("tarnimage"), {"--model", model, "--version", version,
                                                        (dir / "firmware" / file).string()})
                .status,
            0);
    }

    // The router restarted and listens again.
    void WaitUntilUp(const std::string& name, std::size_t times) {
        ASSERT_EQ(sim::WaitForJournal(dir / "sim" / "journal.jsonl",
                                      {"\"router\":\"" + name + "\"", "\"event\":\"up\""}, times)
                      .size(),
                  times);
    }

    // The messages of a device's operation log (see testing::LogMessages).
    std::vector<std::string> LogMessages(const std::string& name) {
        return quellin::testing::LogMessages(dir / "log" / (name + ".log"), name);
    }

    std::string block_;
};

// ---- inventory

TEST_F(QuellinFleetTest, InventoryGivesEveryDeviceItsVerdict) {
    Image("tarn90-v30.10.bin", "Tarn-90", "V30.10");
    Image("tarn60-v29.08.bin", "Tarn-60", "V29.08");
    Image("brkx30-v31.05.bin", "BRKX30", "V31.05");
    auto fleet =
        StartFleet("router name=up address=" + block_ + "11 model=Tarn-90 version=V30.01\n" +
                   "router name=same address=" + block_ + "12 model=Tarn-90 version=V30.10\n" +
                   "router name=down address=" + block_ + "13 model=Tarn-90 version=V30.20\n" +
                   "router name=gated address=" + block_ + "14 model=Tarn-60 version=V29.05\n" +
                   "router name=alias address=" + block_ + "15 model=BRKX30TA version=V31.01\n" +
                   "router name=none address=" + block_ + "16 model=Tarn-70 version=V30.00\n" +
                   "router name=refuses address=" + block_ + "17 fault=wrong-password\n");
    // A placeholder that keeps the folder in a repository is nobody's image.
    WriteFile(dir / "firmware" / ".keep", "");
    Register("up", block_ + "11");
    Register("same", block_ + "12");
    Register("down", block_ + "13");
    Register("gated", block_ + "14");
    Register("別名", block_ + "15");
    Register("none", block_ + "16");
    Register("refuses", block_ + "17");
    Register("away", block_ + "18");  // nothing listens there
    // A name edited into base.db by hand with a tab in it.
    std::string registry = ReadFile(dir / "base.db");
    registry.replace(registry.find(",,,,,,0,"), 6, "tab\tname," + block_ + "19,x,,,");
    WriteFile(dir / "base.db", registry);

    struct Expected {
        std::string name, model, version, image, imageVersion, verdict;
    };
    const std::vector<Expected> expected = {
        {"up", "Tarn-90", "V30.01", "tarn90-v30.10.bin", "V30.10", "update-available"},
        {"same", "Tarn-90", "V30.10", "tarn90-v30.10.bin", "V30.10", "up-to-date"},
        {"down", "Tarn-90", "V30.20", "tarn90-v30.10.bin", "V30.10", "downgrade"},
        {"gated", "Tarn-60", "V29.05", "tarn60-v29.08.bin", "V29.08", "gated"},
        {"別名", "BRKX30TA", "V31.01", "brkx30-v31.05.bin", "V31.05", "update-available"},
        {"none", "Tarn-70", "V30.00", "", "", "no-image"},
        {"refuses", "", "", "", "", "login-failed"},
        {"away", "", "", "", "", "unreachable"},
        {"tab\\tname", "", "", "", "", "unreachable"},
    };

    // The table: a heading, then one row per device in row order.
    Ran table = Quellin({"inventory", "--jobs", "4"});
    EXPECT_EQ(table.status, 1) << table.err;  // devices are unreachable
    auto rows = Lines(table.out);
    ASSERT_EQ(rows.size(), expected.size() + 1) << table.out;
    EXPECT_EQ(rows[0], "name\taddress\tmodel\tversion\tstartup\timage\tverdict\treason");
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        auto cells = Split(rows[i + 1], '\t');
        ASSERT_EQ(cells.size(), 8u) << rows[i + 1];
        EXPECT_EQ(cells[0], expected[i].name);
        EXPECT_EQ(cells[2], expected[i].model);
        EXPECT_EQ(cells[3], expected[i].version);
        EXPECT_EQ(cells[5], expected[i].image.empty()
                                ? ""
                                : expected[i].image + " (" + expected[i].imageVersion + ")");
        EXPECT_EQ(cells[6], expected[i].verdict);
    }

    // JSON: one object per device.
    Ran json = Quellin({"inventory", "--json", "--jobs", "8"});
    EXPECT_EQ(json.status, 1);
    auto objects = Lines(json.out);
    ASSERT_EQ(objects.size(), expected.size()) << json.out;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        auto object = ParseObject(objects[i]);
        EXPECT_EQ(object["name"], i == 8 ? "tab\tname" : expected[i].name);
        EXPECT_EQ(object["address"], block_ + std::to_string(11 + i));
        EXPECT_EQ(object["model"], expected[i].model);
        EXPECT_EQ(object["version"], expected[i].version);
        EXPECT_EQ(object["startup"], expected[i].model.empty() ? "" : "config1");
        EXPECT_EQ(object["image"], expected[i].image);
        EXPECT_EQ(object["image_version"], expected[i].imageVersion);
        EXPECT_EQ(object["verdict"], expected[i].verdict);
    }
    auto reason = [&](std::size_t i) { return ParseObject(objects[i])["reason"]; };
    EXPECT_EQ(reason(0), "");
    EXPECT_NE(reason(3).find("Tarn-60 は旧機種"), std::string::npos) << reason(3);
    EXPECT_NE(reason(5).find(" に Tarn-70 のソフトウェアファイルがありません"), std::string::npos)
        << reason(5);
    EXPECT_EQ(reason(5).find(".keep"), std::string::npos) << reason(5);
    EXPECT_EQ(reason(6),
              "装置情報の取得に失敗しました。 ログインが拒否されました (パスワードの誤り)");
    EXPECT_NE(reason(7).find("接続失敗"), std::string::npos) << reason(7);

    // CSV, UTF-8 on the terminal: the window's heading and texts.
    Ran csv = Quellin({"inventory", "--csv"});
    auto lines = ParseCsv(csv.out);
    ASSERT_EQ(lines.size(), expected.size() + 1) << csv.out;
    EXPECT_EQ(lines[0],
              (std::vector<std::string>{"装置名", "IPアドレス", "機種", "バージョン", "起動構成",
                                        "ソフトウェアファイル", "判定", "詳細"}));
    const std::vector<std::string> texts = {"更新あり V30.10",
                                            "最新",
                                            "ダウングレード V30.10",
                                            "更新対象外 (旧機種)",
                                            "更新あり V31.05",
                                            "ソフトウェアなし",
                                            "ログイン失敗",
                                            "接続不可",
                                            "接続不可"};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(lines[i + 1][0], i == 8 ? "tab\tname" : expected[i].name);
        EXPECT_EQ(lines[i + 1][6], texts[i]);
    }

    // Asking changed nothing on any router: identification only.
    const std::string journal = ReadFile(dir / "sim" / "journal.jsonl");
    std::regex command("\"event\":\"command\",\"peer\":\"[^\"]*\",\"text\":\"([^\"]*)\"");
    for (std::sregex_iterator it(journal.begin(), journal.end(), command), end; it != end; ++it)
        EXPECT_TRUE((*it)[1] == "show system information" || (*it)[1] == "exit") << (*it)[1];

    // The image the inventory names is the one an update gives.
    Ran update = Quellin({"update-firmware", "up"});
    EXPECT_EQ(update.status, 0) << update.out;
    EXPECT_EQ(sim::WaitForJournal(
                  dir / "sim" / "journal.jsonl",
                  {"\"router\":\"up\"", "\"event\":\"firmware\"", "\"version\":\"V30.10\""})
                  .size(),
              1u);
}

// ---- backup, history and diff

// Names edited into base.db by hand that would reach out of log/ (or share
// a file) get operation logs and collected logs of their own inside it.
TEST_F(QuellinFleetTest, NamesFromBaseDbNeverLeaveTheLogFolder) {
    auto fleet = StartFleet("router name=r1 address=" + block_ + "41 model=Tarn-90\n");
    Register("r1", block_ + "41");
    std::string registry = ReadFile(dir / "base.db");
    const std::vector<std::string> names = {"../evil", "../../x/y", "/", "."};
    for (const std::string& name : names)
        registry.replace(registry.find(",,,,,,0,"), 6, name + "," + block_ + "41,secret,,,");
    WriteFile(dir / "base.db", registry);
    std::vector<std::string> args = {"collect-log", "--jobs", "4"};
    args.insert(args.end(), names.begin(), names.end());
    Ran ran = Quellin(args);
    EXPECT_EQ(ran.status, 0) << ran.out << ran.err;

    EXPECT_FALSE(fs::exists(dir / "evil.log"));
    EXPECT_FALSE(fs::exists(dir / "log" / ".log"));
    for (const char* stem : {"%2E.%2Fevil", "%2E.%2F..%2Fx%2Fy", "%2F", "%2E"}) {
        EXPECT_TRUE(fs::exists(dir / "log" / (std::string(stem) + ".log"))) << stem;
        int collected = 0;
        for (const auto& entry : fs::directory_iterator(dir / "log"))
            collected += entry.path().filename().string().starts_with(std::string(stem) + "-20");
        EXPECT_EQ(collected, 1) << stem;
    }
}

TEST_F(QuellinFleetTest, BackupKeepsEveryChangeOnceWithItsDiff) {
    auto fleet = StartFleet("router name=r1 address=" + block_ + "21\n" +
                            "router name=r2 address=" + block_ + "22\n" +
                            "router name=r3 address=" + block_ + "23\n");
    // r1's configuration file, registered now and written further down.
    WriteFile(dir / "config" / "r1.cfg", "hostname r1\r\n");
    Register("r1", block_ + "21", "secret", (dir / "config" / "r1.cfg").string());
    Register("r2", block_ + "22");
    Register("大阪 梅田", block_ + "23");

    // The first backup stores every device.
    Ran first = Quellin({"backup", "--all", "--jobs", "3"});
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    auto printed = Lines(first.out);
    ASSERT_EQ(printed.size(), 4u) << first.out;
    EXPECT_EQ(printed[3], "backup: 3 stored, 0 unchanged, 0 failed");
    EXPECT_EQ(Git({"rev-list", "--count", "HEAD"}), "3\n");
    EXPECT_EQ(Git({"ls-tree", "--name-only", "HEAD"}), "r1.cfg\nr2.cfg\n大阪%20梅田.cfg\n");
    EXPECT_EQ(Git({"status", "--porcelain"}), "");
    const std::string before = ReadFile(dir / "history" / "r1.cfg");
    EXPECT_EQ(before.rfind("! Tarn-90 configuration\nhostname r1\n", 0), 0u) << before;
    EXPECT_EQ(Git({"show", "HEAD:r1.cfg"}), before);

    // Nothing changed: nothing is committed.
    Ran second = Quellin({"backup", "--all", "--jobs", "3"});
    ASSERT_EQ(second.status, 0) << second.out;
    printed = Lines(second.out);
    ASSERT_EQ(printed.size(), 4u);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(printed[i].ends_with(": unchanged")) << printed[i];
    EXPECT_EQ(printed[3], "backup: 0 stored, 3 unchanged, 0 failed");
    EXPECT_EQ(Git({"rev-list", "--count", "HEAD"}), "3\n");

    // One line of r1's configuration changed and pushed with a restart:
    // one new commit, whose diff is exactly that line.
    std::vector<std::string> old = Lines(before);
    ASSERT_GE(old.size(), 9u);
    ASSERT_EQ(old[4].rfind(" ip address 192.168.", 0), 0u) << old[4];
    std::string changed;
    for (std::size_t i = 0; i < old.size(); ++i)
        changed += (i == 4 ? std::string(" ip address 10.21.0.1/24") : old[i]) + "\r\n";
    WriteFile(dir / "config" / "r1.cfg", changed);
    Ran pushed = Quellin({"apply-config", "r1"});
    ASSERT_EQ(pushed.status, 0) << pushed.out;
    WaitUntilUp("r1", 1);

    Ran third = Quellin({"backup", "r1", "大阪 梅田"});
    ASSERT_EQ(third.status, 0) << third.out;
    printed = Lines(third.out);
    ASSERT_EQ(printed.size(), 3u) << third.out;
    const std::regex stored(R"(\[\d/2\] r1: stored ([0-9a-f]{12}) \(\+1 -1\))");
    std::smatch match;
    std::string storedLine = printed[0].find("r1") != std::string::npos ? printed[0] : printed[1];
    ASSERT_TRUE(std::regex_match(storedLine, match, stored)) << storedLine;
    EXPECT_EQ(printed[2], "backup: 1 stored, 1 unchanged, 0 failed");
    EXPECT_EQ(Git({"rev-list", "--count", "HEAD"}), "4\n");
    EXPECT_EQ(Git({"rev-parse", "--short=12", "HEAD"}), std::string(match[1]) + "\n");
    EXPECT_EQ(Git({"diff", "--stat", "HEAD~1", "HEAD"}),
              " r1.cfg | 2 +-\n 1 file changed, 1 insertion(+), 1 deletion(-)\n");

    // history: newest first, with the lines each version changed.
    Ran history = Quellin({"history", "r1"});
    ASSERT_EQ(history.status, 0) << history.err;
    auto versions = Lines(history.out);
    ASSERT_EQ(versions.size(), 3u) << history.out;
    EXPECT_EQ(versions[0], "time\tcommit\tlines");
    auto newest = Split(versions[1], '\t');
    auto oldest = Split(versions[2], '\t');
    ASSERT_EQ(newest.size(), 3u);
    ASSERT_EQ(oldest.size(), 3u);
    EXPECT_EQ(newest[1], std::string(match[1]));
    EXPECT_EQ(newest[2], "+1 -1");
    EXPECT_EQ(oldest[2], "+" + std::to_string(old.size()) + " -0");
    EXPECT_EQ(Git({"log", "--format=%h", "--abbrev=12", "--", "r1.cfg"}),
              newest[1] + "\n" + oldest[1] + "\n");
    EXPECT_EQ(Git({"log", "-1", "--format=%cd", "--date=format-local:%Y/%m/%d %H:%M:%S"}),
              newest[0] + "\n");

    // diff: the last change, exactly the changed line in its context.
    const std::string hunk = "@@ -2,7 +2,7 @@\n " + old[1] + "\n " + old[2] + "\n " + old[3] +
                             "\n-" + old[4] + "\n+ ip address 10.21.0.1/24\n " + old[5] + "\n " +
                             old[6] + "\n " + old[7] + "\n";
    Ran diff = Quellin({"diff", "r1"});
    ASSERT_EQ(diff.status, 0) << diff.err;
    const std::string heading =
        "--- r1 " + oldest[1] + " " + oldest[0] + "\n+++ r1 " + newest[1] + " " + newest[0] + "\n";
    EXPECT_EQ(diff.out, heading + hunk);
    const std::string gitDiff = Git({"diff", "HEAD~1", "HEAD", "--", "r1.cfg"});
    EXPECT_NE(gitDiff.find("\n" + hunk), std::string::npos) << gitDiff;
    // The same change named by its versions; the other way round undoes it.
    EXPECT_EQ(Quellin({"diff", "r1", oldest[1], newest[1]}).out, diff.out);
    EXPECT_EQ(Quellin({"diff", "r1", oldest[1].substr(0, 7)}).out, diff.out);
    Ran back = Quellin({"diff", "r1", newest[1], oldest[1]});
    EXPECT_NE(back.out.find("\n- ip address 10.21.0.1/24\n+" + old[4] + "\n"), std::string::npos)
        << back.out;
    Ran unknown = Quellin({"diff", "r1", "fedcba987654"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("fedcba987654"), std::string::npos) << unknown.err;
    // Another device's versions are not r1's, nor is a prefix that could
    // be several.
    const std::string r2 = Split(Lines(Quellin({"history", "r2"}).out)[1], '\t')[1];
    Ran others = Quellin({"diff", "r1", r2});
    EXPECT_EQ(others.status, 1);
    EXPECT_NE(others.err.find(r2 + " is not a stored version of r1"), std::string::npos)
        << others.err;
    Ran shortPrefix = Quellin({"diff", "r1", newest[1].substr(0, 2)});
    EXPECT_EQ(shortPrefix.status, 1);
    EXPECT_NE(shortPrefix.err.find("too short"), std::string::npos) << shortPrefix.err;

    // The operation log tells each backup.
    const auto messages = LogMessages("r1");
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages[0], Sjis("構成定義の新しい版 " + oldest[1] + " をバックアップしました。"));
    EXPECT_EQ(messages[1], Sjis("構成定義に変更はありません。"));
    EXPECT_EQ(messages.back(),
              Sjis("構成定義の新しい版 " + newest[1] + " をバックアップしました。"));
}

TEST_F(QuellinFleetTest, BackupOfAFailedDeviceEndsInFailure) {
    auto fleet = StartFleet("router name=r1 address=" + block_ + "31\n");
    Register("r1", block_ + "31");
    Register("away", block_ + "32");
    Ran ran = Quellin({"backup", "--all"});
    EXPECT_EQ(ran.status, 1);
    auto printed = Lines(ran.out);
    ASSERT_EQ(printed.size(), 3u) << ran.out;
    EXPECT_EQ(
        printed[1].rfind("[2/2] away: failed (構成定義の取得に失敗しました。): ソケット作成中:", 0),
        0u)
        << printed[1];
    EXPECT_EQ(printed[2], "backup: 1 stored, 0 unchanged, 1 failed");
    EXPECT_EQ(LogMessages("away"),
              (std::vector<std::string>{Sjis("構成定義のバックアップに失敗しました。")}));
    EXPECT_EQ(Git({"ls-tree", "--name-only", "HEAD"}), "r1.cfg\n");

    Ran usage = Quellin({"backup"});
    EXPECT_EQ(usage.status, 2);
    EXPECT_NE(usage.err.find("backup takes device names or --all"), std::string::npos);
    Ran none = Quellin({"history", "away"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "quellin: no configuration of away is stored yet\n");
}

// A name written into base.db by hand can be longer than a file name may
// be: that device fails every time, nothing is stored for it, and the
// others are kept as usual.
TEST_F(QuellinFleetTest, DeviceWhoseFileNameIsTooLongFailsEveryBackup) {
    auto fleet = StartFleet("router name=r1 address=" + block_ + "35\n" +
                            "router name=r2 address=" + block_ + "36\n");
    Register("r1", block_ + "35");
    Register("r2", block_ + "36");
    // 100 bytes, each "#" written as "%23": a file name of 302 bytes.
    const std::string longName = "a" + std::string(99, '#');
    std::string registry = ReadFile(dir / "base.db");
    const std::size_t at = registry.find("\r\nr2,");
    ASSERT_NE(at, std::string::npos) << registry;
    registry.replace(at + 2, 2, longName);
    WriteFile(dir / "base.db", registry);

    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        Ran ran = Quellin({"backup", "--all"});
        EXPECT_EQ(ran.status, 1) << ran.out;
        auto printed = Lines(ran.out);
        ASSERT_EQ(printed.size(), 3u) << ran.out;
        EXPECT_EQ(
            printed[1].rfind(
                "[2/2] " + longName + ": failed (構成定義のバックアップに失敗しました。): ", 0),
            0u)
            << printed[1];
        EXPECT_NE(printed[1].find("File name too long"), std::string::npos) << printed[1];
        EXPECT_EQ(printed[2], run == 0 ? "backup: 1 stored, 0 unchanged, 1 failed"
                                       : "backup: 0 stored, 1 unchanged, 1 failed");
        EXPECT_EQ(Git({"ls-tree", "--name-only", "HEAD"}), "r1.cfg\n");
        EXPECT_EQ(Git({"status", "--porcelain"}), "");
    }
    Ran none = Quellin({"history", longName});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "quellin: no configuration of " + longName + " is stored yet\n");
}

// The history folder is not the user's to write: the backup says so before
// it asks any router.  Root writes anywhere, so as root the backup runs as
// nobody.
TEST_F(QuellinFleetTest, HistoryFolderWithoutRightsFailsClearly) {
    auto fleet = StartFleet("router name=r1 address=" + block_ + "41\n");
    Register("r1", block_ + "41");
    fs::create_directory(dir / "history");
    std::vector<std::string> before;
    if (::geteuid() == 0) {
        // nobody passes through the folders and reads the installation.
        fs::permissions(dir.path(),
                        fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
        fs::permissions(dir / "history",
                        fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
        // base.db is its owner's and group's alone: nobody is given it here.
        ASSERT_EQ(::chown((dir / "base.db").c_str(), 65534, 65534), 0);
        before = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    } else {
        fs::permissions(dir / "history", fs::perms::owner_read | fs::perms::owner_exec);
    }
    Ran ran = Quellin({"backup", "--all"}, before);
    EXPECT_EQ(ran.status, 1);
    EXPECT_EQ(ran.out, "");
    EXPECT_EQ(ran.err, "quellin: 構成定義の履歴フォルダに書き込めません: " +
                           (dir / "history").string() + ": Permission denied\n");
    const std::string journal = ReadFile(dir / "sim" / "journal.jsonl");
    EXPECT_EQ(journal.find("show config"), std::string::npos);
    fs::permissions(dir / "history", fs::perms::owner_all);
}

// The history folder is writable by the installation's group, the web
// server's user too, while the daily backup runs as root: a link planted
// as its lock file is never followed, so it cannot make root create a file
// elsewhere.
TEST_F(QuellinFleetTest, LinkPlantedAsTheHistoryLockIsNotFollowed) {
    auto fleet = StartFleet("router name=r1 address=" + block_ + "45\n");
    Register("r1", block_ + "45");
    Ran first = Quellin({"backup", "--all"});
    ASSERT_EQ(first.status, 0) << first.out << first.err;

    const fs::path lock = dir / "history" / ".git" / "quellin-history.lock";
    const fs::path planted = dir / "planted";
    fs::remove(lock);
    fs::create_symlink(planted, lock);
    Ran ran = Quellin({"backup", "--all"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_EQ(ran.out, "");
    EXPECT_EQ(ran.err, "quellin: 構成定義の履歴フォルダに書き込めません: " + lock.string() +
                           ": Too many levels of symbolic links\n");
    EXPECT_FALSE(fs::exists(fs::symlink_status(planted)));
    EXPECT_EQ(Git({"rev-list", "--count", "HEAD"}), "1\n");
}

// ---- drift

TEST_F(QuellinFleetTest, DriftListsOnlyRoutersChangedBehindTheSystem) {
    auto fleet = StartFleet("router name=r1 address=" + block_ + "51\n" +
                            "router name=r2 address=" + block_ + "52\n" +
                            "router name=r3 address=" + block_ + "53\n");
    WriteFile(dir / "config" / "r1.cfg", "hostname r1\r\ninterface lan0\r\n ip address dhcp\r\n");
    WriteFile(dir / "config" / "r2.cfg",
              "hostname r2\r\ninterface lan0\r\n ip address 10.52.0.1/24\r\n exit\r\n");
    Register("r1", block_ + "51", "secret", (dir / "config" / "r1.cfg").string());
    Register("r2", block_ + "52", "secret", (dir / "config" / "r2.cfg").string());
    Register("r3", block_ + "53");  // no registered file
    Ran pushed = Quellin({"apply-config", "r1", "r2", "--jobs", "2"});
    ASSERT_EQ(pushed.status, 0) << pushed.out;
    WaitUntilUp("r1", 1);
    WaitUntilUp("r2", 1);

    Ran clean = Quellin({"drift", "--all", "--jobs", "3"});
    EXPECT_EQ(clean.status, 0) << clean.out;
    EXPECT_NE(clean.out.find("r1: same\n"), std::string::npos) << clean.out;
    EXPECT_NE(clean.out.find("r2: same\n"), std::string::npos) << clean.out;
    EXPECT_NE(clean.out.find("r3: skipped (no configuration file is registered)\n"),
              std::string::npos);
    EXPECT_TRUE(
        clean.out.ends_with("drift: 0 differ, 2 same, 1 without a configuration file, 0 failed\n"))
        << clean.out;

    // r2's configuration changed behind the system: uploaded by hand into
    // its spare slot and restarted into.
    const std::string byHand =
        "hostname r2\ninterface lan0\n ip address 10.52.9.1/24\n exit\nntp server 10.0.0.1\neof\n";
    ASSERT_EQ(sim::FtpStore(block_ + "52", telnetPort() + 1, "ftp-admin", "secret", "config1",
                            byHand, true),
              "");
    {
        sim::LineClient client(block_ + "52", telnetPort());
        ASSERT_TRUE(sim::TelnetLogin(client, "admin", "secret"));
        client.Send("reset config1\r\n");
        ASSERT_TRUE(client.ReadToEnd());
    }
    WaitUntilUp("r2", 2);

    Ran drift = Quellin({"drift", "r1", "r2"});
    EXPECT_EQ(drift.status, 1);
    const std::string file = (dir / "config" / "r2.cfg").string();
    EXPECT_NE(drift.out.find("r1: same\n"), std::string::npos) << drift.out;
    EXPECT_NE(drift.out.find("r2: differs\n"), std::string::npos) << drift.out;
    EXPECT_NE(drift.out.find("\n--- " + file +
                             "\n+++ r2 (稼働中)\n"
                             "@@ -1,5 +1,6 @@\n"
                             " hostname r2\n"
                             " interface lan0\n"
                             "- ip address 10.52.0.1/24\n"
                             "+ ip address 10.52.9.1/24\n"
                             "  exit\n"
                             "+ntp server 10.0.0.1\n"
                             " eof\n\n"),
              std::string::npos)
        << drift.out;
    EXPECT_EQ(drift.out.find("--- " + (dir / "config" / "r1.cfg").string()), std::string::npos);
    EXPECT_TRUE(
        drift.out.ends_with("drift: 1 differ, 1 same, 0 without a configuration file, 0 failed\n"));
    EXPECT_EQ(LogMessages("r2").back(), Sjis("構成定義が構成定義ファイルと異なります。"));
    EXPECT_NE(LogMessages("r1").back(), Sjis("構成定義が構成定義ファイルと異なります。"));
}

// ---- notices, hooks and metrics

TEST_F(QuellinFleetTest, NoticesTellChangesAndFailuresOnceOverStartTls) {
    const fs::path certificate = dir / "server.pem";
    const fs::path key = dir / "server.key";
    if (sim::RunProgram("/usr/bin/openssl",
                        {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                         "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                         key.string(), "-out", certificate.string()})
            .status != 0)
        GTEST_SKIP() << "needs openssl";
    testing::MailServer server({"--starttls", certificate.string(), key.string()});
    if (!server.ready())
        GTEST_SKIP() << "needs /usr/bin/python3 with aiosmtpd";
    auto fleet = StartFleet("router name=r1 address=" + block_ + "61\n" +
                            "router name=r2 address=" + block_ + "62\n" +
                            "router name=back address=" + block_ + "63\n");
    Register("r1", block_ + "61");
    Register("away", block_ + "64");  // nothing listens there
    fs::create_directories(dir / "syslog");
    WriteFile(dir / "syslog" / "Syslogd.ini",
              "[SETUP]\r\nSMTPServer=127.0.0.1\r\nSMTPPort=" + std::to_string(server.port()) +
                  "\r\nSMTPSecurity=1\r\nSMTPCAFile=" + certificate.string() +
                  "\r\nClientMailAddress=quellin@example.org\r\n");

    // No notice keys: nothing new happens.
    EXPECT_EQ(Quellin({"backup", "--all"}).status, 1);
    EXPECT_FALSE(fs::exists(dir / "notice-state.txt"));

    const fs::path hooked = dir / "hook.txt";
    WriteFile(dir / "NEXORA.INI",
              ReadFile(dir / "NEXORA.INI") +
                  "NoticeTo=ops@example.org\r\nNoticeOnChange=1\r\nNoticeOnFailure=1\r\n"
                  "HookOnChange=/bin/sh -c \"env | grep ^QUELLIN_ >> " +
                  hooked.string() + "\"\r\n");
    Register("r2", block_ + "62");
    const fs::path metrics = dir / "fleet.prom";
    auto backup = [&] { return Quellin({"backup", "--all", "--prometheus", metrics.string()}); };
    // r2's first version and away's first failure; then nothing new.
    EXPECT_EQ(backup().status, 1);
    EXPECT_EQ(backup().status, 1);
    ASSERT_TRUE(server.HasMail(2));
    EXPECT_FALSE(server.HasMail(3));
    const std::string r2 = ReadFile(hooked);
    EXPECT_NE(r2.find("QUELLIN_DEVICE=r2\n"), std::string::npos) << r2;
    EXPECT_NE(r2.find("QUELLIN_EVENT=change"), std::string::npos) << r2;
    EXPECT_NE(r2.find("QUELLIN_ADDRESS=" + block_ + "62"), std::string::npos) << r2;
    EXPECT_EQ(std::ranges::count(r2, '\n'), 6) << r2;
    // Japanese text inside a longer run of it, without the run's escapes.
    auto jis = [](const std::string& utf8) {
        const std::string run = mail::ToIso2022Jp(Sjis(utf8));
        return run.substr(3, run.size() - 6);
    };
    std::string mails = server.Mail(1) + server.Mail(2);
    for (const std::string& part :
         {std::string("Message-ID: <"), std::string("Date: "), std::string("charset=iso-2022-jp"),
          "r2 (" + block_ + "62)", "away (" + block_ + "64)", std::string("+! Tarn-90 config"),
          jis("が失敗しました。")})
        EXPECT_NE(mails.find(part), std::string::npos) << part << "\n" << mails;
    EXPECT_NE(ReadFile(metrics).find("quellin_backup_failures_total{device=\"away\",address=\"" +
                                     block_ + "64\"} 2\n"),
              std::string::npos)
        << ReadFile(metrics);
    if (fs::exists("/usr/bin/promtool")) {
        const auto checked = sim::RunProgram(
            "/bin/sh", {"-c", "/usr/bin/promtool check metrics < " + metrics.string()});
        EXPECT_EQ(checked.status, 0);
    }

    // away answers again: its recovery and its first version.
    std::string registry = ReadFile(dir / "base.db");
    registry.replace(registry.find(block_ + "64,"), (block_ + "64").size(), block_ + "63");
    WriteFile(dir / "base.db", registry);
    EXPECT_EQ(backup().status, 0);
    ASSERT_TRUE(server.HasMail(4));
    mails = server.Mail(3) + server.Mail(4);
    EXPECT_NE(mails.find(jis("が再び成功しました。")), std::string::npos) << mails;
    EXPECT_EQ(std::ranges::count(ReadFile(hooked), '\n'), 12);
    EXPECT_NE(ReadFile(metrics).find("quellin_device_up{device=\"away\",address=\"" + block_ +
                                     "63\"} 1\n"),
              std::string::npos);
}

// ---- one central history

TEST_F(QuellinFleetTest, HistoryGoesToTheSitesBranchOfOneRemoteOverFileAndSsh) {
    auto fleet = StartFleet("router name=r1 address=" + block_ + "71\n");
    Register("r1", block_ + "71");
    const fs::path bare = dir / "central.git";
    ASSERT_EQ(sim::RunProgram("/usr/bin/git", {"init", "-q", "--bare", bare.string()}).status, 0);
    auto remoteHead = [&](const std::string& branch) {
        return testing::RunToEnd({"/usr/bin/git", "--git-dir", bare.string(), "rev-parse",
                                  "--verify", "-q", branch},
                                 dir.path())
            .out;
    };
    const std::string settings = ReadFile(dir / "NEXORA.INI");
    WriteFile(dir / "NEXORA.INI", settings + "HistoryRemote=file://" + bare.string() +
                                      "\r\nHistoryRemoteBranch=osaka\r\n");
    ASSERT_EQ(Quellin({"backup", "--all"}).status, 0);
    EXPECT_EQ(remoteHead("osaka"), Git({"rev-parse", "HEAD"}));

    // Over ssh, to an sshd of this test's own on loopback.
    if (::geteuid() != 0 || !fs::exists("/usr/sbin/sshd"))
        GTEST_SKIP() << "ssh needs root and sshd";
    for (const char* key : {"host", "user"})
        ASSERT_EQ(sim::RunProgram("/usr/bin/ssh-keygen",
                                  {"-q", "-t", "ed25519", "-N", "", "-f", (dir / key).string()})
                      .status,
                  0);
    const std::uint16_t port = testing::UnusedLoopbackPort();
    WriteFile(dir / "sshd_config",
              "ListenAddress 127.0.0.1\nPort " + std::to_string(port) + "\nHostKey " +
                  (dir / "host").string() + "\nAuthorizedKeysFile " + (dir / "user.pub").string() +
                  "\nPidFile none\nUsePAM no\nStrictModes no\nPasswordAuthentication no\n"
                  "PermitRootLogin prohibit-password\n");
    fs::create_directories("/run/sshd");
    testing::ChildProcess sshd("/usr/sbin/sshd", {"-D", "-e", "-f", (dir / "sshd_config").string()},
                               {}, {}, {}, (dir / "sshd.err").string());
    for (int i = 0; i < 100 && !testing::ConnectToLoopback("127.0.0.1", port).valid(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // A host key other than the one listed: nothing goes, the run fails and
    // says so, the local history stays.
    WriteFile(dir / "known_hosts",
              "[127.0.0.1]:" + std::to_string(port) + " " + ReadFile(dir / "user.pub"));
    WriteFile(dir / "NEXORA.INI",
              settings + "HistoryRemote=ssh://root@127.0.0.1:" + std::to_string(port) +
                  bare.string() +
                  "\r\nHistoryRemoteBranch=kobe\r\nHistoryRemoteKey=" + (dir / "user").string() +
                  "\r\nHistoryRemoteKnownHosts=" + (dir / "known_hosts").string() + "\r\n");
    Ran refused = Quellin({"backup", "--all"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("the history was not pushed"), std::string::npos) << refused.err;
    EXPECT_EQ(remoteHead("kobe"), "");
    // The right key: what the earlier run could not send goes now.
    WriteFile(dir / "known_hosts",
              "[127.0.0.1]:" + std::to_string(port) + " " + ReadFile(dir / "host.pub"));
    Ran pushed = Quellin({"backup", "--all"});
    EXPECT_EQ(pushed.status, 0) << pushed.err << ReadFile(dir / "sshd.err");
    EXPECT_EQ(remoteHead("kobe"), Git({"rev-parse", "HEAD"}));
    EXPECT_EQ(remoteHead("osaka"), Git({"rev-parse", "HEAD"}));
}

}  // namespace
}  // namespace quellin
