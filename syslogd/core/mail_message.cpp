#include "mail_message.h"

namespace quellin::syslogd {

std::string ComposeMail(const std::string& clientMailAddress, const SearchEntry& entry,
                        std::string_view mailText) {
    std::string body(mailText);
    body += "\r\n\r\n";
    body += entry.dataStr;
    if (!body.ends_with("\r\n"))
        body += "\r\n";
    return ComposeMessage(
        {entry.subjectStr, entry.fromStr, clientMailAddress, RecipientsOnOneLine(entry.toStr)},
        body);
}

}  // namespace quellin::syslogd
