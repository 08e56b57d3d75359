#include "netprov.h"

#include "expected_page.h"
#include "md5.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quellin::netprov {
namespace {

using quellin::testing::WriteFile;
using testing::ExpectedPage;

class RunTest : public quellin::testing::TempDirTest {
protected:
    int Run(const Environment& environment, const std::string& body = "") {
        std::istringstream input(body);
        std::ostringstream output;
        int status = run(input, output, environment, dir.path().string());
        page = output.str();
        return status;
    }
    std::string page;
};

TEST_F(RunTest, StartedByHandGivesParameterMessageAndStatusOne) {
    EXPECT_EQ(Run({}), 1);
    EXPECT_EQ(page, ExpectedPage({"パラメタが不正です。"}));
}

TEST_F(RunTest, OversizedBodyCountsAsNoInput) {
    std::string body = "accessid=id&accesspass=" + Md5Hex("pw") + "&pad=";
    body += std::string(static_cast<std::size_t>(kMaxBodySize) + 1 - body.size(), 'x');
    EXPECT_EQ(Run({{"REQUEST_METHOD", "POST"},
                   {"CONTENT_LENGTH", std::to_string(body.size())},
                   {"REMOTE_ADDR", "127.0.0.1"}},
                  body),
              1);
    EXPECT_EQ(page, ExpectedPage({"パラメタが不正です。"}));
}

TEST_F(RunTest, RequestPassingTheChecksGoesOnToIdentifyTheCaller) {
    WriteFile(dir / "cfg.txt", "x\n");
    WriteFile(dir / "base.db", "dev,,,id,pw," + (dir / "cfg.txt").string() + ",0,0,0,0,0,0\r\n");
    std::string body = "accessid=id&accesspass=" + Md5Hex("pw");
    EXPECT_EQ(Run({{"REQUEST_METHOD", "POST"},
                   {"CONTENT_LENGTH", std::to_string(body.size())},
                   {"REMOTE_ADDR", "::1"}},
                  body),
              1);
    // The caller is reached by dotted IPv4 address only.
    EXPECT_EQ(page, ExpectedPage({"装置情報の取得に失敗しました。"}));
}

TEST(ProcessEnvironmentTest, HoldsTheProcessVariables) {
    ::setenv("NETPROV_TEST_VARIABLE", "a=b", 1);
    ::setenv("NETPROV_TEST_EMPTY", "", 1);
    Environment environment = ProcessEnvironment();
    EXPECT_EQ(GetVariable(environment, "NETPROV_TEST_VARIABLE"), "a=b");
    EXPECT_EQ(GetVariable(environment, "NETPROV_TEST_EMPTY"), "");
    EXPECT_EQ(GetVariable(environment, "NETPROV_TEST_ABSENT"), std::nullopt);
}

}  // namespace
}  // namespace quellin::netprov
