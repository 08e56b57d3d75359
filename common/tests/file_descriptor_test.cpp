#include "file_descriptor.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

namespace quellin {
namespace {

using testing::ReadFile;
using testing::TempDirTest;

bool IsOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

int OpenDevNull() {
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

TEST(UniqueFdTest, ClosesWhenItGoes) {
    int raw = OpenDevNull();
    ASSERT_GE(raw, 0);
    {
        UniqueFd fd(raw);
        EXPECT_TRUE(fd.valid());
        EXPECT_EQ(fd.get(), raw);
    }
    EXPECT_FALSE(IsOpen(raw));
}

TEST(UniqueFdTest, MovingHandsOverWithoutClosing) {
    UniqueFd first(OpenDevNull());
    const int raw = first.get();
    UniqueFd second(std::move(first));
    EXPECT_FALSE(first.valid());  // NOLINT(bugprone-use-after-move): checked on purpose
    EXPECT_EQ(second.get(), raw);
    EXPECT_TRUE(IsOpen(raw));

    UniqueFd third(OpenDevNull());
    const int replaced = third.get();
    third = std::move(second);
    EXPECT_EQ(third.get(), raw);
    EXPECT_FALSE(IsOpen(replaced));
    EXPECT_TRUE(IsOpen(raw));
}

TEST(UniqueFdTest, ReleaseLeavesTheDescriptorOpen) {
    int raw = -1;
    {
        UniqueFd fd(OpenDevNull());
        raw = fd.Release();
        EXPECT_FALSE(fd.valid());
    }
    EXPECT_TRUE(IsOpen(raw));
    ::close(raw);
}

TEST(UniqueFdTest, CloseReportsAndHappensOnce) {
    UniqueFd fd(OpenDevNull());
    const int raw = fd.get();
    EXPECT_TRUE(fd.Close());
    EXPECT_FALSE(IsOpen(raw));
    EXPECT_FALSE(fd.valid());
    EXPECT_TRUE(fd.Close());  // nothing left to close
    EXPECT_TRUE(UniqueFd().Close());
}

TEST(UniqueFdTest, CloseOfABadDescriptorFails) {
    // A number that is no open descriptor, as after a double close.
    UniqueFd fd(1 << 20);
    EXPECT_FALSE(fd.Close());
    EXPECT_EQ(errno, EBADF);
}

class WholeIoTest : public TempDirTest {};

TEST_F(WholeIoTest, WritesAndReadsMoreThanOneCallTakes) {
    std::string bytes;
    for (int i = 0; i < (1 << 20) + 3; ++i)
        bytes += static_cast<char>(i * 7);
    const auto path = dir / "big";
    {
        UniqueFd out(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        ASSERT_TRUE(out.valid());
        EXPECT_TRUE(WriteAll(out.get(), bytes));
        EXPECT_TRUE(out.Close());
    }
    EXPECT_EQ(ReadFile(path), bytes);

    UniqueFd in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    std::string read = "kept:";
    EXPECT_TRUE(ReadAll(in.get(), read));
    EXPECT_EQ(read, "kept:" + bytes);
}

TEST_F(WholeIoTest, EmptyWriteAndEmptyFile) {
    const auto path = dir / "empty";
    UniqueFd out(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    EXPECT_TRUE(WriteAll(out.get(), ""));
    UniqueFd in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    std::string read;
    EXPECT_TRUE(ReadAll(in.get(), read));
    EXPECT_EQ(read, "");
}

TEST_F(WholeIoTest, WrongDirectionFailsWithTheReason) {
    const auto path = dir / "file";
    testing::WriteFile(path, "abc");
    UniqueFd readOnly(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    errno = 0;
    EXPECT_FALSE(WriteAll(readOnly.get(), "x"));
    EXPECT_EQ(errno, EBADF);

    UniqueFd writeOnly(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    std::string read;
    errno = 0;
    EXPECT_FALSE(ReadAll(writeOnly.get(), read));
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(ReadFile(path), "abc");
}

TEST_F(WholeIoTest, FullDeviceFailsTheWrite) {
    UniqueFd full(::open("/dev/full", O_WRONLY | O_CLOEXEC));
    if (!full.valid())
        GTEST_SKIP() << "no /dev/full here";
    errno = 0;
    EXPECT_FALSE(WriteAll(full.get(), "x"));
    EXPECT_EQ(errno, ENOSPC);
}

}  // namespace
}  // namespace quellin
