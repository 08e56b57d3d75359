#include "auto_config.h"

#include "expected_page.h"
#include "md5.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace quellin::netprov {
namespace {

using quellin::testing::ReadFile;
using quellin::testing::Sjis;
using quellin::testing::WriteFile;
using testing::ExpectedPage;

// The installation folder laid out in a temporary folder: base.db and the
// devices' configuration files.
class AutoConfigTest : public quellin::testing::TempDirTest {
protected:
    std::string base() const { return dir.path().string(); }
    std::string config() const { return (dir / "branch01.txt").string(); }

    void SetUp() override {
        WriteFile(config(), "ip address 192.168.0.1\r\n");
        WriteFile(dir / "base.db",
                  "# registry\r\n"
                  ",,,,,,0,0,0,0,0,0\r\n"
                  "branch01,10.0.0.1,pw,id01,secret," +
                      config() +
                      ",0,0,0,0,0,0\r\n"
                      "branch02,10.0.0.2,pw,id02,other,/missing/file.txt,0,0,0,"
                      "0,0,0\r\n"
                      "dup,10.0.0.3,pw,id01,second," +
                      config() + ",0,0,0,0,0,0\r\n");
    }

    // Runs one request through the checks; returns the page and sets ok.
    std::string Check(const std::string& query, bool& ok,
                      const std::optional<std::string>& remote = "192.168.0.1") {
        Environment environment{{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}};
        if (remote)
            environment["REMOTE_ADDR"] = *remote;
        std::ostringstream page;
        {
            std::istringstream input;
            CCgiRequest request(page);
            CAutoConfig run(request, environment, base());
            request.ReadInput(input, environment);
            ok = run.Run();
            lastDevice = run.deviceName();
        }
        return page.str();
    }

    std::string lastDevice;
};

struct RefusalCase {
    const char* name;
    std::string query;
    std::optional<std::string> remote;
    const char* message;
};

class RefusalTest : public AutoConfigTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, ShowsOneMessageAndWritesNoLog) {
    bool ok = true;
    EXPECT_EQ(Check(GetParam().query, ok, GetParam().remote), ExpectedPage({GetParam().message}));
    EXPECT_FALSE(ok);
    EXPECT_FALSE(std::filesystem::exists(dir / "log"));
}

const std::string kGoodPass = Md5Hex("secret");

