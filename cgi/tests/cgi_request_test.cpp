#include "cgi_request.h"

#include "expected_page.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quellin::netprov {
namespace {

using quellin::testing::PrintTo;
using quellin::testing::RowName;
using testing::ExpectedFoot;
using testing::ExpectedHead;

struct InputCase {
    const char* name;
    Environment environment;
    std::string body;
    ParameterMap expected;
    bool result = true;
};

ParameterMap Read(const Environment& environment, const std::string& body, bool* result = nullptr) {
    std::ostringstream page;
    std::istringstream input(body);
    CCgiRequest request(page);
    bool ok = request.ReadInput(input, environment);
    if (result != nullptr)
        *result = ok;
    return request.parameters();
}

Environment Get(const std::string& query) {
    return {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}};
}

Environment Post(const std::string& body) {
    return {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", std::to_string(body.size())}};
}

class ReadInputTest : public ::testing::TestWithParam<InputCase> {};

TEST_P(ReadInputTest, FillsTheMap) {
    bool result = false;
    EXPECT_EQ(Read(GetParam().environment, GetParam().body, &result), GetParam().expected);
    EXPECT_EQ(result, GetParam().result);
}

const std::string kBig(static_cast<std::size_t>(kMaxBodySize) + 1, 'x');

std::string BodyOfSize(std::size_t size) {
    std::string body = "a=1&b=";
    return body + std::string(size - body.size(), 'v');
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ReadInputTest,
    ::testing::Values(
        InputCase{"GetQuery",
                  Get("accessid=A&accesspass=B"),
                  "",
                  {{"accessid", "A"}, {"accesspass", "B"}}},
        InputCase{"PostBody",
                  Post("accessid=A&accesspass=B"),
                  "accessid=A&accesspass=B",
                  {{"accessid", "A"}, {"accesspass", "B"}}},
        InputCase{"AmpersandRun", Get("a=1&&b=2"), "", {{"a", "1"}, {"b", "2"}}},
        InputCase{"LeadingAndTrailingAmpersand", Get("&a=1&"), "", {{"a", "1"}}},
        InputCase{"EqualsRun", Get("a==1"), "", {{"a", "1"}}},
        InputCase{"LeadingEquals", Get("=a=1"), "", {{"a", "1"}}},
        InputCase{"TextAfterSecondEquals", Get("a=1=2"), "", {{"a", "1"}}},
        InputCase{"EmptyValueDropped", Get("a="), "", {}},
        InputCase{"NameAloneDropped", Get("a"), "", {}},
        InputCase{"OnlySeparators", Get("&&==&="), "", {}},
        InputCase{"LaterValueWins", Get("a=1&a=2"), "", {{"a", "2"}}},
        InputCase{"NamesAreCaseSensitive", Get("a=1&A=2"), "", {{"a", "1"}, {"A", "2"}}},
        InputCase{"NoDecoding", Get("a=%41+b"), "", {{"a", "%41+b"}}},
        InputCase{"MultibyteBytesKept",
                  Get("n=\x83\x65\x83\x58\x83\x67"),
                  "",
                  {{"n", "\x83\x65\x83\x58\x83\x67"}}},
        InputCase{"GetWithoutQueryString", {{"REQUEST_METHOD", "GET"}}, "", {}},
        InputCase{
            "GetIgnoresBody", {{"REQUEST_METHOD", "GET"}, {"CONTENT_LENGTH", "3"}}, "a=1", {}},
        InputCase{"ShortPostBodyUsesWhatArrived",
                  {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "100"}},
                  "a=1&b=2",
                  {{"a", "1"}, {"b", "2"}}},
        InputCase{"PostReadsOnlyContentLength",
                  {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "5"}},
                  "a=1&b=2",
                  {{"a", "1"}}},
        InputCase{"PostCrLfArrivesAsLf",
                  {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "10"}},
                  "a=1\r\n&b=2",
                  {{"a", "1\n"}, {"b", "2"}}},
        InputCase{"LowerCaseGetReadsBodyNotQuery",
                  {{"REQUEST_METHOD", "get"}, {"QUERY_STRING", "q=1"}, {"CONTENT_LENGTH", "3"}},
                  "b=2",
                  {{"b", "2"}}},
        InputCase{"HeadReadsBody",
                  {{"REQUEST_METHOD", "HEAD"}, {"CONTENT_LENGTH", "3"}},
                  "b=2",
                  {{"b", "2"}}},
        InputCase{"NoMethodNoInput", {{"QUERY_STRING", "a=1"}, {"CONTENT_LENGTH", "3"}}, "a=1", {}},
        InputCase{"PostWithoutLength", {{"REQUEST_METHOD", "POST"}}, "a=1", {}},
        InputCase{
            "PostZeroLength", {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "0"}}, "a=1", {}},
        InputCase{"PostNegativeLength",
                  {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "-3"}},
                  "a=1",
                  {}},
        InputCase{"PostLengthNotANumber",
                  {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "abc"}},
                  "a=1",
                  {}},
        InputCase{"PostLengthLeadingDigits",
                  {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "3xyz"}},
                  "a=1&b=2",
                  {{"a", "1"}}},
        InputCase{"BodyEndsAtNul",
                  {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "7"}},
                  std::string("a=1\0b=2", 7),
                  {{"a", "1"}}},
        InputCase{"BodyJustBelowBound",
                  Post(BodyOfSize(kMaxBodySize - 1)),
                  BodyOfSize(kMaxBodySize - 1),
                  {{"a", "1"}, {"b", std::string(kMaxBodySize - 7, 'v')}}},
        InputCase{"BodyAtBound",
                  Post(BodyOfSize(kMaxBodySize)),
                  BodyOfSize(kMaxBodySize),
                  {{"a", "1"}, {"b", std::string(kMaxBodySize - 6, 'v')}}},
        InputCase{"BodyOverBoundIsNotRead",
                  Post(BodyOfSize(kMaxBodySize + 1)),
                  BodyOfSize(kMaxBodySize + 1),
                  {},
                  false},
        InputCase{"HugeLengthIsNotRead",
                  {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", "99999999999999999999999"}},
                  "a=1",
                  {},
                  false}),
    RowName());

