#include "smtp_protocol.h"

#include "mail_composer.h"

#include <utility>

namespace quellin::mail {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

void SmtpReplyReader::Feed(std::string_view bytes) {
    if (error_ != SmtpReplyError::None)
        return;
    // Drop what earlier calls consumed before the buffer grows.
    if (consumed_ > 0) {
        buffer_.erase(0, consumed_);
        consumed_ = 0;
    }
    if (buffer_.size() + bytes.size() > kMaxPending) {
        error_ = SmtpReplyError::TooLong;
        buffer_.clear();
        return;
    }
    buffer_.append(bytes);
}

std::optional<SmtpReply> SmtpReplyReader::Next() {
    while (error_ == SmtpReplyError::None) {
        std::size_t end = buffer_.find('\n', consumed_);
        if (end == std::string::npos)
            return std::nullopt;
        std::string_view line(buffer_.data() + consumed_, end - consumed_);
        consumed_ = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2]) ||
            (line.size() > 3 && line[3] != ' ' && line[3] != '-')) {
            error_ = SmtpReplyError::Malformed;
            return std::nullopt;
        }
        int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
        if (continuedCode_ != 0 && code != continuedCode_) {
            error_ = SmtpReplyError::Malformed;
            return std::nullopt;
        }
        // The lines of one reply are kept until its last line: a reply
        // that never ends is bounded like a line that never ends.
        continuedBytes_ += line.size();
        if (continuedBytes_ > kMaxPending) {
            error_ = SmtpReplyError::TooLong;
            continued_ = SmtpReply{};
            return std::nullopt;
        }
        continued_.lines.emplace_back(line);
        if (line.size() > 3 && line[3] == '-') {
            continuedCode_ = code;
            continue;
        }
        continuedCode_ = 0;
        continuedBytes_ = 0;
        SmtpReply reply = std::exchange(continued_, SmtpReply{});
        reply.code = code;
        reply.lastLine = std::string(line);
        return reply;
    }
    return std::nullopt;
}

namespace {

char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The words of a line after its code, in upper case.
std::vector<std::string> Words(std::string_view text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (c == ' ' || c == '=' || c == '\t') {
            if (!word.empty())
                words.push_back(std::move(word));
            word.clear();
        } else {
            word += UpperAscii(c);
        }
    }
    if (!word.empty())
        words.push_back(std::move(word));
    return words;
}

}  // namespace

SmtpExtensions ParseExtensions(const SmtpReply& ehloReply) {
    SmtpExtensions extensions;
    // The first line greets; each further line names one extension.
    for (std::size_t i = 1; i < ehloReply.lines.size(); ++i) {
        const std::string& line = ehloReply.lines[i];
        std::vector<std::string> words = Words(line.size() > 4 ? line.substr(4) : std::string());
        if (words.empty())
            continue;
        if (words[0] == "STARTTLS")
            extensions.startTls = true;
        if (words[0] == "AUTH") {
            for (std::size_t w = 1; w < words.size(); ++w) {
                extensions.authPlain = extensions.authPlain || words[w] == "PLAIN";
                extensions.authLogin = extensions.authLogin || words[w] == "LOGIN";
            }
        }
    }
    return extensions;
}

const char* ToString(SmtpOutcome outcome) {
    switch (outcome) {
        case SmtpOutcome::Running:
            return "running";
        case SmtpOutcome::Sent:
            return "sent";
        case SmtpOutcome::UnexpectedReply:
            return "unexpected reply";
        case SmtpOutcome::BadReply:
            return "not an SMTP reply";
        case SmtpOutcome::ConnectFailed:
            return "connection failed";
        case SmtpOutcome::TimedOut:
            return "timed out";
        case SmtpOutcome::Cancelled:
            return "cancelled";
        case SmtpOutcome::TlsNotOffered:
            return "STARTTLS not offered";
        case SmtpOutcome::TlsFailed:
            return "TLS failed";
        case SmtpOutcome::AuthNeedsTls:
            return "login without TLS refused";
        case SmtpOutcome::AuthNotOffered:
            return "no AUTH PLAIN or LOGIN offered";
        case SmtpOutcome::AuthFailed:
            return "login refused";
    }
    return "?";
}

