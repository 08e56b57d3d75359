// The system's reasons for a failure as the window says them: in Japanese,
// like the rest of the window, whatever language the C library speaks.
#pragma once

#include <string>

namespace quellin::syslogd {

// CP932 text for an errno value; one the window has no words for is named
// by its number.
std::string SystemErrorText(int error);

}  // namespace quellin::syslogd