TEST(ReadInputTest, GetAndPostGiveTheSameMap) {
    const std::string input = "accessid=A&accesspass=B";
    EXPECT_EQ(Read(Get(input), ""), Read(Post(input), input));
}

TEST(GetParamTest, AnswersOnlyForStoredNames) {
    std::ostringstream page;
    std::istringstream body;
    CCgiRequest request(page);
    request.ReadInput(body, Get("a=1&b="));
    std::string value = "unchanged";
    EXPECT_FALSE(request.GetParam("b", value));
    EXPECT_FALSE(request.GetParam("A", value));
    EXPECT_EQ(value, "unchanged");
    EXPECT_TRUE(request.GetParam("a", value));
    EXPECT_EQ(value, "1");
}

TEST(ParseContentLengthTest, ConvertsLikeAtoi) {
    EXPECT_EQ(ParseContentLength("42"), 42);
    EXPECT_EQ(ParseContentLength(" 42"), 42);
    EXPECT_EQ(ParseContentLength("+7"), 7);
    EXPECT_EQ(ParseContentLength("-7"), -7);
    EXPECT_EQ(ParseContentLength("x1"), 0);
    EXPECT_EQ(ParseContentLength(""), 0);
    EXPECT_GT(ParseContentLength("99999999999999999999999999"), kMaxBodySize);
}

// Counts flushes, to see that each paragraph is sent on by itself.
class CountingBuffer : public std::stringbuf {
public:
    int syncs = 0;

protected:
    int sync() override {
        ++syncs;
        return std::stringbuf::sync();
    }
};

TEST(PageTest, EmptyRequestGivesHeadAndFootOnly) {
    std::ostringstream page;
    { CCgiRequest request(page); }
    EXPECT_EQ(page.str(), ExpectedHead() + ExpectedFoot());
}

TEST(PageTest, EachParagraphEndsInTwoLineFeedsAndIsFlushed) {
    CountingBuffer buffer;
    std::ostream out(&buffer);
    {
        CCgiRequest request(out);
        request.WriteParagraph("one");
        EXPECT_EQ(buffer.syncs, 1);
        EXPECT_EQ(buffer.str(), ExpectedHead() + "<p>one</p>\r\n\r\n");
        request.WriteParagraph(quellin::testing::Sjis("二つ目"));
        EXPECT_EQ(buffer.syncs, 2);
    }
    EXPECT_EQ(buffer.str(), ExpectedHead() + "<p>one</p>\r\n\r\n" +
                                testing::ExpectedParagraph("二つ目") + ExpectedFoot());
}

TEST(PageTest, TextIsWrittenVerbatim) {
    std::ostringstream page;
    {
        CCgiRequest request(page);
        request.WriteParagraph("100% <b>&amp;</b> %s");
    }
    EXPECT_EQ(page.str(), ExpectedHead() + "<p>100% <b>&amp;</b> %s</p>\r\n\r\n" + ExpectedFoot());
}

}  // namespace
}  // namespace quellin::netprov
