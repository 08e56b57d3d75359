// One simulated router (tarnsim) for a test: started on a loopback address
// with free ports, its journal and stored files readable, stopped with the
// test.
#pragma once

#include "test_support.h"

#include <chrono>
#include <regex>
#include <string>
#include <vector>

namespace quellin::console {

class TarnsimRouter {
public:
    // settings: tarnsim options, e.g. {"--model", "Tarn-60", "--version", "V29.05"}.
    TarnsimRouter(const std::filesystem::path& stateDir, const std::string& address,
                  std::vector<std::string> settings)
        : state_(stateDir), address_(address) {
        std::filesystem::create_directories(stateDir);
        std::vector<std::string> args{
            "--state", stateDir.string(),  "--address", address, "--telnet-port", "0", "--ftp-port",
            "0",       "--reset-delay-ms", "100"};
        args.insert(args.end(), settings.begin(), settings.end());
        process_ = std::make_unique<testing::ChildProcess>(
            std::string(QUELLIN_BIN_DIR) + "/tarnsim", args, std::vector<std::string>{},
            std::string(), (stateDir / "ready.txt").string());
        testing::WaitUntil(
            [&] {
                return testing::ReadFile(stateDir / "ready.txt").find("ready all") !=
                       std::string::npos;
            },
            10000);
        std::smatch m;
        const std::string ready = testing::ReadFile(stateDir / "ready.txt");
        if (std::regex_search(ready, m, std::regex("telnet=(\\d+) ftp=(\\d+)"))) {
            telnetPort_ = std::stoi(m[1]);
            ftpPort_ = std::stoi(m[2]);
        }
    }
    ~TarnsimRouter() {
        process_->Signal(SIGTERM);
        process_->Wait(5000);
    }

    bool ready() const { return telnetPort_ > 0; }
    int telnetPort() const { return telnetPort_; }
    int ftpPort() const { return ftpPort_; }
    const std::string& address() const { return address_; }
    std::string journal() const { return testing::ReadFile(state_ / "journal.jsonl"); }
    // The commands the router received, in order.
    std::vector<std::string> commands() const {
        std::vector<std::string> texts;
        static const std::regex command(
            "\"event\":\"command\",\"peer\":\"[^\"]*\",\"text\":\"([^\"]*)\"");
        const std::string text = journal();
        for (std::sregex_iterator it(text.begin(), text.end(), command), end; it != end; ++it)
            texts.push_back((*it)[1]);
        return texts;
    }
    std::string stored(const std::string& slot) const {
        for (const auto& entry : std::filesystem::directory_iterator(state_)) {
            if (entry.is_directory() && std::filesystem::exists(entry.path() / slot))
                return testing::ReadFile(entry.path() / slot);
        }
        return {};
    }

private:
    std::filesystem::path state_;
    std::string address_;
    std::unique_ptr<testing::ChildProcess> process_;
    int telnetPort_ = 0;
    int ftpPort_ = 0;
};

}  // namespace quellin::console
