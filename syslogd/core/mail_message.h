// Syslogd's alert mail, composed and encoded by the system's one mail path
// (common/mail), whose names Syslogd uses as its own.
#pragma once

#include "mail_composer.h"
#include "syslogd_settings.h"

#include <string>
#include <string_view>

namespace quellin::syslogd {

using namespace quellin::mail;

// The whole message (header, blank line, body) for the entry and the text
// of the triggering message.
std::string ComposeMail(const std::string& clientMailAddress, const SearchEntry& entry,
                        std::string_view mailText);

}  // namespace quellin::syslogd
