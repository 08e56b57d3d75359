// aiosmtpd (syslogd/tests/smtp_sink.py) as the tests' mail server: started
// on a free loopback port in a folder of its own, where it stores every
// mail it receives as mailN.eml with its envelope.
#pragma once

#include "test_support.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace quellin::testing {

inline constexpr char kPython[] = "/usr/bin/python3";

// A TCP port on 127.0.0.1 that nothing listens on just now.
inline std::uint16_t FreeTcpPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    std::uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length) == 0)
        port = ntohs(at.sin_port);
    ::close(fd);
    return port;
}

class MailServer {
public:
    // `options` as smtp_sink.py takes them (--starttls CERT KEY, --auth ...).
    explicit MailServer(const std::vector<std::string>& options = {}) : port_(FreeTcpPort()) {
        std::vector<std::string> arguments = {SYSLOGD_SMTP_SINK, std::to_string(port_),
                                              folder_.folder()};
        arguments.insert(arguments.end(), options.begin(), options.end());
        process_ = std::make_unique<ChildProcess>(kPython, arguments);
        ready_ = process_->started() &&
                 WaitUntil([&] { return std::filesystem::exists(folder_ / "ready"); }, 15000);
    }
    bool ready() const { return ready_; }
    std::uint16_t port() const { return port_; }
    std::filesystem::path Path(const std::string& name) const { return folder_ / name; }
    bool HasMail(int n) const {
        return std::filesystem::exists(Path("mail" + std::to_string(n) + ".eml"));
    }
    std::string Mail(int n) const { return ReadFile(Path("mail" + std::to_string(n) + ".eml")); }

private:
    TempDir folder_;
    std::uint16_t port_;
    std::unique_ptr<ChildProcess> process_;
    bool ready_ = false;
};

}  // namespace quellin::testing
