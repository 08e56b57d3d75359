#include "json_line.h"

#include "test_support.h"

#include <gtest/gtest.h>

namespace quellin {
namespace {

using testing::Sjis;

TEST(JsonLineTest, FieldsInTheirOrderWithTheirTypes) {
    EXPECT_EQ(JsonLine()
                  .Add("name", Sjis("大阪"))
                  .Add("count", 3)
                  .Add("ok", false)
                  .Add("seconds", 1.25)
                  .Text(),
              "{\"name\":\"大阪\",\"count\":3,\"ok\":false,\"seconds\":1.250}");
    EXPECT_EQ(JsonLine().Text(), "{}");
}

TEST(JsonLineTest, EscapesQuotesBackslashesAndControls) {
    EXPECT_EQ(JsonString("a\"b\\c\r\n\t\x01"), "\"a\\\"b\\\\c\\r\\n\\t\\u0001\"");
    // A byte that is not CP932 becomes U+FFFD.
    EXPECT_EQ(JsonString("\xA0"), "\"\xEF\xBF\xBD\"");
}

}  // namespace
}  // namespace quellin
