// Syslog datagrams as the routers send them: "<PRI>Mmm dd hh:mm:ss text".
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "net.h"

namespace quellin::tarn {

// The 15-character time stamp ("Jan  2 03:04:05") of a time in local time.
std::string SyslogStamp(std::int64_t time);

// "<pri>" + stamp + " " + text, or without the stamp when it is empty.
std::string FormatSyslog(int pri, const std::string& stamp, const std::string& text);

// Sends one datagram from the local address to the target; both must be
// loopback addresses.  False with a reason otherwise.
bool SendSyslog(in_addr from, const Endpoint& to, const std::string& datagram, std::string& error);

}  // namespace quellin::tarn
