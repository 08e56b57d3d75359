// CPU cost of collecting a 4 MB "show tech-support" over telnet: the
// session's chunked reading against reading one byte per recv(), from a
// router simulated by a child process on loopback (so that the process's CPU
// time is the session's alone).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>

#include "telnet_session.h"

namespace {

constexpr std::size_t kOutputBytes = 4 * 1024 * 1024;

void SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0)
            _exit(1);
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

void ReadLine(int fd) {
    std::string line;
    char byte;
    while (!line.ends_with("\r\n")) {
        if (::recv(fd, &byte, 1, 0) != 1)
            _exit(1);
        line += byte;
    }
}

// The router: login, then 4 MB of output lines and the prompt.
[[noreturn]] void ServeRouter(int listener) {
    int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0)
        _exit(1);
    SendAll(fd, "Login: ");
    ReadLine(fd);
    SendAll(fd, "Password: ");
    ReadLine(fd);
    SendAll(fd, "\r\nTarn# ");
    ReadLine(fd);
    std::string block;
    const std::string line =
        "interface lan1 ip address 192.168.100.1/24 mtu 1500 up 123456 packets\r\n";
    while (block.size() + line.size() <= kOutputBytes)
        block += line;
    block.append(kOutputBytes - block.size() - 2, '.');
    block += "\r\n";
    SendAll(fd, "show tech-support\r\n");
    SendAll(fd, block);
    SendAll(fd, "Tarn# ");
    ReadLine(fd);  // exit
    ::close(fd);
    _exit(0);
}

double CpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct Measurement {
    double cpu = 0;
    double wall = 0;
    std::size_t bytes = 0;
};

Measurement Collect(std::size_t receiveChunk) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("listen");
        std::exit(1);
    }
    pid_t router = ::fork();
    if (router == 0)
        ServeRouter(listener);
    ::close(listener);

    quellin::TelnetOptions options;
    options.port = ntohs(address.sin_port);
    options.receiveTimeout = std::chrono::seconds(1);
    options.initialSleep = std::chrono::milliseconds(0);
    options.receiveChunk = receiveChunk;
    quellin::CTelnetSession session(options);
    quellin::CommandOutput output;

    auto wallStart = std::chrono::steady_clock::now();
    double cpuStart = CpuSeconds();
    int result = session.RunCommand("127.0.0.1", "admin", "secret", "show tech-support", &output);
    Measurement m;
    m.cpu = CpuSeconds() - cpuStart;
    m.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    m.bytes = output.text.size();

    int status = 0;
    ::waitpid(router, &status, 0);
    if (result != 0) {
        std::fprintf(stderr, "dialogue failed: %s\n", session.LastError().c_str());
        std::exit(1);
    }
    return m;
}

}  // namespace

int main() {
    Measurement chunked = Collect(quellin::kTelnetReceiveChunk);
    Measurement bytewise = Collect(1);
    std::printf("telnet 4 MB show tech-support (receive timeout 1 s, included in wall time)\n");
    std::printf("  chunked recv:      cpu %.3f s  wall %.3f s  %zu bytes\n", chunked.cpu,
                chunked.wall, chunked.bytes);
    std::printf("  one byte per recv: cpu %.3f s  wall %.3f s  %zu bytes\n", bytewise.cpu,
                bytewise.wall, bytewise.bytes);
    std::printf("  cpu ratio (one byte / chunked): %.1f\n",
                chunked.cpu > 0 ? bytewise.cpu / chunked.cpu : 0.0);
    return 0;
}
