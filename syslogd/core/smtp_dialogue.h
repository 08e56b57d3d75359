// The SMTP dialogue of one notification mail as a state machine without a
// socket: it is fed the bytes the server sends and answers with the bytes to
// send and whether the connection is to be closed.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quellin::syslogd {

struct SmtpReply {
    int code = 0;
    std::string lastLine;  // the final line, without its line end
};

enum class SmtpReplyError { None, Malformed, TooLong };

// Splits the server's bytes into replies.  Lines end with CR LF (a bare LF
// is taken as well); "ddd-" lines continue a reply and the line "ddd" or
// "ddd text" ends it, so a multi-line reply is one reply with the code of
// its last line.
class SmtpReplyReader {
public:
    // Longest buffered text without a complete reply; a server sending more
    // is not speaking SMTP.
    static constexpr std::size_t kMaxPending = 64 * 1024;

    void Feed(std::string_view bytes);
    // The next complete reply, if the buffer holds one.  After an error
    // every call returns nullopt and error() tells why.
    std::optional<SmtpReply> Next();
    SmtpReplyError error() const { return error_; }

private:
    std::string buffer_;
    std::size_t consumed_ = 0;
    int continuedCode_ = 0;  // code of the open multi-line reply, or 0
    SmtpReplyError error_ = SmtpReplyError::None;
};

// Why a dialogue ended.
enum class SmtpOutcome {
    Running,
    Sent,             // "221" after QUIT
    UnexpectedReply,  // a code other than the step expects
    BadReply,         // bytes that are not SMTP replies
    ConnectFailed,    // no connection, or the server closed it
    TimedOut,         // abandoned: the session did not finish in time
    Cancelled,        // closed at program exit
};

const char* ToString(SmtpOutcome outcome);

struct SmtpStep {
    std::string send;    // bytes to write, may be empty
    bool close = false;  // close the connection after writing
};

class SmtpDialogue {
public:
    // The reply awaited, numbered as the session's steps.
    enum class State {
        Greeting = 1,   // 220 on connecting
        Helo,           // 250
        Recipients,     // 250 to MAIL FROM and to each RCPT TO but the last
        LastRecipient,  // 250 to the last RCPT TO
        Data,           // 354
        Message,        // 250 after the message
        Quit,           // 221
        Done,
    };

    // `recipients` is the recipient field as entered: it is split at every
    // "," and each part is used as it is.
    SmtpDialogue(std::string clientMailAddress, std::string_view recipients, std::string message);

    // Bytes arrived from the server.
    SmtpStep OnReceived(std::string_view bytes);

    State state() const { return state_; }
    SmtpOutcome outcome() const { return outcome_; }
    const std::vector<std::string>& recipients() const { return recipients_; }
    // The code of the reply that ended the dialogue unexpectedly.
    int lastCode() const { return lastCode_; }

private:
    std::string Act(const SmtpReply& reply);
    void Fail(SmtpOutcome outcome);

    std::string clientMailAddress_;
    std::vector<std::string> recipients_;
    std::string message_;
    std::size_t recipientIndex_ = 0;
    State state_ = State::Greeting;
    SmtpOutcome outcome_ = SmtpOutcome::Running;
    int lastCode_ = 0;
    SmtpReplyReader reader_;
};

// The recipients of a ToStr: split at every ",", parts taken as they are.
// A line break (the recipient box takes several lines) separates recipients
// as a "," does, and empty lines are skipped: no command or header ever
// carries a line break of the operator's.
std::vector<std::string> SplitRecipients(std::string_view recipients);
// The ToStr on one line: its non-empty lines joined with ",".
std::string RecipientsOnOneLine(std::string_view recipients);

}  // namespace quellin::syslogd
