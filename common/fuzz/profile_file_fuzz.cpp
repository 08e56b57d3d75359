// Profile files edited by hand: any bytes read, looked up and written back.
#include "fuzz_check.h"
#include "profile_file.h"

#include <cstdint>
#include <string>

using quellin::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    quellin::ProfileDocument document(bytes);
    // Reading the bytes and writing them back changes nothing.
    Check(document.Bytes() == bytes);
    for (const char* key : {"FIRMDIR", "PORT", "MaxLineCount", ""})
        static_cast<void>(document.Find("Config", key));
    static_cast<void>(document.Keys("Config"));
    static_cast<void>(quellin::ParseProfileInt(bytes));
    // A value written is the value read back.
    document.Set("Config", "PORT", "8080");
    quellin::ProfileDocument reread(document.Bytes());
    auto port = reread.Find("Config", "PORT");
    Check(port && *port == "8080");
    return 0;
}
