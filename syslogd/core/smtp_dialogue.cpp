#include "smtp_dialogue.h"

#include "mail_message.h"

namespace quellin::syslogd {
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
        if (line.size() > 3 && line[3] == '-') {
            continuedCode_ = code;
            continue;
        }
        continuedCode_ = 0;
        return SmtpReply{code, std::string(line)};
    }
    return std::nullopt;
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
    }
    return "?";
}

std::string RecipientsOnOneLine(std::string_view recipients) {
    std::string joined;
    std::size_t start = 0;
    while (start <= recipients.size()) {
        std::size_t end = recipients.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = recipients.size();
        if (end > start) {
            if (!joined.empty())
                joined += ',';
            joined.append(recipients.substr(start, end - start));
        }
        start = end + 1;
    }
    return joined;
}

std::vector<std::string> SplitRecipients(std::string_view toStr) {
    const std::string oneLine = RecipientsOnOneLine(toStr);
    const std::string_view recipients = oneLine;
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t comma = recipients.find(',', start);
        if (comma == std::string_view::npos) {
            parts.emplace_back(recipients.substr(start));
            return parts;
        }
        parts.emplace_back(recipients.substr(start, comma - start));
        start = comma + 1;
    }
}

SmtpDialogue::SmtpDialogue(std::string clientMailAddress, std::string_view recipients,
                           std::string message)
    : clientMailAddress_(std::move(clientMailAddress)),
      recipients_(SplitRecipients(recipients)),
      message_(std::move(message)) {}

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
    reader_.Feed(bytes);
    while (state_ != State::Done) {
        std::optional<SmtpReply> reply = reader_.Next();
        if (!reply) {
            if (reader_.error() != SmtpReplyError::None)
                Fail(SmtpOutcome::BadReply);
            break;
        }
        step.send += Act(*reply);
    }
    step.close = state_ == State::Done;
    return step;
}

std::string SmtpDialogue::Act(const SmtpReply& reply) {
    lastCode_ = reply.code;
    // A recipient the server will forward (251) is as good as a local one.
    bool recipientAccepted =
        reply.code == 250 || (reply.code == 251 && recipientIndex_ > 0 &&
                              (state_ == State::Recipients || state_ == State::LastRecipient));
    switch (state_) {
        case State::Greeting:
            if (reply.code != 220)
                break;
            state_ = State::Helo;
            return "HELO localhost\r\n";
        case State::Helo:
            if (reply.code != 250)
                break;
            state_ = State::Recipients;
            return "MAIL FROM:<" + clientMailAddress_ + ">\r\n";
        case State::Recipients: {
            if (!recipientAccepted || recipientIndex_ >= recipients_.size())
                break;
            std::string command = "RCPT TO:<" + recipients_[recipientIndex_] + ">\r\n";
            if (++recipientIndex_ == recipients_.size())
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
            return DataSection(message_);
        case State::Message:
            if (reply.code != 250)
                break;
            state_ = State::Quit;
            return "QUIT\r\n";
        case State::Quit:
            if (reply.code != 221)
                break;
            outcome_ = SmtpOutcome::Sent;
            state_ = State::Done;
            return {};
        case State::Done:
            return {};
    }
    Fail(SmtpOutcome::UnexpectedReply);
    return {};
}

}  // namespace quellin::syslogd
