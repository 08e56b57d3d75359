// Known-hosts files as an operator may write them, any bytes: a key is
// listed only where a line holds it whole for the host.
#include "fuzz_check.h"
#include "history_remote.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using quellin::fuzz::Check;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const bool listed = quellin::history::KnownHostsList(text, "127.0.0.1", "AAAAC3Nza");
    Check(!listed || text.find("AAAAC3Nza") != std::string::npos);
    Check(!quellin::history::KnownHostsList(text, "127.0.0.1", ""));
    return 0;
}
