// What the simulated router reads back from the web server, and the
// addresses it is told to call.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http_call.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quellin::tarn;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    if (auto response = ParseHttpResponse(text, error)) {
        if (response->status < 0 || response->status > 999)
            std::abort();
        if (response->body.size() + response->headers.size() > text.size())
            std::abort();
    }
    if (auto url = ParseHttpUrl(text, error)) {
        if (url->path.empty() || url->path[0] != '/' || url->server.port == 0)
            std::abort();
        ProvisionCall call;
        call.url = *url;
        call.accessId = text;
        BuildProvisionRequest(call);
    }
    const std::string encoded = FormEncode(text);
    if (encoded.find_first_of(" &=") != std::string::npos)
        std::abort();
    return 0;
}
