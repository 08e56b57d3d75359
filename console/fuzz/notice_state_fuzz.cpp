// What the notices read from files others can write: the state file in the
// installation's group-writable folder, and a hook's command from
// NEXORA.INI.  Parsing never fails, a state written back reads back the
// same, and a command gives a bounded number of words.
#include "fuzz_check.h"
#include "hooks.h"
#include "notices.h"

#include <cstdint>
#include <string_view>

using quellin::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto once = quellin::console::ParseNoticeState(bytes);
    const auto twice = quellin::console::ParseNoticeState(quellin::console::NoticeStateText(once));
    Check(twice.size() <= once.size());
    Check(quellin::console::ParseNoticeState(quellin::console::NoticeStateText(twice)) == twice);
    const auto words = quellin::console::SplitCommandWords(bytes);
    Check(words.size() <= 256);
    for (const auto& word : words)
        Check(word.size() <= bytes.size());
    return 0;
}
