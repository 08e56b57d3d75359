// Configurations as text: taken out of the router's answer, compared as
// unified diffs, and held against the registered file as an upload makes it.
#include "config_text.h"
#include "test_support.h"

namespace quellin::history {
namespace {

using quellin::testing::PrintTo;
using quellin::testing::Sjis;

struct ShownRow {
    const char* name;
    std::string output;
    std::optional<std::string> config;
};

TEST(ShownConfigurationTest, TakesTheAnswerBetweenEchoAndPrompt) {
    const ShownRow rows[] = {
        {"with_exit_echo", "show config\r\nhostname a\r\n ip address dhcp\r\neof\r\n# exit\r\n",
         "hostname a\n ip address dhcp\neof\n"},
        {"closed_after_prompt", "show config\r\nhostname a\r\neof\r\n# ", "hostname a\neof\n"},
        {"named_prompt", "show config\r\nhostname a\r\nrouter-1# exit\r\n", "hostname a\n"},
        {"empty_answer", "show config\r\n# exit\r\n", ""},
        {"exit_inside", "show config\r\ninterface lan0\r\n exit\r\n# exit\r\n",
         "interface lan0\n exit\n"},
        {"lone_cr_kept", "show config\r\na\rb\r\n# ", "a\rb\n"},
        {"cp932", Sjis("show config\r\ndescription 大阪支店\r\n# exit\r\n"),
         Sjis("description 大阪支店\n")},
        {"nothing", "", std::nullopt},
        {"no_line_end", "show config# ", std::nullopt},
        {"exit_without_prompt", "show config\r\nexit\r\n", std::nullopt},
        {"no_prompt_line", "show config\r\nhostname a\r\n", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ShownConfiguration(row.output), row.config);
    }
}

TEST(UnifiedDiffTest, HunksWithContextUnderTheLabels) {
    const std::string before = "a\nb\nc\nd\ne\nf\ng\nh\n";
    const std::string after = "a\nb\nc\nd\nE\nf\ng\nh\ni\n";
    EXPECT_EQ(UnifiedDiff(before, after, "osaka-1 old", "osaka-1 new"),
              "--- osaka-1 old\n"
              "+++ osaka-1 new\n"
              "@@ -2,7 +2,8 @@\n"
              " b\n"
              " c\n"
              " d\n"
              "-e\n"
              "+E\n"
              " f\n"
              " g\n"
              " h\n"
              "+i\n");
    EXPECT_EQ(UnifiedDiff(before, before, "x", "y"), "");
    EXPECT_EQ(CountLineChanges(before, after), (LineChanges{2, 1}));
    EXPECT_EQ(CountLineChanges(before, before), (LineChanges{0, 0}));
}

TEST(UnifiedDiffTest, FromNothingAndWithoutLastLineEnd) {
    EXPECT_EQ(UnifiedDiff("", "x\ny\n", "a", "b"), "--- a\n+++ b\n@@ -0,0 +1,2 @@\n+x\n+y\n");
    EXPECT_EQ(UnifiedDiff("x\n", "x", "a", "b"),
              "--- a\n+++ b\n@@ -1 +1 @@\n-x\n+x\n\\ No newline at end of file\n");
    // CP932 bytes that a guess might take for binary data stay text.
    const std::string cp932 = Sjis("ホスト名 大阪\n");
    EXPECT_EQ(UnifiedDiff(cp932, "", "a", "b"), "--- a\n+++ b\n@@ -1 +0,0 @@\n-" + cp932);
}

TEST(DriftTest, RegisteredFileIsComparedAsTheUploadMakesIt) {
    const std::string running = "hostname a\ninterface lan0\neof\n";
    // CR LF line ends and no "eof": the same configuration once uploaded.
    const Drift same =
        CompareWithRegistered(running, "hostname a\r\ninterface lan0\r\n", "osaka.cfg", "osaka-1");
    EXPECT_TRUE(same.same);
    EXPECT_EQ(same.diff, "");
    // A router that shows no "eof" line runs the same configuration too.
    EXPECT_TRUE(CompareWithRegistered("hostname a\ninterface lan0\n",
                                      "hostname a\ninterface lan0\n", "r", "s")
                    .same);

    const Drift changed =
        CompareWithRegistered("hostname b\ninterface lan0\neof\n",
                              "hostname a\r\ninterface lan0\r\neof\r\n", "osaka.cfg", "osaka-1");
    EXPECT_FALSE(changed.same);
    EXPECT_EQ(changed.diff,
              "--- osaka.cfg\n"
              "+++ osaka-1\n"
              "@@ -1,3 +1,3 @@\n"
              "-hostname a\n"
              "+hostname b\n"
              " interface lan0\n"
              " eof\n");
}

}  // namespace
}  // namespace quellin::history
