// The simulated router's HTTP call: addresses, the request bytes, reading
// the answer, and the provision subcommand against a one-shot page server
// started by the test on loopback.
#include <poll.h>
#include <sys/socket.h>

#include <string>

#include "file_descriptor.h"
#include "http_call.h"
#include "socket_support.h"
#include "tarnsim_client.h"
#include "test_support.h"

namespace quellin::tarn {
namespace {

using ::quellin::testing::PrintTo;
using ::quellin::testing::ReadFile;
using ::quellin::testing::RowName;
using ::quellin::testing::Sjis;
using ::quellin::testing::TempDirTest;

// md5("secret")
constexpr char kSecretDigest[] = "5ebe2294ecd0e0f08eab7690d2a6ee69";

struct UrlCase {
    std::string name;
    std::string text;
    std::string host;  // empty: refused
    int port;
    std::string path;
};

class ParseHttpUrlTest : public ::testing::TestWithParam<UrlCase> {};

TEST_P(ParseHttpUrlTest, SplitsOrRefuses) {
    const UrlCase& row = GetParam();
    std::string error;
    auto url = ParseHttpUrl(row.text, error);
    if (row.host.empty()) {
        EXPECT_FALSE(url);
        EXPECT_FALSE(error.empty());
        return;
    }
    ASSERT_TRUE(url) << error;
    EXPECT_EQ(FormatIpv4(url->server.address), row.host);
    EXPECT_EQ(url->server.port, row.port);
    EXPECT_EQ(url->path, row.path);
}

INSTANTIATE_TEST_SUITE_P(
    Urls, ParseHttpUrlTest,
    ::testing::Values(UrlCase{"full", "http://127.0.0.1:8080/cgi-bin/Netprov", "127.0.0.1", 8080,
                              "/cgi-bin/Netprov"},
                      UrlCase{"default_port", "http://127.0.0.1/cgi-bin/Netprov", "127.0.0.1", 80,
                              "/cgi-bin/Netprov"},
                      UrlCase{"no_path", "http://127.1.2.3:81", "127.1.2.3", 81, "/"},
                      UrlCase{"query_kept", "http://127.0.0.1:1/a?b=c", "127.0.0.1", 1, "/a?b=c"},
                      UrlCase{"port_lowest", "http://127.0.0.1:1/", "127.0.0.1", 1, "/"},
                      UrlCase{"port_highest", "http://127.0.0.1:65535/", "127.0.0.1", 65535, "/"},
                      UrlCase{"port_zero", "http://127.0.0.1:0/", "", 0, ""},
                      UrlCase{"port_too_high", "http://127.0.0.1:65536/", "", 0, ""},
                      UrlCase{"port_empty", "http://127.0.0.1:/", "", 0, ""},
                      UrlCase{"port_letters", "http://127.0.0.1:8o/", "", 0, ""},
                      UrlCase{"https", "https://127.0.0.1/", "", 0, ""},
                      UrlCase{"host_name", "http://localhost/", "", 0, ""},
                      UrlCase{"not_loopback", "http://10.0.0.1/", "", 0, ""},
                      UrlCase{"empty", "", "", 0, ""}),
    RowName());

TEST(FormEncodeTest, KeepsUnreservedAndEscapesTheRest) {
    EXPECT_EQ(FormEncode("id-01_a.b~"), "id-01_a.b~");
    EXPECT_EQ(FormEncode("a b&c=d%"), "a+b%26c%3Dd%25");
    EXPECT_EQ(FormEncode(Sjis("支店")), "%8Ex%93X");
    EXPECT_EQ(FormEncode(std::string("\0\xff", 2)), "%00%FF");
}

ProvisionCall Call(bool post) {
    std::string error;
    ProvisionCall call;
    call.url = *ParseHttpUrl("http://127.0.0.1:8080/cgi-bin/Netprov", error);
    call.accessId = "id 01";
    call.accessPassword = "secret";
    call.post = post;
    return call;
}

TEST(BuildProvisionRequestTest, GetCarriesTheDigestInTheQuery) {
    EXPECT_EQ(BuildProvisionRequest(Call(false)),
              std::string("GET /cgi-bin/Netprov?accessid=id+01&accesspass=") + kSecretDigest +
                  " HTTP/1.0\r\nHost: 127.0.0.1:8080\r\n\r\n");
}

TEST(BuildProvisionRequestTest, PostCarriesTheDigestInTheBody) {
    const std::string form = std::string("accessid=id+01&accesspass=") + kSecretDigest;
    EXPECT_EQ(BuildProvisionRequest(Call(true)),
              "POST /cgi-bin/Netprov HTTP/1.0\r\nHost: 127.0.0.1:8080\r\n"
              "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                  std::to_string(form.size()) + "\r\n\r\n" + form);
}

TEST(BuildProvisionRequestTest, ExistingQueryIsExtended) {
    ProvisionCall call = Call(false);
    call.url.path = "/p?x=1";
    call.url.server.port = 80;
    EXPECT_EQ(BuildProvisionRequest(call).substr(0, 24), "GET /p?x=1&accessid=id+0");
    EXPECT_NE(BuildProvisionRequest(call).find("\r\nHost: 127.0.0.1\r\n"), std::string::npos);
}

struct ResponseCase {
    std::string name;
    std::string bytes;
    int status;  // 0: refused
    std::string headers;
    std::string body;
};

class ParseHttpResponseTest : public ::testing::TestWithParam<ResponseCase> {};

TEST_P(ParseHttpResponseTest, SplitsOrRefuses) {
    const ResponseCase& row = GetParam();
    std::string error;
    auto response = ParseHttpResponse(row.bytes, error);
    if (row.status == 0) {
        EXPECT_FALSE(response);
        EXPECT_FALSE(error.empty());
        return;
    }
    ASSERT_TRUE(response) << error;
    EXPECT_EQ(response->status, row.status);
    EXPECT_EQ(response->headers, row.headers);
    EXPECT_EQ(response->body, row.body);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ParseHttpResponseTest,
    ::testing::Values(
        ResponseCase{"page", "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<p>a</p>\r\n", 200,
                     "Content-Type: text/html\r\n", "<p>a</p>\r\n"},
        ResponseCase{"bare_lf", "HTTP/1.1 500 Error\nA: b\n\nbody", 500, "A: b\n", "body"},
        ResponseCase{"no_headers", "HTTP/1.0 404 Not Found\r\n\r\n", 404, "", ""},
        ResponseCase{"status_only", "HTTP/1.0 200", 200, "", ""},
        ResponseCase{"headers_unended", "HTTP/1.0 200 OK\r\nA: b\r\n", 200, "A: b\r\n", ""},
        ResponseCase{"blank_line_in_body", "HTTP/1.0 200 OK\r\n\r\na\r\n\r\nb", 200, "",
                     "a\r\n\r\nb"},
        ResponseCase{"too_short", "HTTP/1.0 20", 0, "", ""},
        ResponseCase{"not_http", "<html>200</html>", 0, "", ""},
        ResponseCase{"letters_in_code", "HTTP/1.0 2x0 OK\r\n\r\n", 0, "", ""},
        ResponseCase{"four_digits", "HTTP/1.0 2000 OK\r\n\r\n", 0, "", ""},
        ResponseCase{"empty", "", 0, "", ""}),
    RowName());

// A page server for one connection: reads the request (headers and any
// Content-Length body), answers with the given bytes and closes.
class OnePageServer {
public:
    explicit OnePageServer(std::string answer)
        : server_(
              [this, answer = std::move(answer)](UniqueFd client) {
                  peer_ = PeerAddress(client.get());
                  char buffer[4096];
                  for (int reads = 0; reads < 1000 && !Complete(); ++reads) {
                      pollfd c{client.get(), POLLIN, 0};
                      if (::poll(&c, 1, 10000) <= 0)
                          break;
                      ssize_t n = ::recv(client.get(), buffer, sizeof buffer, 0);
                      if (n <= 0)
                          break;
                      request_.append(buffer, static_cast<std::size_t>(n));
                  }
                  if (!answer.empty())
                      ::send(client.get(), answer.data(), answer.size(), MSG_NOSIGNAL);
              },
              ::quellin::testing::kLoopback, 4) {}
    int port() const { return server_.port(); }
    // What the client sent and where from, once it has been answered.
    const std::string& request() {
        server_.Join();
        return request_;
    }
    const std::string& peer() {
        server_.Join();
        return peer_;
    }

private:
    bool Complete() const {
        auto end = request_.find("\r\n\r\n");
        if (end == std::string::npos)
            return false;
        auto length = request_.find("Content-Length: ");
        if (length == std::string::npos || length > end)
            return true;
        return request_.size() >= end + 4 + std::stoul(request_.substr(length + 16));
    }

    std::string request_;
    std::string peer_;
    ::quellin::testing::OneConnectionServer server_;
};

constexpr char kPage[] =
    "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html><p>done</p></html>\r\n";

TEST(ExchangeTest, ReadsTheAnswerToTheClosedConnection) {
    std::string answer = kPage;
    answer += std::string(100000, 'x');  // more than one read
    OnePageServer server(answer);
    ASSERT_NE(server.port(), 0);
    std::string error;
    auto got =
        Exchange(*ParseIpv4("127.0.0.7"),
                 Endpoint{*ParseIpv4("127.0.0.1"), static_cast<std::uint16_t>(server.port())},
                 "GET / HTTP/1.0\r\n\r\n", std::chrono::milliseconds(10000), error);
    ASSERT_TRUE(got) << error;
    EXPECT_EQ(*got, answer);
    EXPECT_EQ(server.peer(), "127.0.0.7");
}

TEST(ExchangeTest, RefusedConnectionIsAReason) {
    const std::uint16_t port = ::quellin::testing::UnusedLoopbackPort();
    ASSERT_NE(port, 0);
    std::string error;
    EXPECT_FALSE(Exchange(*ParseIpv4("127.0.0.1"), Endpoint{*ParseIpv4("127.0.0.1"), port},
                          "GET / HTTP/1.0\r\n\r\n", std::chrono::milliseconds(5000), error));
    EXPECT_NE(error.find("connect"), std::string::npos) << error;
}

TEST(ExchangeTest, OnlyLoopback) {
    std::string error;
    EXPECT_FALSE(Exchange(*ParseIpv4("10.0.0.1"), Endpoint{*ParseIpv4("127.0.0.1"), 80}, "",
                          std::chrono::milliseconds(100), error));
    EXPECT_FALSE(error.empty());
}

class ProvisionCommandTest : public TempDirTest {};

TEST_F(ProvisionCommandTest, PostsAndRecordsThePage) {
    OnePageServer server(kPage);
    ASSERT_NE(server.port(), 0);
    const std::string state = (dir / "sim").string();
    auto result = testing::RunProgram(
        testing::BinPath("tarnsim"),
        {"provision", "--from", "127.0.0.9", "--url",
         "http://127.0.0.1:" + std::to_string(server.port()) + "/cgi-bin/Netprov", "--access-id",
         "id01", "--access-password", "secret", "--post", "--state", state, "--name", "r9"});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(result.output, "HTTP/1.0 200 OK\n<html><p>done</p></html>\r\n");
    EXPECT_EQ(server.peer(), "127.0.0.9");
    EXPECT_EQ(server.request().substr(0, 27), "POST /cgi-bin/Netprov HTTP/");
    EXPECT_TRUE(
        server.request().ends_with(std::string("accessid=id01&accesspass=") + kSecretDigest));
    EXPECT_EQ(ReadFile(dir / "sim" / "r9" / "provision-page"), kPage);
    auto lines =
        testing::WaitForJournal(dir / "sim" / "journal.jsonl",
                                {"\"router\":\"r9\"", "\"address\":\"127.0.0.9\"",
                                 "\"event\":\"http-call\"", "\"method\":\"POST\"", "\"ok\":true",
                                 "\"status\":200", "\"body\":\"<html><p>done</p></html>\\r\\n\""});
    EXPECT_EQ(lines.size(), 1u);
}

TEST_F(ProvisionCommandTest, ErrorStatusFailsTheCall) {
    OnePageServer server("HTTP/1.1 500 Internal Server Error\r\n\r\noops");
    ASSERT_NE(server.port(), 0);
    auto result = testing::RunProgram(
        testing::BinPath("tarnsim"),
        {"provision", "--from", "127.0.0.9", "--url",
         "http://127.0.0.1:" + std::to_string(server.port()) + "/cgi-bin/Netprov", "--access-id",
         "id01", "--access-password", "", "--state", (dir / "sim").string()});
    EXPECT_EQ(result.status, 1) << result.output;
    EXPECT_EQ(server.request().substr(0, 22), "GET /cgi-bin/Netprov?a");
    // md5 of the empty password
    EXPECT_NE(server.request().find("accesspass=d41d8cd98f00b204e9800998ecf8427e "),
              std::string::npos);
    EXPECT_EQ(testing::WaitForJournal(dir / "sim" / "journal.jsonl",
                                      {"\"router\":\"127.0.0.9\"", "\"event\":\"http-call\"",
                                       "\"ok\":false", "\"status\":500"})
                  .size(),
              1u);
}

TEST_F(ProvisionCommandTest, RefusesIncompleteCommandLines) {
    const std::vector<std::vector<std::string>> lines = {
        {"provision", "--url", "http://127.0.0.1:1/", "--access-id", "a"},
        {"provision", "--access-id", "a", "--access-password", "b"},
        {"provision", "--url", "http://10.1.1.1/", "--access-id", "a", "--access-password", "b"},
        {"provision", "--from", "10.1.1.1", "--url", "http://127.0.0.1:1/", "--access-id", "a",
         "--access-password", "b"},
        {"provision", "--url", "http://127.0.0.1:1/", "--access-id", "a", "--access-password", "b",
         "--timeout-ms", "0"},
    };
    for (const auto& line : lines) {
        auto result = testing::RunProgram(testing::BinPath("tarnsim"), line);
        EXPECT_EQ(result.status, 2) << line.size() << result.output;
    }
}

}  // namespace
}  // namespace quellin::tarn
