// quellin as the operator runs it: the program copied into an installation
// folder of the test's own, with its software and log folders, the image
// table and a NEXORA.INI, next to a simulated fleet on loopback.
#pragma once

#include "tarnsim_client.h"
#include "test_support.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace quellin::testing {

// A program run to its end: its exit status (128 + the signal for one
// ended by a signal, -1 when it did not start), standard output and
// standard error apart.
struct Ran {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs strings[0] with the rest as its arguments; its output passes through
// files in `folder`.
Ran RunToEnd(const std::vector<std::string>& strings, const std::filesystem::path& folder);

class QuellinInstallationTest : public TempDirTest {
protected:
    // The routers' telnet port; FTP is on the next one.
    explicit QuellinInstallationTest(int telnetPort) : telnetPort_(telnetPort) {}

    // The program, its folders and its image table; the test writes the
    // settings.
    void SetUp() override;

    // NEXORA.INI with the installation's folders and that many rows.
    void Settings(long long maxRows);

    // Runs the program in its folder to its end; `before` comes ahead of
    // it on the command line.
    Ran Run(std::vector<std::string> args, const std::vector<std::string>& before = {});

    // The arguments with the routers' ports and short waits added.
    std::vector<std::string> ToRouters(std::vector<std::string> args, int receiveTimeoutMs) const;

    void Register(const std::string& name, const std::string& address,
                  const std::string& password = "secret", const std::string& config = "");

    // tarnsim playing the router lines, all with the password "secret" on
    // the routers' ports and quick restarts.
    std::unique_ptr<tarn::testing::TarnsimProcess> StartFleet(const std::string& lines);

    int telnetPort() const { return telnetPort_; }

private:
    int telnetPort_;
};

}  // namespace quellin::testing
