#include "process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quellin {
namespace {

std::vector<std::string> Collect(const ExecStrings& strings) {
    std::vector<std::string> collected;
    char* const* at = strings.get();
    for (; *at != nullptr; ++at)
        collected.emplace_back(*at);
    return collected;
}

TEST(ExecStringsTest, ArgumentVectorIsProgramThenArgumentsThenNull) {
    // Short strings live inside the string object itself, long ones on the
    // heap; the pointers must be right for both.
    const std::string longArgument(200, 'x');
    const ExecStrings argv("/bin/prog", {"-a", "", longArgument, "a b"});
    EXPECT_EQ(Collect(argv),
              (std::vector<std::string>{"/bin/prog", "-a", "", longArgument, "a b"}));
    EXPECT_EQ(argv.get()[5], nullptr);
}

TEST(ExecStringsTest, EnvironmentKeepsItsOrder) {
    const ExecStrings envp(std::vector<std::string>{"A=1", "LONG=" + std::string(100, 'v')});
    EXPECT_EQ(Collect(envp), (std::vector<std::string>{"A=1", "LONG=" + std::string(100, 'v')}));
    const ExecStrings none(std::vector<std::string>{});
    EXPECT_EQ(none.get()[0], nullptr);
}

// A program run to its end: its output as printed and its exit status; one
// that cannot start did not run.
TEST(RunAndReadTest, CollectsTheOutputAndTheStatus) {
    const ProgramRun printed = RunAndRead("/bin/sh", {"-c", "printf 'a b\\n'; exit 3"});
    EXPECT_TRUE(printed.ran);
    EXPECT_EQ(printed.output, "a b\n");
    EXPECT_EQ(printed.status, 3);
    EXPECT_FALSE(RunAndRead("/nonexistent/program", {}).ran);
}

}  // namespace
}  // namespace quellin
