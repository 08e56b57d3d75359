#include "installed_system.h"

#include "socket_support.h"
#include "test_support.h"

#include <sstream>
#include <utility>

namespace quellin::testing {

namespace fs = std::filesystem;

Ran RunToEnd(const fs::path& out, const std::string& program, const std::vector<std::string>& args,
             const std::vector<std::string>& environment) {
    fs::remove(out);
    ChildProcess child(program, args, environment, {}, out.string());
    Ran ran;
    ran.status = child.Wait(60000).value_or(-1000);
    ran.output = fs::exists(out) ? ReadFile(out) : "";
    return ran;
}

std::vector<std::string> SjisAll(std::initializer_list<const char*> texts) {
    std::vector<std::string> converted;
    for (const char* text : texts)
        converted.push_back(Sjis(text));
    return converted;
}

InstalledWebServer::InstalledWebServer(fs::path install, fs::path scratch)
    : install_(std::move(install)), scratch_(std::move(scratch)) {}

InstalledWebServer::~InstalledWebServer() {
    if (started_)
        RunToEnd(scratch_ / "httpd-stop.out", (install_ / "httpd" / "bin" / "httpd").string(),
                 {"-k", "stop"});
}

std::string InstalledWebServer::Start() {
    // Setup patched the configuration for port 80; the test keeps to a
    // free loopback port.
    const fs::path conf = install_ / "httpd" / "conf" / "httpd.conf";
    std::string patched = ReadFile(conf);
    if (patched.find("\r\nServerRoot \"" + (install_ / "httpd").string() + "\"\r\n") ==
        std::string::npos)
        return "httpd.conf names another ServerRoot";
    const auto listen = patched.find("\r\nListen 80\r\n");
    if (listen == std::string::npos)
        return "httpd.conf has no \"Listen 80\"";
    port_ = UnusedLoopbackPort();
    if (port_ == 0)
        return "no free loopback port";
    patched.replace(listen, 13, "\r\nListen 127.0.0.1:" + std::to_string(port_) + "\r\n");
    WriteFile(conf, patched);

    Ran started = RunToEnd(scratch_ / "httpd-start.out",
                           (install_ / "httpd" / "bin" / "httpd").string(), {"-k", "start"});
    if (started.status != 0)
        return "httpd -k start: " + std::to_string(started.status) + " " + started.output;
    started_ = true;
    if (!WaitUntil([&] { return ConnectToLoopback(kLoopback, port_).valid(); }, 10000))
        return "the web server does not answer\n" +
               ReadFile(install_ / "httpd" / "logs" / "error.log");
    return {};
}

std::string InstalledWebServer::NetprovUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/cgi-bin/Netprov";
}

}  // namespace quellin::testing