SmtpDialogue::SmtpDialogue(std::string clientMailAddress, std::string_view recipients,
                           std::string message, SmtpTransport transport)
    : clientMailAddress_(std::move(clientMailAddress)),
      transport_(std::move(transport)),
      encrypted_(transport_.security == SmtpSecurity::ImplicitTls),
      mails_{{SplitRecipients(recipients), std::move(message)}} {}

void SmtpDialogue::Add(std::string_view recipients, std::string message) {
    if (open())
        mails_.push_back({SplitRecipients(recipients), std::move(message)});
}

std::string SmtpDialogue::NextMail() {
    mails_[current_].message.clear();
    if (current_ + 1 == mails_.size()) {
        state_ = State::Quit;
        return "QUIT\r\n";
    }
    ++current_;
    recipientIndex_ = 0;
    state_ = State::Reset;
    return "RSET\r\n";
}

void SmtpDialogue::Fail(SmtpOutcome outcome) {
    outcome_ = outcome;
    state_ = State::Done;
}

SmtpStep SmtpDialogue::OnReceived(std::string_view bytes) {
    SmtpStep step;
    if (state_ == State::Done) {
        step.close = true;
        return step;
    }
    if (state_ == State::TlsHandshake) {
        // Clear text after the server agreed to STARTTLS: someone between
        // us and the server is talking.
        Fail(SmtpOutcome::TlsFailed);
        step.close = true;
        return step;
    }
    reader_.Feed(bytes);
    while (state_ != State::Done) {
        std::optional<SmtpReply> reply = reader_.Next();
        if (!reply) {
            if (reader_.error() != SmtpReplyError::None)
                Fail(SmtpOutcome::BadReply);
            break;
        }
        step.send += Act(*reply);
        if (startTlsNow_) {
            startTlsNow_ = false;
            // Whatever came with the server's 220 came in clear text and
            // would be taken as said over TLS.
            if (reader_.HasPending()) {
                Fail(SmtpOutcome::TlsFailed);
                step.send.clear();
                break;
            }
            step.startTls = true;
            break;
        }
    }
    step.close = state_ == State::Done;
    return step;
}

SmtpStep SmtpDialogue::OnTlsReady() {
    SmtpStep step;
    if (state_ != State::TlsHandshake) {
        step.close = true;
        return step;
    }
    encrypted_ = true;
    // What the server said before TLS counts for nothing: greet again.
    state_ = State::Ehlo;
    step.send = "EHLO localhost\r\n";
    return step;
}

void SmtpDialogue::OnTransportFailed(SmtpOutcome outcome) {
    if (state_ != State::Done)
        Fail(outcome);
}

std::string SmtpDialogue::MailFrom() {
    state_ = State::Recipients;
    return "MAIL FROM:<" + clientMailAddress_ + ">\r\n";
}

std::string SmtpDialogue::AfterGreeting(const SmtpReply& ehloReply) {
    const SmtpExtensions offered = ParseExtensions(ehloReply);
    if (transport_.security == SmtpSecurity::StartTls && !encrypted_) {
        if (!offered.startTls) {
            Fail(SmtpOutcome::TlsNotOffered);
            return {};
        }
        state_ = State::StartTls;
        return "STARTTLS\r\n";
    }
    if (!transport_.authenticate)
        return MailFrom();
    if (!encrypted_) {
        Fail(SmtpOutcome::AuthNeedsTls);
        return {};
    }
    if (offered.authPlain) {
        std::string credentials;
        credentials += '\0';
        credentials += transport_.user;
        credentials += '\0';
        credentials += transport_.password;
        state_ = State::AuthPlain;
        return "AUTH PLAIN " + Base64Encode(credentials) + "\r\n";
    }
    if (offered.authLogin) {
        state_ = State::AuthLogin;
        return "AUTH LOGIN\r\n";
    }
    Fail(SmtpOutcome::AuthNotOffered);
    return {};
}

