// Sending mail without a window: the SMTP dialogue (smtp_protocol.h) over a
// blocking socket of its own, TLS through OpenSSL (peer verification always
// on: the CA file's authorities or the system's, the server's name checked).
// OpenSSL rather than libcurl's SMTP, because curl speaks its own dialogue
// (EHLO first, its own MAIL FROM options) and the plain session must stay the
// original HELO dialogue byte for byte.
#pragma once

#include "result.h"
#include "smtp_protocol.h"

#include <chrono>
#include <string>
#include <vector>

namespace quellin::mail {

// One mail server as the operator configured it (CP932 texts).
struct MailServer {
    std::string host;
    int port = 25;
    SmtpSecurity security = SmtpSecurity::None;
    bool authenticate = false;
    std::string user;
    std::string password;  // never logged, never in a failure
    std::string caFile;    // PEM; empty: the system's authorities
    std::string from;      // envelope sender and From address
};

struct OutgoingMail {
    std::string recipients;  // as a ToStr: split at "," (smtp_protocol.h)
    std::string message;     // the composed message (mail_composer.h)
};

// Sends the mails in one session, giving up when `timeout` has passed.
// Failed with the reason (the outcome, the server's last line, the system's
// or TLS's error) when any mail was not taken.
Result<void> SendMails(const MailServer& server, const std::vector<OutgoingMail>& mails,
                       std::chrono::milliseconds timeout);

}  // namespace quellin::mail
