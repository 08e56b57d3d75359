// What a router prints for "show config", and the diffs made of it: the
// configuration taken out of any dialogue output is a part of it that ends
// in a line end, with one LF for each CR LF it had; two texts give a diff
// exactly when they differ.
#include "config_text.h"
#include "fuzz_check.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using quellin::fuzz::Check;
    namespace history = quellin::history;
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    if (auto shown = history::ShownConfiguration(input)) {
        Check(shown->size() <= input.size());
        Check(shown->empty() || shown->back() == '\n');
        Check(std::count(shown->begin(), shown->end(), '\n') <=
              std::count(input.begin(), input.end(), '\n'));
    }

    // The first byte splits the rest into an old and a new text.
    if (size > 0) {
        const std::string_view rest = input.substr(1);
        const std::size_t cut = rest.empty() ? 0 : data[0] % (rest.size() + 1);
        const std::string_view before = rest.substr(0, cut);
        const std::string_view after = rest.substr(cut);
        const std::string diff = history::UnifiedDiff(before, after, "a", "b");
        Check(diff.empty() == (before == after));
        Check(diff.empty() || diff.starts_with("--- a\n+++ b\n@@ "));
        const history::LineChanges changes = history::CountLineChanges(before, after);
        Check((changes.added + changes.removed > 0) == (before != after));
        const history::Drift drift = history::CompareWithRegistered(after, after, "r", "s");
        Check(drift.same && drift.diff.empty());
    }
    return 0;
}
