// The web view's program (a CGI program like Netprov, run by the installed
// web server once per request): a read-only JSON API over what quellin
// reads — base.db, the fleet state, the configuration history, the
// operation logs and the syslog store — never a router.
//
//   GET /api/devices                       every registered device
//   GET /api/devices/NAME                  one, with its log tail and drift
//   GET /api/devices/NAME/history          its stored versions, newest first
//   GET /api/devices/NAME/diff?from=&to=   a diff between two of them
//   GET /api/syslog?since=&until=&router=&level=&text=&limit=&unit=
//
// Configuration text leaves with its secrets masked; every answer forbids
// framing, scripts from elsewhere and caching.
#pragma once

#include "web_request.h"

#include <cstdint>
#include <iosfwd>
#include <string>

namespace quellin::web {

struct Response {
    int status = 200;
    std::string body;  // UTF-8 JSON
};

// Bounds of the parameters.
inline constexpr int kMaxSyslogRows = 1000;
inline constexpr int kDefaultSyslogRows = 200;
inline constexpr std::size_t kMaxSyslogText = 256;
inline constexpr std::size_t kMaxRouters = 16;
inline constexpr int kLogTailLines = 20;

// The answer to a parsed request; folder is the installation folder ending
// in "/" (CP932), now the current time.
Response Answer(const Request& request, const std::string& folder, std::int64_t now);

// The whole CGI exchange: headers and body on output.
int run(std::ostream& output, const Environment& environment, const std::string& folder);

Environment ProcessEnvironment();

}  // namespace quellin::web
