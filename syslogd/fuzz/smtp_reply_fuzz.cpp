// Server replies fed to the mail dialogue in arbitrary pieces: the first
// byte chooses where the input is cut.
#include "smtp_dialogue.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::size_t piece = 1 + data[0] % 16;
    std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    quellin::syslogd::SmtpDialogue dialogue("me@example.com", "a@example.com,b@example.com",
                                            "Subject: s\r\n\r\n.body\r\n");
    quellin::syslogd::SmtpReplyReader reader;
    for (std::size_t at = 0; at < input.size(); at += piece) {
        std::string_view part = input.substr(at, piece);
        dialogue.OnReceived(part);
        reader.Feed(part);
        while (reader.Next()) {
        }
    }
    return 0;
}
