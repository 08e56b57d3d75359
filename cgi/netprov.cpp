#include "netprov.h"

#include <unistd.h>

#include <exception>

namespace quellin::netprov {

int run(std::istream& input, std::ostream& output, const Environment& environment,
        const std::string& baseFolder, const ProvisioningOptions& options) {
    // The request object lives longest, so its foot closes the page after
    // everything the run wrote.
    CCgiRequest request(output);
    CAutoConfig autoConfig(request, environment, baseFolder, options);
    try {
        // A body that could not be read leaves the map empty, which the run
        // reports as a missing parameter.
        request.ReadInput(input, environment);
        return autoConfig.Run() ? 0 : 1;
    } catch (const std::exception& thrown) {
        // Whatever went wrong, the caller still gets a complete page, and
        // the device's log says what it was.
        autoConfig.LogReason({ErrorCode::kInternal, thrown.what()});
        return 1;
    }
}

Environment ProcessEnvironment() {
    Environment environment;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        std::string text(*entry);
        auto equals = text.find('=');
        if (equals == std::string::npos)
            continue;
        environment.emplace(text.substr(0, equals), text.substr(equals + 1));
    }
    return environment;
}

}  // namespace quellin::netprov
