// devices, register and unregister: base.db as the device settings dialog
// keeps it.
#include "codec.h"
#include "command.h"
#include "device_json.h"

#include <arpa/inet.h>

#include <filesystem>
#include <ostream>

namespace quellin::cli {
namespace {

using console::Installation;

int Devices(CommandContext& c) {
    if (!c.Start(Installation::Access::kRead, CommandContext::Devices::kEvery))
        return c.status();
    c.out() << (c.json() ? "" : console::DeviceHeading());
    for (const CBase* device : c.devices())
        c.out() << (c.json() ? console::DeviceJson(*device) + "\n" : console::DeviceLine(*device));
    return kExitOk;
}

// The fields as typed into the dialog; nullopt with the exit status.
std::optional<console::DeviceFields> TypedFields(CommandContext& c, int& status) {
    auto refuse = [&](int why) {
        status = why;
        return std::nullopt;
    };
    auto address = c.Option("address");
    auto password = c.Option("password");
    in_addr parsed{};
    if (!address || !password)
        return refuse(c.Usage("register needs --address and --password"));
    if (!address->empty() && ::inet_pton(AF_INET, address->c_str(), &parsed) != 1)
        return refuse(c.Usage("not an IPv4 address: " + *address));
    auto name = c.Cp932("the device name", c.operands()[0]);
    auto pass = c.Cp932("the password", *password);
    auto id = c.Cp932("the access ID", c.Option("access-id").value_or(""));
    auto accessPassword = c.Cp932("the access password", c.Option("access-password").value_or(""));
    if (!name || !pass || !id || !accessPassword)
        return refuse(kExitUsage);
    if (name->empty())
        return refuse(c.Usage("the device name is empty"));
    console::DeviceFields fields{*name, *address, *pass, *id, *accessPassword, {}};
    if (auto config = c.Option("config")) {
        std::error_code ec;
        const auto path = std::filesystem::absolute(*config, ec);
        if (ec || !std::filesystem::is_regular_file(path, ec))
            return refuse(c.Fail("no such file: " + *config));
        fields.configFile = cp932::FromPath(path.lexically_normal());
    }
    return fields;
}

int Register(CommandContext& c) {
    if (c.operands().size() != 1)
        return c.Usage("register takes one device name");
    int status = kExitOk;
    auto fields = TypedFields(c, status);
    if (!fields)
        return status;
    if (!c.Start(Installation::Access::kWrite, CommandContext::Devices::kNone))
        return c.status();
    auto row = c.installation().Register(*fields);
    if (!row)
        return c.Fail(cp932::ToUtf8Lossy(row.error().detail));
    c.out() << "registered " << c.operands()[0] << " in row " << *row << "\n";
    return kExitOk;
}

int Unregister(CommandContext& c) {
    if (c.operands().size() != 1)
        return c.Usage("unregister takes one device name");
    if (!c.Start(Installation::Access::kWrite, CommandContext::Devices::kFirst))
        return c.status();
    const int row = c.devices().front()->row;
    if (auto done = c.installation().Unregister(c.devices().front()->name); !done)
        return c.Fail(cp932::ToUtf8Lossy(done.error().detail));
    c.out() << "unregistered " << c.operands()[0] << " from row " << row << "\n";
    return kExitOk;
}

}  // namespace

std::vector<Command> RegistrationCommands() {
    // clang-format off
    return {
        {"devices",
         "usage: quellin devices [--json] [--home DIR]\n"
         "--json objects: row, name, address, last_config, last_firmware, last_log,\n"
         "next_log (times in ISO 8601, \"\" for never).\n",
         {"home"}, {"json"}, false, Devices},
        {"register",
         "usage: quellin register NAME --address A --password P [--access-id I]\n"
         "                        [--access-password X] [--config FILE] [--home DIR]\n",
         {"home", "address", "password", "access-id", "access-password", "config"}, {}, false,
         Register},
        {"unregister",
         "usage: quellin unregister NAME [--home DIR]\n",
         {"home"}, {}, false, Unregister},
    };
    // clang-format on
}

}  // namespace quellin::cli
