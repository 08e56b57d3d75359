// The router's side of provisioning over HTTP: a router asks the
// provisioning page for its update, naming itself with its access ID and the
// MD5 digest of its access password, and reads the page to the closed
// connection (the page carries no length).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "net.h"

namespace quellin::tarn {

// "http://A.B.C.D[:PORT]/path" with a dotted loopback host; the path keeps
// any query it has and defaults to "/".
struct HttpUrl {
    Endpoint server;
    std::string path;
};
std::optional<HttpUrl> ParseHttpUrl(const std::string& text, std::string& error);

// Form encoding of one value: letters, digits and "-_.~" stay, a space is
// "+", every other byte "%XX".
std::string FormEncode(std::string_view bytes);

// The request a router sends: GET with "accessid" and "accesspass" in the
// query, or POST with them as a form body.  The password goes as the 32
// lowercase hexadecimal digits of its MD5 digest.
struct ProvisionCall {
    HttpUrl url;
    std::string accessId;
    std::string accessPassword;
    bool post = false;
};
std::string BuildProvisionRequest(const ProvisionCall& call);

// What came back: the status code of the first line, the header block
// (without the blank line) and the body.
struct HttpResponse {
    int status = 0;
    std::string statusLine;
    std::string headers;
    std::string body;
};
// Splits an answer read to its end; nullopt with a reason when the first
// line is no HTTP status line.
std::optional<HttpResponse> ParseHttpResponse(std::string_view bytes, std::string& error);

// Connects from the local loopback address, sends the request and reads
// until the server closes the connection, all within the time limit.
// nullopt with a reason on any failure; the bytes read so far stay in
// `partial`.
std::optional<std::string> Exchange(in_addr from, const Endpoint& server,
                                    const std::string& request, std::chrono::milliseconds limit,
                                    std::string& error, std::string* partial = nullptr);

// The most an answer may hold before the call gives up on it.
inline constexpr std::size_t kMaxAnswerBytes = 4 * 1024 * 1024;

}  // namespace quellin::tarn
