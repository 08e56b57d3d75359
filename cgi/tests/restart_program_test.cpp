#include "restart_program.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

namespace quellin::netprov {
namespace {

namespace fs = std::filesystem;
using quellin::testing::PrintTo;
using quellin::testing::ReadFile;
using quellin::testing::RowName;
using quellin::testing::WriteFile;

struct SplitCase {
    const char* name;
    std::string text;
    std::vector<std::string> pieces;
};

class SplitAtBlanksTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitAtBlanksTest, Splits) {
    EXPECT_EQ(SplitAtBlanks(GetParam().text), GetParam().pieces);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SplitAtBlanksTest,
    ::testing::Values(SplitCase{"Empty", "", {}}, SplitCase{"OnlyBlanks", " \t ", {}},
                      SplitCase{"Two", "127.0.0.2 branch01", {"127.0.0.2", "branch01"}},
                      SplitCase{"Three", "127.0.0.2 branch 01", {"127.0.0.2", "branch", "01"}},
                      SplitCase{"RunsAndEnds", "\t a  b\t", {"a", "b"}},
                      SplitCase{"QuotesStay", "\"a b\" c\\ d", {"\"a", "b\"", "c\\", "d"}},
                      SplitCase{"Cp932StaysWhole",
                                "\x83\x5c\x83\x74\x83\x67 x",
                                {"\x83\x5c\x83\x74\x83\x67", "x"}},
                      SplitCase{"NewlineIsNoBlank", "a\nb", {"a\nb"}}),
    RowName());

class StartDetachedTest : public quellin::testing::TempDirTest {
protected:
    void Script(const std::string& body) {
        program = (dir / "program").string();
        WriteFile(program, "#!/bin/sh\n" + body);
        fs::permissions(program, fs::perms::owner_all);
    }

    // The file the program writes last, once it is there.
    std::string WaitForFile(const std::string& name) {
        const fs::path file = dir / name;
        for (int attempt = 0; attempt < 500 && !fs::exists(file); ++attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return fs::exists(file) ? ReadFile(file) : "<not written>";
    }

    std::string program;
};

TEST_F(StartDetachedTest, RunsInTheFolderWithTheArgumentsAndNullStreams) {
    // The streams are read before the output is redirected to the file.
    Script(
        "streams=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2)\n"
        "{ pwd; for a in \"$@\"; do echo \"[$a]\"; done; echo \"$streams\"; } > out.tmp\n"
        "mv out.tmp out.txt\n");
    EXPECT_TRUE(StartDetached(program, {"127.0.0.2", "a;b", "$(c)"}, dir.path().string()));
    EXPECT_EQ(WaitForFile("out.txt"), fs::canonical(dir.path()).string() +
                                          "\n[127.0.0.2]\n[a;b]\n[$(c)]\n/dev/null\n/dev/null\n"
                                          "/dev/null\n");
}

TEST_F(StartDetachedTest, LeavesNoChildOfTheCaller) {
    Script("echo done > out.txt\n");
    ASSERT_TRUE(StartDetached(program, {}, dir.path().string()));
    WaitForFile("out.txt");
    // The program belongs to the system, not to the caller.
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

struct FailureCase {
    const char* name;
    int error;
};

class StartFailureTest : public StartDetachedTest,
                         public ::testing::WithParamInterface<FailureCase> {};

TEST_P(StartFailureTest, IsReportedWithItsReason) {
    std::string folder = dir.path().string();
    program = (dir / "program").string();
    switch (GetParam().error) {
        case ENOENT:
            break;
        case EACCES:
            WriteFile(program, "#!/bin/sh\nexit 0\n");
            fs::permissions(program, fs::perms::owner_read | fs::perms::owner_write);
            break;
        case ENOTDIR:
            Script("exit 0\n");
            folder = program;
            break;
    }
    EXPECT_EQ(StartDetached(program, {"x"}, folder).error(),
              SystemError(GetParam().error, "cannot start " + program));
}

INSTANTIATE_TEST_SUITE_P(Rows, StartFailureTest,
                         ::testing::Values(FailureCase{"Missing", ENOENT},
                                           FailureCase{"NotExecutable", EACCES},
                                           FailureCase{"FolderIsAFile", ENOTDIR}),
                         RowName());

}  // namespace
}  // namespace quellin::netprov
