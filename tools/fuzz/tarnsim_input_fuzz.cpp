// What reaches the router simulator from outside: telnet bytes, command
// lines for the router shell, FTP PORT/EPRT arguments and fleet files.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ftp_connection.h"
#include "router_config.h"
#include "router_shell.h"
#include "telnet_connection.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quellin::tarn;
    const std::string text(reinterpret_cast<const char*>(data), size);

    TelnetInput input;
    input.Feed(text.data(), text.size());
    RouterConfig config;
    config.techSupportBytes = 4096;
    RouterState state = InitialState(config, 1700000000);
    RouterShell shell(config, state);
    for (const auto& line : input.lines()) {
        if (line.size() > TelnetInput::kMaxLine)
            std::abort();
        shell.Run(line, 1700000000);
    }
    for (const auto& option : input.options())
        DescribeOption(option);

    ParsePortArgument(text);
    ParseEprtArgument(text);
    std::vector<RouterConfig> routers;
    std::string error;
    ParseFleet(text, RouterConfig{}, routers, error);
    return 0;
}
