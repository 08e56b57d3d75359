// What people type to search the store (times, levels, addresses,
// patterns) and the store's keys of a hand-edited Syslogd.ini.
#include "fake_clock.h"
#include "store_database.h"
#include "store_settings.h"
#include "store_text.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

using namespace quellin::syslogstore;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool zone = [] {
        setenv("TZ", "Asia/Tokyo", 1);
        tzset();
        return true;
    }();
    static_cast<void>(zone);
    const std::string text(reinterpret_cast<const char*>(data), size);
    const quellin::FakeClock clock(1735657200);  // 2025-01-01 00:00 in Tokyo
    static_cast<void>(ParseTimePoint(text, clock));
    static_cast<void>(ParseLevelMask(text));
    // An address read is the address written.
    if (auto address = ParseIPv4Address(text)) {
        if (ParseIPv4Address(FormatIPv4Address(*address)) != address)
            std::abort();
    }
    static_cast<void>(detail::CheckPattern(text, size % 2 == 0));
    static_cast<void>(ParseStoreSettings(text));
    return 0;
}