INSTANTIATE_TEST_SUITE_P(
    Checks, RefusalTest,
    ::testing::Values(
        RefusalCase{"NoParameters", "", "192.168.0.1", "パラメタが不正です。"},
        RefusalCase{"EmptyAccessId", "accessid=&accesspass=" + kGoodPass, "192.168.0.1",
                    "パラメタが不正です。"},
        RefusalCase{"NoAccessPass", "accessid=id01", "192.168.0.1", "パラメタが不正です。"},
        RefusalCase{"NoRemoteAddress", "accessid=id01&accesspass=" + kGoodPass, std::nullopt,
                    "パラメタが不正です。"},
        RefusalCase{"EmptyRemoteAddress", "accessid=id01&accesspass=" + kGoodPass, "",
                    "パラメタが不正です。"},
        RefusalCase{"UnknownAccessId", "accessid=id99&accesspass=" + kGoodPass, "192.168.0.1",
                    "アクセスIDに誤りがあります。"},
        RefusalCase{"AccessIdCaseDiffers", "accessid=ID01&accesspass=" + kGoodPass, "192.168.0.1",
                    "アクセスIDに誤りがあります。"},
        RefusalCase{"PlainPassword", "accessid=id01&accesspass=secret", "192.168.0.1",
                    "パスワードに誤りがあります。"},
        RefusalCase{"UpperCaseDigest", "accessid=id01&accesspass=5EBE2294ECD0E0F08EAB7690D2A6EE69",
                    "192.168.0.1", "パスワードに誤りがあります。"},
        RefusalCase{"DigestOfSecondDuplicateRow", "accessid=id01&accesspass=" + Md5Hex("second"),
                    "192.168.0.1", "パスワードに誤りがあります。"},
        RefusalCase{"ConfigurationFileMissing", "accessid=id02&accesspass=" + Md5Hex("other"),
                    "192.168.0.1", "構成定義ファイルが見つかりません。"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(AutoConfigTest, RegisteredDeviceWithItsDigestPassesTheChecks) {
    bool ok = false;
    EXPECT_EQ(Check("accessid=id01&accesspass=" + kGoodPass, ok), ExpectedPage());
    EXPECT_TRUE(ok);
    EXPECT_EQ(lastDevice, "branch01");
}

TEST_F(AutoConfigTest, MissingRegistryIsReportedAsUnreadable) {
    std::filesystem::remove(dir / "base.db");
    bool ok = true;
    EXPECT_EQ(Check("accessid=id01&accesspass=" + kGoodPass, ok),
              ExpectedPage({"装置登録ファイル(base.db)を読み込めません。"}));
    EXPECT_FALSE(ok);
}

TEST_F(AutoConfigTest, RegistryThatIsAFolderIsReportedAsUnreadable) {
    std::filesystem::remove(dir / "base.db");
    std::filesystem::create_directory(dir / "base.db");
    bool ok = true;
    EXPECT_EQ(Check("accessid=id01&accesspass=" + kGoodPass, ok),
              ExpectedPage({"装置登録ファイル(base.db)を読み込めません。"}));
}

TEST_F(AutoConfigTest, ConfigurationPathThatIsAFolderIsNotFound) {
    WriteFile(dir / "base.db", "b,,,id,pw," + base() + ",0,0,0,0,0,0\r\n");
    bool ok = true;
    EXPECT_EQ(Check("accessid=id&accesspass=" + Md5Hex("pw"), ok),
              ExpectedPage({"構成定義ファイルが見つかりません。"}));
}

TEST_F(AutoConfigTest, MessageGoesToLogThenPageAsFlagsSay) {
    Environment environment;
    std::ostringstream page;
    {
        CCgiRequest request(page);
        CAutoConfig run(request, environment, base());
        WriteFile(dir / "base.db", "dev1,,,id,pw," + config() + ",0,0,0,0,0,0\r\n");
        environment = {{"REQUEST_METHOD", "GET"},
                       {"QUERY_STRING", "accessid=id&accesspass=" + Md5Hex("pw")},
                       {"REMOTE_ADDR", "10.1.1.1"}};
        std::istringstream input;
        request.ReadInput(input, environment);
        ASSERT_TRUE(run.Run());
        run.Message(Sjis("ログのみ"), MSG_LOG);
        run.Message(Sjis("画面のみ"), MSG_PAGE);
        run.Message(Sjis("両方"), MSG_LOG | MSG_PAGE);
    }
    EXPECT_EQ(page.str(), ExpectedPage({"画面のみ", "両方"}));
    const std::string log = ReadFile(dir / "log" / "dev1.log");
    EXPECT_NE(log.find(",dev1," + Sjis("ログのみ") + "\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(",dev1," + Sjis("両方") + "\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find(Sjis("画面のみ")), std::string::npos) << log;
}

struct DigestCase {
    const char* name;
    std::string expected;
    std::string given;
    bool equal;
};

class DigestsEqualTest : public ::testing::TestWithParam<DigestCase> {};

TEST_P(DigestsEqualTest, ComparesBytes) {
    EXPECT_EQ(DigestsEqual(GetParam().expected, GetParam().given), GetParam().equal);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DigestsEqualTest,
    ::testing::Values(DigestCase{"Same", "abc", "abc", true}, DigestCase{"BothEmpty", "", "", true},
                      DigestCase{"LastByteDiffers", "abc", "abd", false},
                      DigestCase{"FirstByteDiffers", "abc", "xbc", false},
                      DigestCase{"GivenShorter", "abc", "ab", false},
                      DigestCase{"GivenLonger", "abc", "abcd", false},
                      DigestCase{"GivenEmpty", "abc", "", false},
                      DigestCase{"GivenWithNul", "ab", std::string("ab\0", 3), false}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace quellin::netprov
