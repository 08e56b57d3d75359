#include "quellin_installation.h"

namespace quellin::testing {

namespace fs = std::filesystem;

Ran RunToEnd(const std::vector<std::string>& strings, const fs::path& folder) {
    const fs::path out = folder / "out.txt";
    const fs::path err = folder / "err.txt";
    const std::vector<std::string> arguments(strings.begin() + 1, strings.end());
    Ran ran;
    {
        ChildProcess child(strings[0], arguments, {}, {}, out.string(), err.string());
        if (!child.started())
            return ran;
        ran.status = child.Wait(15 * 60 * 1000).value_or(-1);
    }
    ran.out = fs::exists(out) ? ReadFile(out) : "";
    ran.err = fs::exists(err) ? ReadFile(err) : "";
    fs::remove(out);
    fs::remove(err);
    return ran;
}

void QuellinInstallationTest::SetUp() {
    fs::copy_file(fs::path(QUELLIN_BIN_DIR) / "quellin", dir / "quellin");
    fs::create_directory(dir / "log");
    fs::create_directory(dir / "firmware");
    fs::copy_file(fs::path(QUELLIN_SOURCE_DIR) / "dist" / "firmifconvert.db",
                  dir / "firmifconvert.db");
}

void QuellinInstallationTest::Settings(long long maxRows) {
    WriteFile(dir / "NEXORA.INI", "[Config]\r\nFIRMDIR=" + dir.folder() +
                                      "firmware\r\nLOGDIR=" + dir.folder() +
                                      "log\r\nMAXROWS=" + std::to_string(maxRows) + "\r\n");
}

Ran QuellinInstallationTest::Run(std::vector<std::string> args,
                                 const std::vector<std::string>& before) {
    std::vector<std::string> strings = before;
    strings.push_back((dir / "quellin").string());
    strings.insert(strings.end(), args.begin(), args.end());
    return RunToEnd(strings, dir.path());
}

std::vector<std::string> QuellinInstallationTest::ToRouters(std::vector<std::string> args,
                                                            int receiveTimeoutMs) const {
    const std::vector<std::string> options = {
        "--telnet-port",        std::to_string(telnetPort_),
        "--ftp-port",           std::to_string(telnetPort_ + 1),
        "--initial-sleep-ms",   "0",
        "--receive-timeout-ms", std::to_string(receiveTimeoutMs),
        "--restart-wait-ms",    "0"};
    args.insert(args.end(), options.begin(), options.end());
    return args;
}

void QuellinInstallationTest::Register(const std::string& name, const std::string& address,
                                       const std::string& password, const std::string& config) {
    std::vector<std::string> args = {"register", name,         "--address",
                                     address,    "--password", password};
    if (!config.empty()) {
        args.push_back("--config");
        args.push_back(config);
    }
    Ran ran = Run(args);
    ASSERT_EQ(ran.status, 0) << ran.err;
}

std::unique_ptr<tarn::testing::TarnsimProcess> QuellinInstallationTest::StartFleet(
    const std::string& lines) {
    auto fleet = tarn::testing::StartFleet(
        dir.path(), "defaults password=secret telnet-port=" + std::to_string(telnetPort_) +
                        " ftp-port=" + std::to_string(telnetPort_ + 1) + " reset-delay-ms=50\n" +
                        lines);
    EXPECT_TRUE(fleet->ready());
    return fleet;
}

}  // namespace quellin::testing
