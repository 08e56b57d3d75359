// Starting the outside restart program: directly, without a shell, detached
// from the request, and without waiting for it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quellin::netprov {

// The parameter text "ADDRESS NAME" as the restart program has always been
// given it, unquoted: split into arguments at runs of blanks (space, TAB).
// Nothing else in the text has a meaning, so a name with a blank arrives as
// two arguments and quotes, backslashes or "$" arrive as they stand.
std::vector<std::string> SplitAtBlanks(std::string_view text);

struct StartResult {
    bool started = false;
    int systemError = 0;  // errno of the step that failed
};

// Starts the program (a path, no search) with the arguments in the folder
// and returns as soon as it runs.  Its standard streams are /dev/null, so it
// never holds the web server's connection open, and it runs in a session of
// its own as a grandchild that the system reaps, so no zombie is left.
StartResult StartDetached(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& folder);

}  // namespace quellin::netprov
