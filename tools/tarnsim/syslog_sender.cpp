#include "syslog_sender.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace quellin::tarn {

std::string SyslogStamp(std::int64_t time) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::time_t t = static_cast<std::time_t>(time);
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr)
        return {};
    char text[32];
    std::snprintf(text, sizeof text, "%s %2d %02d:%02d:%02d", kMonths[local.tm_mon % 12],
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string FormatSyslog(int pri, const std::string& stamp, const std::string& text) {
    std::string datagram = "<" + std::to_string(pri) + ">";
    if (!stamp.empty())
        datagram += stamp + " ";
    return datagram + text;
}

bool SendSyslog(in_addr from, const Endpoint& to, const std::string& datagram, std::string& error) {
    if (!IsLoopback(from) || !IsLoopback(to.address)) {
        error = "syslog datagrams go only between loopback addresses";
        return false;
    }
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr = from;
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        error = "bind " + FormatIpv4(from) + ": " + std::strerror(errno);
        return false;
    }
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr = to.address;
    remote.sin_port = htons(to.port);
    ssize_t n = ::sendto(fd.get(), datagram.data(), datagram.size(), 0,
                         reinterpret_cast<sockaddr*>(&remote), sizeof remote);
    if (n != static_cast<ssize_t>(datagram.size())) {
        error = std::string("sendto: ") + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace quellin::tarn
