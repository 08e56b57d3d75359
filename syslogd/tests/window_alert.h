// One datagram through the receive pipeline and a main window whose alert
// mail goes through the given client, as Syslogd carries an alert out.
#pragma once

#include "main_window.h"
#include "smtp_client.h"
#include "syslogd_settings.h"

#include <optional>
#include <string>

namespace quellin::syslogd::testing {

struct WindowAlert {
    std::optional<SmtpOutcome> outcome;  // the first mail session's; none in time
    std::string notice;                  // the window's notice once it ended
};

WindowAlert AlertThroughWindow(const SyslogdSettings& settings, SmtpClient& client,
                               const std::string& datagram, int timeoutMs);

}  // namespace quellin::syslogd::testing
