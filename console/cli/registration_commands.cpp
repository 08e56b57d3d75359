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

bool IsAddress(const std::string& text) {
    in_addr parsed{};
    return text.empty() || ::inet_pton(AF_INET, text.c_str(), &parsed) == 1;
}

int Devices(CommandContext& c) {
    if (!c.operands().empty())
        return c.Usage("devices takes no names");
    int status = kExitOk;
    auto installation = c.Open(Installation::Access::kRead, status);
    if (!installation)
        return status;
    if (!c.json())
        c.out() << "row\tname\taddress\tlast config\tlast firmware\tlast log\tnext log\n";
    for (const CBase* d : installation->Registered()) {
        if (c.json()) {
            c.out() << console::DeviceJson(*d) << "\n";
            continue;
        }
        c.out() << d->row << "\t" << Cell(d->name) << "\t" << Cell(d->address) << "\t"
                << TimeText(d->lastConfigTransfer) << "\t" << TimeText(d->lastFirmwareUpdate)
                << "\t" << TimeText(d->lastLogCollection) << "\t" << TimeText(d->nextLogCollection)
                << "\n";
    }
    return kExitOk;
}

// The fields as the dialog would store them; nullopt with the exit status
// after saying why.
std::optional<console::DeviceFields> TypedFields(CommandContext& c, int& status) {
    status = kExitUsage;
    auto address = c.Option("address");
    auto password = c.Option("password");
    if (!address || !password) {
        c.Usage("register needs --address and --password");
        return std::nullopt;
    }
    if (!IsAddress(*address)) {
        c.Usage("not an IPv4 address: " + *address);
        return std::nullopt;
    }
    auto name = c.Cp932("the device name", c.operands()[0]);
    auto pass = c.Cp932("the password", *password);
    auto accessId = c.Cp932("the access ID", c.Option("access-id").value_or(""));
    auto accessPassword = c.Cp932("the access password", c.Option("access-password").value_or(""));
    if (!name || !pass || !accessId || !accessPassword)
        return std::nullopt;
    if (name->empty()) {
        c.Usage("the device name is empty");
        return std::nullopt;
    }
    console::DeviceFields fields{*name, *address, *pass, *accessId, *accessPassword, {}};
    if (auto config = c.Option("config")) {
        std::error_code ec;
        const auto path = std::filesystem::absolute(*config, ec);
        if (ec || !std::filesystem::is_regular_file(path, ec)) {
            status = c.Fail("no such file: " + *config);
            return std::nullopt;
        }
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
    auto installation = c.Open(Installation::Access::kWrite, status);
    if (!installation)
        return status;
    console::DeviceBook& book = installation->book();
    if (installation->Find(fields->name))
        return c.Fail("a device named " + c.operands()[0] + " is already registered");
    auto free = book.FirstFree();
    if (!free)
        return c.Fail("base.db has no free row (MAXROWS " +
                      std::to_string(installation->app().settings().maxRows) + ")");
    CBase& device = book.device(*free);
    if (auto refusal = book.Check(*fields, device.row)) {
        c.err() << cp932::ToUtf8Lossy(*refusal) << "\n";
        return kExitFailed;
    }
    console::DeviceBook::Store(device, *fields);
    if (!installation->Save())
        return c.Fail("cannot write " + cp932::ToUtf8Lossy(installation->layout().registry()));
    console::DeviceBook::LogRegistered(installation->reporter(), device.name);
    console::DeviceBook::LogSettingsChanged(installation->reporter(), device.name);
    c.out() << "registered " << c.operands()[0] << " in row " << device.row << "\n";
    return kExitOk;
}

// Named to be removed, a device is removed: the command line is the answer.
class RemovalAnswers final : public console::Questions {
public:
    console::Answer ConfirmFirmwareUpdate(const console::FirmwareUpdateQuestion&) override {
        return {false};
    }
    console::Answer ConfirmDeletion(console::Deletion, const std::string&) override {
        return {true};
    }
};

int Unregister(CommandContext& c) {
    if (c.operands().size() != 1)
        return c.Usage("unregister takes one device name");
    int status = kExitOk;
    auto installation = c.Open(Installation::Access::kWrite, status);
    if (!installation)
        return status;
    auto devices = c.Named(*installation, status);
    if (!devices)
        return status;
    CBase& device = *devices->front();
    const std::string name = device.name;
    RemovalAnswers answers;
    console::DeviceBook::Unregister(device, answers);
    if (!installation->Save())
        return c.Fail("cannot write " + cp932::ToUtf8Lossy(installation->layout().registry()));
    console::DeviceBook::LogUnregistered(installation->reporter(), name);
    c.out() << "unregistered " << c.operands()[0] << " from row " << device.row << "\n";
    return kExitOk;
}

}  // namespace

std::vector<Command> RegistrationCommands() {
    return {
        {"devices",
         "the registered devices",
         "usage: quellin devices [--json] [--home DIR]\n"
         "Lists the registered devices: row, name, address, and the times of the last\n"
         "configuration, firmware and log collection and of the next scheduled one.\n"
         "--json: one object per device (row, name, address, last_config, last_firmware,\n"
         "last_log, next_log; times as ISO 8601, \"\" for never).\n",
         {"home"},
         {"json"},
         false,
         Devices},
        {"register",
         "registers a device in the first free row",
         "usage: quellin register NAME --address A --password P [--access-id I]\n"
         "                        [--access-password X] [--config FILE] [--home DIR]\n"
         "Registers the device as the device settings dialog does, with its checks.\n",
         {"home", "address", "password", "access-id", "access-password", "config"},
         {},
         false,
         Register},
        {"unregister",
         "removes a device from base.db",
         "usage: quellin unregister NAME [--home DIR]\n"
         "Empties the device's row (its times and log schedule stay, as in the dialog).\n",
         {"home"},
         {},
         false,
         Unregister},
    };
}

}  // namespace quellin::cli
