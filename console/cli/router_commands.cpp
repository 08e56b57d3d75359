// identify and firmware-info: a router and an image file, without the
// installation's devices.
#include "codec.h"
#include "command.h"
#include "firmware_image.h"

#include <arpa/inet.h>

#include <ostream>

namespace quellin::cli {
namespace {

int Identify(CommandContext& c) {
    if (c.operands().size() != 1)
        return c.Usage("identify takes one address");
    const std::string& address = c.operands()[0];
    in_addr parsed{};
    if (::inet_pton(AF_INET, address.c_str(), &parsed) != 1)
        return c.Usage("not an IPv4 address: " + address);
    auto timings = c.Timings();
    auto user = c.Cp932("the user", c.Option("user").value_or(""));
    auto password = c.Cp932("the password", c.Option("password").value_or(""));
    if (!timings || !user || !password)
        return kExitUsage;
    // The installation's settings (its dialogue deadline), with this user.
    console::ConsoleApp app(c.Home(), console::ConsoleApp::StartLog::Skip);
    app.settings().loginId = *user;
    const console::RouterMaintenance router(app, *timings);
    DeviceIdentity identity;
    const console::Outcome outcome = router.Identify({address, *password, {}, {}, {}}, identity);
    if (!outcome.done())
        return c.Fail(OneLine(outcome.reason.empty() ? outcome.message : outcome.reason));
    c.out() << "model: " << Cell(identity.model) << "\n"
            << "version: " << FormatVersion(identity.major, identity.minor) << "\n"
            << "startup configuration: " << Cell(identity.startupConfig) << "\n";
    return kExitOk;
}

int FirmwareInfo(CommandContext& c) {
    if (c.operands().empty())
        return c.Usage("firmware-info needs at least one file");
    int status = kExitOk;
    for (const std::string& file : c.operands()) {
        const auto examined = ExamineFirmwareImage(file);
        if (!examined) {
            c.out() << file << ": not a firmware image (" << examined.error().detail << ")\n";
            status = kExitFailed;
            continue;
        }
        const DeviceIdentity& identity = *examined;
        c.out() << file << ": model " << Cell(identity.model) << ", version "
                << FormatVersion(identity.major, identity.minor) << ", ptf " << Cell(identity.ptf)
                << ", date " << Cell(identity.date) << "\n";
    }
    return status;
}

}  // namespace

std::vector<Command> RouterCommands() {
    // clang-format off
    return {
        {"identify",
         "usage: quellin identify ADDRESS [--user U] [--password P] [--home DIR]\n",
         {"user", "password", "home"}, {}, true, Identify},
        {"firmware-info", "usage: quellin firmware-info FILE...\n",
         {}, {}, false, FirmwareInfo},
    };
    // clang-format on
}

}  // namespace quellin::cli
