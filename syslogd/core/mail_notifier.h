// Where mail notification plugs into the alert stage.  The alert stage calls
// Notify for a matching entry with mail on; the SMTP client implements it.
#pragma once

#include "syslogd_settings.h"

#include <cstdint>
#include <functional>
#include <string>

namespace quellin::syslogd {

class MailNotifier {
public:
    virtual ~MailNotifier() = default;
    // Starts mailing `text` (the popup text of the triggering message) for
    // the entry; the text is taken now, even if later messages match before
    // the mail goes out.  Never blocks the caller for the whole session.
    virtual void Notify(const SyslogdSettings& settings, const SearchEntry& entry,
                        const std::string& text) = 0;
    // Closes an open session at program exit.
    virtual void Shutdown() = 0;

    // Whether mail over TLS or with a login goes out: `failing` with the
    // reason (UTF-8 text for the window, never holding the password) when
    // a mail could not be sent, false again once one was.  Plain SMTP
    // sessions are not reported.
    using StatusListener = std::function<void(bool failing, const std::string& reason)>;
    virtual void SetStatusListener(StatusListener listener) { (void)listener; }

    // Mails not sent because too many were waiting, since start.
    virtual std::uint64_t heldBack() const { return 0; }
};

// Mail switched off in the build: notifications are dropped.
class NoMailNotifier final : public MailNotifier {
public:
    void Notify(const SyslogdSettings&, const SearchEntry&, const std::string&) override {}
    void Shutdown() override {}
};

}  // namespace quellin::syslogd
