#include "result.h"

#include "test_support.h"

namespace quellin {
namespace {

TEST(OneLineDetailTest, WritesControlBytesOutAndCutsBetweenCharacters) {
    const Error error{ErrorCode::kProtocol, testing::Sjis("受信:show\r\n\x01ok\t")};
    EXPECT_EQ(OneLineDetail(error), testing::Sjis("受信:show") + "\\r\\n\\x01ok\\t");
    // Two bytes hold half of the second character: the cut leaves it out.
    EXPECT_EQ(OneLineDetail(error, 3), testing::Sjis("受") + "...");
}

}  // namespace
}  // namespace quellin
