// The web view's request as the web server hands it over: the method and
// the request target (REQUEST_URI, as the browser sent it) taken apart into
// path segments and query parameters, percent-decoded and bounded.  Nothing
// here trusts the target: a bad escape, too many or too long parts give no
// request at all (400).
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quellin::web {

// The CGI environment, as the web server passes it.
using Environment = std::map<std::string, std::string>;

inline constexpr std::size_t kMaxTargetBytes = 4096;
inline constexpr std::size_t kMaxSegments = 8;
inline constexpr std::size_t kMaxParameters = 32;

struct Request {
    std::string method;
    std::vector<std::string> path;  // decoded segments (UTF-8 bytes as sent), no empty ones
    std::map<std::string, std::string> query;  // decoded; the first of a name wins
};

// "%41" and "+" (in a query) decoded; nullopt for a broken escape or a NUL.
std::optional<std::string> PercentDecode(std::string_view text, bool plusIsBlank);

// nullopt when the target is not "/..." within the bounds above.
std::optional<Request> ParseRequest(std::string_view method, std::string_view target);

}  // namespace quellin::web
