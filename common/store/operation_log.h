// The operation log: one text file per device name in <base folder>/log,
// one line "YYYY/MM/DD hh:mm:ss,<name>,<message>" CR LF per event.
// Writing is fire-and-forget: a line that cannot be written is lost and the
// operation being logged goes on.
#pragma once

#include <cstdint>
#include <string>

namespace quellin {

// name, baseFolder and message are CP932.  baseFolder ends in "/" for the
// console (its program folder), so the folder name may hold "//", which the
// file system accepts.  Each line is appended with a single write to a file
// opened for appending, so simultaneous writers never mix parts of lines.
void WriteOperationLog(const std::string& name, const std::string& baseFolder,
                       const std::string& message);

// The part of a device's file names that comes from its name (CP932): the
// name itself, as the log has always been named, unless the name would
// leave the folder or share another's file (one holding "/" or NUL, ".",
// "..", empty; base.db can be edited by hand).  Such a name has its "/",
// "%" and NUL bytes and a leading "." written as "%" and two hex digits.
std::string LogFileStem(const std::string& name);

// The line as written, with its CR LF.
std::string FormatOperationLogLine(std::int64_t time, const std::string& name,
                                   const std::string& message);

}  // namespace quellin
