#include "http_call.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "md5.h"

namespace quellin::tarn {

namespace {

constexpr std::string_view kScheme = "http://";

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

std::optional<HttpUrl> ParseHttpUrl(const std::string& text, std::string& error) {
    if (text.compare(0, kScheme.size(), kScheme) != 0) {
        error = "the address must begin with http://";
        return std::nullopt;
    }
    const std::string rest = text.substr(kScheme.size());
    const auto slash = rest.find('/');
    const std::string authority = rest.substr(0, slash);
    HttpUrl url;
    url.path = slash == std::string::npos ? "/" : rest.substr(slash);
    const auto colon = authority.find(':');
    const std::string host = authority.substr(0, colon);
    auto address = ParseIpv4(host);
    if (!address) {
        error = "the host must be a dotted IPv4 address: " + host;
        return std::nullopt;
    }
    if (!IsLoopback(*address)) {
        error = "the simulator only calls loopback addresses: " + host;
        return std::nullopt;
    }
    url.server.address = *address;
    url.server.port = 80;
    if (colon != std::string::npos) {
        const std::string port = authority.substr(colon + 1);
        if (!AllDigits(port) || port.size() > 5 || std::stoi(port) < 1 || std::stoi(port) > 65535) {
            error = "the port must be 1 to 65535: " + port;
            return std::nullopt;
        }
        url.server.port = static_cast<std::uint16_t>(std::stoi(port));
    }
    return url;
}

std::string FormEncode(std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
            (byte >= '0' && byte <= '9') || c == '-' || c == '_' || c == '.' || c == '~') {
            encoded += c;
        } else if (c == ' ') {
            encoded += '+';
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return encoded;
}

std::string BuildProvisionRequest(const ProvisionCall& call) {
    const std::string form =
        "accessid=" + FormEncode(call.accessId) + "&accesspass=" + Md5Hex(call.accessPassword);
    const std::string host =
        FormatIpv4(call.url.server.address) +
        (call.url.server.port == 80 ? std::string() : ":" + std::to_string(call.url.server.port));
    if (call.post) {
        return "POST " + call.url.path + " HTTP/1.0\r\nHost: " + host +
               "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
               std::to_string(form.size()) + "\r\n\r\n" + form;
    }
    const char joiner = call.url.path.find('?') == std::string::npos ? '?' : '&';
    return "GET " + call.url.path + joiner + form + " HTTP/1.0\r\nHost: " + host + "\r\n\r\n";
}

std::optional<HttpResponse> ParseHttpResponse(std::string_view bytes, std::string& error) {
    HttpResponse response;
    auto lineEnd = bytes.find('\n');
    std::string_view first = bytes.substr(0, lineEnd);
    if (!first.empty() && first.back() == '\r')
        first.remove_suffix(1);
    // "HTTP/x.y NNN reason": the version, one space, three digits.
    if (first.size() < 12 || first.substr(0, 5) != "HTTP/" || first.find(' ') == first.npos) {
        error = "no HTTP status line";
        return std::nullopt;
    }
    const auto space = first.find(' ');
    const std::string_view code = first.substr(space + 1, 3);
    if (code.size() != 3 || !AllDigits(code) ||
        (first.size() > space + 4 && first[space + 4] != ' ')) {
        error = "no status code in the first line";
        return std::nullopt;
    }
    response.status = std::stoi(std::string(code));
    response.statusLine = std::string(first);
    if (lineEnd == std::string_view::npos)
        return response;
    // The header block ends at the first empty line, CR LF or bare LF.
    std::size_t at = lineEnd + 1;
    while (at < bytes.size()) {
        auto end = bytes.find('\n', at);
        std::string_view line = bytes.substr(at, end == bytes.npos ? bytes.npos : end - at);
        std::size_t next = end == bytes.npos ? bytes.size() : end + 1;
        if (line.empty() || line == "\r") {
            response.body = std::string(bytes.substr(next));
            return response;
        }
        response.headers.append(bytes.substr(at, next - at));
        at = next;
    }
    return response;
}

std::optional<std::string> Exchange(in_addr from, const Endpoint& server,
                                    const std::string& request, std::chrono::milliseconds limit,
                                    std::string& error, std::string* partial) {
    using Clock = std::chrono::steady_clock;
    if (!IsLoopback(from) || !IsLoopback(server.address)) {
        error = "the simulator only talks between loopback addresses";
        return std::nullopt;
    }
    const auto deadline = Clock::now() + limit;
    auto remaining = [&] {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        return static_cast<int>(std::max<std::int64_t>(0, left.count()));
    };
    UniqueFd fd = ConnectNonBlocking(from, server.address, server.port, error);
    if (!fd.valid())
        return std::nullopt;
    std::string answer;
    auto fail = [&](std::string reason) -> std::optional<std::string> {
        error = std::move(reason);
        if (partial)
            *partial = answer;
        return std::nullopt;
    };

    pollfd watch{fd.get(), POLLOUT, 0};
    if (::poll(&watch, 1, remaining()) <= 0)
        return fail("no connection within the time limit");
    if (int result = ConnectResult(fd.get()); result != 0)
        return fail("connect " + FormatIpv4(server.address) + ":" + std::to_string(server.port) +
                    ": " + std::strerror(result));

    std::string unsent = request;
    while (!unsent.empty()) {
        watch = {fd.get(), POLLOUT, 0};
        if (::poll(&watch, 1, remaining()) <= 0)
            return fail("the request could not be sent within the time limit");
        long sent = SendSome(fd.get(), unsent);
        if (sent < 0)
            return fail("the connection broke while sending");
        unsent.erase(0, static_cast<std::size_t>(sent));
    }

    char buffer[8192];
    for (;;) {
        watch = {fd.get(), POLLIN, 0};
        if (::poll(&watch, 1, remaining()) <= 0)
            return fail("the answer did not end within the time limit");
        ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
        if (n == 0)
            return answer;
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            return fail(std::string("recv: ") + std::strerror(errno));
        }
        answer.append(buffer, static_cast<std::size_t>(n));
        if (answer.size() > kMaxAnswerBytes)
            return fail("the answer is larger than " + std::to_string(kMaxAnswerBytes) + " bytes");
    }
}

}  // namespace quellin::tarn