std::string SmtpDialogue::Greet() {
    if (transport_.plain()) {
        state_ = State::Helo;
        return "HELO localhost\r\n";
    }
    if (transport_.authenticate && transport_.security == SmtpSecurity::None) {
        // A password never goes out in clear text.
        Fail(SmtpOutcome::AuthNeedsTls);
        return {};
    }
    state_ = State::Ehlo;
    return "EHLO localhost\r\n";
}

std::string SmtpDialogue::Secure(const SmtpReply& reply) {
    // STARTTLS goes ahead with 220, each question of AUTH LOGIN is 334,
    // and a login is accepted with 235.
    const bool tls = state_ == State::StartTls;
    const bool question = state_ == State::AuthLogin || state_ == State::AuthLoginUser;
    if (reply.code != (tls ? 220 : question ? 334 : 235)) {
        Fail(tls ? SmtpOutcome::TlsFailed : SmtpOutcome::AuthFailed);
        return {};
    }
    switch (state_) {
        case State::StartTls:
            state_ = State::TlsHandshake;
            startTlsNow_ = true;
            return {};
        case State::AuthLogin:
            state_ = State::AuthLoginUser;
            return Base64Encode(transport_.user) + "\r\n";
        case State::AuthLoginUser:
            state_ = State::AuthLoginPassword;
            return Base64Encode(transport_.password) + "\r\n";
        default:
            return MailFrom();
    }
}

std::string SmtpDialogue::EndSession() {
    outcome_ = refused_ == 0 ? SmtpOutcome::Sent : SmtpOutcome::UnexpectedReply;
    if (refused_ != 0) {
        // The session says why a mail of it did not go.
        lastCode_ = refusal_.code;
        lastLine_ = refusal_.lastLine;
    }
    state_ = State::Done;
    return {};
}

std::string SmtpDialogue::Unexpected(const SmtpReply& reply) {
    const bool inMail = state_ == State::Recipients || state_ == State::LastRecipient ||
                        state_ == State::Data || state_ == State::Message;
    if (inMail && current_ + 1 < mails_.size()) {
        // The server refused this mail; the next ones may still go.
        ++refused_;
        refusal_ = reply;
        return NextMail();
    }
    Fail(SmtpOutcome::UnexpectedReply);
    return {};
}

std::string SmtpDialogue::Act(const SmtpReply& reply) {
    lastCode_ = reply.code;
    lastLine_ = reply.lastLine;
    // A recipient the server will forward (251) is as good as a local one.
    bool recipientAccepted =
        reply.code == 250 || (reply.code == 251 && recipientIndex_ > 0 &&
                              (state_ == State::Recipients || state_ == State::LastRecipient));
    switch (state_) {
        case State::Greeting:
            if (reply.code != 220)
                break;
            return Greet();
        case State::Ehlo:
            if (reply.code != 250)
                break;
            return AfterGreeting(reply);
        case State::StartTls:
        case State::AuthLogin:
        case State::AuthLoginUser:
        case State::AuthPlain:
        case State::AuthLoginPassword:
            return Secure(reply);
        case State::TlsHandshake:
            break;
        case State::Helo:
            if (reply.code != 250)
                break;
            return MailFrom();
        case State::Recipients: {
            const std::vector<std::string>& recipients = mails_[current_].recipients;
            if (!recipientAccepted || recipientIndex_ >= recipients.size())
                break;
            std::string command = "RCPT TO:<" + recipients[recipientIndex_] + ">\r\n";
            if (++recipientIndex_ == recipients.size())
                state_ = State::LastRecipient;
            return command;
        }
        case State::LastRecipient:
            if (!recipientAccepted)
                break;
            state_ = State::Data;
            return "DATA\r\n";
        case State::Data:
            if (reply.code != 354)
                break;
            state_ = State::Message;
            return DataSection(mails_[current_].message);
        case State::Message:
            if (reply.code != 250)
                break;
            ++sent_;
            return NextMail();
        case State::Reset:
            if (reply.code != 250)
                break;
            return MailFrom();
        case State::Quit:
            if (reply.code != 221)
                break;
            return EndSession();
        case State::Done:
            return {};
    }
    return Unexpected(reply);
}

}  // namespace quellin::mail
