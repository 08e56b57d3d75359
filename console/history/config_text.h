// Configurations as text: what a router shows for "show config", unified
// diffs between two versions, and whether a router still runs the
// configuration registered for it.  Texts are CP932 bytes and are compared
// line by line as bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quellin::history {

// The command that makes a router print the configuration it runs.
inline constexpr char kShowConfigCommand[] = "show config";

// The configuration in the output of a telnet dialogue that ran "show
// config": the echoed command line, the answer's CR LF lines, the prompt
// line, and after it the echo of the "exit" that closed the dialogue when
// the router echoed it.  The answer's lines with LF line ends; nullopt when
// the output has no echoed command line and prompt line around an answer.
std::optional<std::string> ShownConfiguration(std::string_view output);

// A unified diff from the old text to the new one with three lines of
// context: "--- oldLabel", "+++ newLabel", then the hunks.  Empty when the
// texts are equal.
std::string UnifiedDiff(std::string_view oldText, std::string_view newText,
                        std::string_view oldLabel, std::string_view newLabel);

struct LineChanges {
    std::size_t added = 0;
    std::size_t removed = 0;

    bool operator==(const LineChanges&) const = default;
};
LineChanges CountLineChanges(std::string_view oldText, std::string_view newText);

// A running configuration held against the device's registered
// configuration file.  Both are first made what an upload gives the router
// (LF line ends, a last line "eof"; the conversion the upload itself uses),
// so a router that runs the pushed file is the same whatever the file's
// line ends.
struct Drift {
    bool same = true;
    std::string diff;  // from the registered file to the running configuration
};
Drift CompareWithRegistered(std::string_view running, std::string_view registeredFile,
                            std::string_view registeredLabel, std::string_view runningLabel);

}  // namespace quellin::history
