// Starting the outside restart program: directly, without a shell, detached
// from the request, and without waiting for it (StartDetached, process.h).
#pragma once

#include "process.h"

#include <string>
#include <string_view>
#include <vector>

namespace quellin::netprov {

// The parameter text "ADDRESS NAME" as the restart program has always been
// given it, unquoted: split into arguments at runs of blanks (space, TAB).
// Nothing else in the text has a meaning, so a name with a blank arrives as
// two arguments and quotes, backslashes or "$" arrive as they stand.
std::vector<std::string> SplitAtBlanks(std::string_view text);

}  // namespace quellin::netprov
