// What the tests of a whole installation share: running the installed
// programs to their end and the installed web
// server moved to a free loopback port.  (Operation logs are read with
// LogMessages of test_support.h.)
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace quellin::testing {

struct Ran {
    int status = -1;
    std::string output;  // standard output and error
};

// Runs a program to its end (at most a minute) and keeps what it printed in
// `out`.
Ran RunToEnd(const std::filesystem::path& out, const std::string& program,
             const std::vector<std::string>& args,
             const std::vector<std::string>& environment = {});

// Each UTF-8 text in CP932.
std::vector<std::string> SjisAll(std::initializer_list<const char*> texts);

// The web server of an installation made by Setup, listening on a free
// loopback port instead of the installed "Listen 80"; stopped when it goes.
class InstalledWebServer {
public:
    explicit InstalledWebServer(std::filesystem::path install, std::filesystem::path scratch);
    ~InstalledWebServer();
    InstalledWebServer(const InstalledWebServer&) = delete;
    InstalledWebServer& operator=(const InstalledWebServer&) = delete;

    // Empty when the server answers, else what went wrong.
    std::string Start();
    std::uint16_t port() const { return port_; }
    std::string NetprovUrl() const;

private:
    std::filesystem::path install_;
    std::filesystem::path scratch_;
    std::uint16_t port_ = 0;
    bool started_ = false;
};

}  // namespace quellin::testing
