// Syslogd's alert mail goes through the system's one SMTP dialogue
// (common/mail), whose names Syslogd uses as its own.
#pragma once

#include "smtp_protocol.h"

namespace quellin::syslogd {

using namespace quellin::mail;

}  // namespace quellin::syslogd
