// Feeds arbitrary requests through ReadInput: the first byte picks the
// method and how CONTENT_LENGTH relates to the body, the rest is the query
// string or the body.
#include "cgi_request.h"

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    using namespace quellin::netprov;
    const unsigned mode = data[0];
    std::string payload(reinterpret_cast<const char*>(data + 1), size - 1);

    Environment environment;
    static const char* const kMethods[] = {"GET", "POST", "get", "HEAD", ""};
    if ((mode & 7) < 5)
        environment["REQUEST_METHOD"] = kMethods[mode & 7];
    switch ((mode >> 3) & 3) {
        case 0:
            environment["CONTENT_LENGTH"] = std::to_string(payload.size());
            break;
        case 1:
            environment["CONTENT_LENGTH"] = std::to_string(payload.size() / 2);
            break;
        case 2:
            environment["CONTENT_LENGTH"] = std::to_string(payload.size() + 5);
            break;
        default:
            break;
    }
    if (mode & 0x20)
        environment["QUERY_STRING"] = payload;

    std::ostringstream page;
    std::istringstream body(payload);
    {
        CCgiRequest request(page);
        request.ReadInput(body, environment);
        for (const auto& [name, value] : request.parameters()) {
            if (name.empty() || value.empty())
                std::abort();
            if (name.find_first_of("&=") != std::string::npos)
                std::abort();
            if (value.find_first_of("&=") != std::string::npos)
                std::abort();
            std::string found;
            if (!request.GetParam(name, found) || found != value)
                std::abort();
        }
    }
    const std::string foot = "</body>\r\n</html>\r\n";
    const std::string text = page.str();
    if (text.size() < foot.size() ||
        text.compare(text.size() - foot.size(), foot.size(), foot) != 0)
        std::abort();
    return 0;
}
