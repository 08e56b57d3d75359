// The one rule by which configuration text is shown to people who may not
// see its secrets (the web view, the notices): on a line where a word names
// a secret (it holds "password", "passwd", "secret", "key" or "community",
// in any case), every word after that one is replaced by "********".  The
// line's words before it, its indentation and its line end stay, so a diff
// still shows which line changed.
#pragma once

#include <string>
#include <string_view>

namespace quellin::console {

inline constexpr char kMaskedSecret[] = "********";

// Text of any line ends (CP932 or UTF-8: only ASCII is looked at).
std::string MaskSecrets(std::string_view text);

}  // namespace quellin::console
