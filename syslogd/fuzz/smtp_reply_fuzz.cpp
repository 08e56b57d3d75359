// Server replies fed to the mail dialogue in arbitrary pieces: the first
// byte chooses where the input is cut and the transport (plain, STARTTLS
// with a login, TLS from the start with a login).  Whatever the server
// says, a password goes out only after TLS, and nothing is sent once the
// dialogue is over.
#include "smtp_dialogue.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using namespace quellin::syslogd;

SmtpTransport TransportOf(std::uint8_t choice) {
    switch (choice % 3) {
        case 1:
            return SmtpTransport{SmtpSecurity::StartTls, true, "user", "pw-secret"};
        case 2:
            return SmtpTransport{SmtpSecurity::ImplicitTls, true, "user", "pw-secret"};
        default:
            return SmtpTransport{};
    }
}

// The password in the clear, or its Base64 forms with and without the user.
bool CarriesPassword(std::string_view sent) {
    return sent.find("pw-secret") != std::string_view::npos ||
           sent.find("cHctc2VjcmV0") != std::string_view::npos ||        // LOGIN
           sent.find("AHVzZXIAcHctc2VjcmV0") != std::string_view::npos;  // PLAIN
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::size_t piece = 1 + data[0] % 16;
    const SmtpTransport transport = TransportOf(data[0] / 16);
    std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    SmtpDialogue dialogue("me@example.com", "a@example.com,b@example.com",
                          "Subject: s\r\n\r\n.body\r\n", transport);
    dialogue.Add("c@example.com", "Subject: t\r\n\r\nnext\r\n");  // RSET, MAIL FROM again
    SmtpReplyReader reader;
    bool over = false;
    for (std::size_t at = 0; at < input.size(); at += piece) {
        std::string_view part = input.substr(at, piece);
        SmtpStep step = dialogue.OnReceived(part);
        if (over && !step.send.empty())
            std::abort();
        if (CarriesPassword(step.send) && !dialogue.encrypted())
            std::abort();
        if (step.startTls) {
            step = dialogue.OnTlsReady();
            if (!dialogue.encrypted())
                std::abort();
        }
        over = over || step.close;
        reader.Feed(part);
        while (auto reply = reader.Next())
            ParseExtensions(*reply);
    }
    return 0;
}
