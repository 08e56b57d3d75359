// The SMTP dialogue of one notification mail as a state machine without a
// socket: it is fed the bytes the server sends and answers with the bytes to
// send and whether the connection is to be closed.
//
// Plain SMTP is the original dialogue (HELO, no authentication).  With TLS
// or a login it greets with EHLO and reads the extensions the server
// offers: STARTTLS is asked for when the transport wants it (the mail fails
// when the server does not offer it, never going on in clear text), the
// greeting is repeated over TLS, and AUTH PLAIN (or LOGIN when only that
// is offered) runs only once the connection is encrypted.
//
// One session carries every mail queued for its server: after each mail
// (sent or refused) "RSET" and "MAIL FROM" start the next, so a slow server
// is greeted once for all of them.  A session of one mail is the dialogue
// above, byte for byte.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quellin::mail {

struct SmtpReply {
    int code = 0;
    std::string lastLine;            // the final line, without its line end
    std::vector<std::string> lines;  // every line of the reply, in order
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
    // Bytes are waiting that belong to no reply taken yet.
    bool HasPending() const { return buffer_.size() > consumed_ || !continued_.lines.empty(); }

private:
    std::string buffer_;
    std::size_t consumed_ = 0;
    int continuedCode_ = 0;  // code of the open multi-line reply, or 0
    SmtpReply continued_;    // its lines so far
    std::size_t continuedBytes_ = 0;
    SmtpReplyError error_ = SmtpReplyError::None;
};

// How the mail reaches the server.
enum class SmtpSecurity {
    None,         // plain SMTP
    StartTls,     // plain connection, STARTTLS after EHLO
    ImplicitTls,  // TLS from the first byte
};

struct SmtpTransport {
    SmtpSecurity security = SmtpSecurity::None;
    bool authenticate = false;
    std::string user;      // CP932 bytes as configured
    std::string password;  // never logged, never shown

    // The original dialogue: nothing asked of the server beyond HELO.
    bool plain() const { return security == SmtpSecurity::None && !authenticate; }
};

// The extensions of an EHLO reply this client cares about.
struct SmtpExtensions {
    bool startTls = false;
    bool authPlain = false;
    bool authLogin = false;
};
SmtpExtensions ParseExtensions(const SmtpReply& ehloReply);

// Why a dialogue ended.
enum class SmtpOutcome {
    Running,
    Sent,             // "221" after QUIT
    UnexpectedReply,  // a code other than the step expects
    BadReply,         // bytes that are not SMTP replies
    ConnectFailed,    // no connection, or the server closed it
    TimedOut,         // abandoned: the session did not finish in time
    Cancelled,        // closed at program exit
    TlsNotOffered,    // STARTTLS wanted, the server does not offer it
    TlsFailed,        // no TLS: refused, or the certificate did not verify
    AuthNeedsTls,     // a login was asked for without TLS
    AuthNotOffered,   // the server offers neither AUTH PLAIN nor LOGIN
    AuthFailed,       // the server refused the login
};

const char* ToString(SmtpOutcome outcome);

struct SmtpStep {
    std::string send;       // bytes to write, may be empty
    bool close = false;     // close the connection after writing
    bool startTls = false;  // after writing, start TLS and call OnTlsReady
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
        Ehlo,               // 250 with the extensions
        StartTls,           // 220 to STARTTLS
        TlsHandshake,       // the client sets up TLS; nothing may arrive
        AuthPlain,          // 235
        AuthLogin,          // 334 asking for the user name
        AuthLoginUser,      // 334 asking for the password
        AuthLoginPassword,  // 235
        Reset,              // 250 to RSET before the next mail
    };

    // `recipients` is the recipient field as entered: it is split at every
    // "," and each part is used as it is.
    SmtpDialogue(std::string clientMailAddress, std::string_view recipients, std::string message,
                 SmtpTransport transport = {});

    // Whether the session still takes mails: it has not said QUIT.
    bool open() const { return state_ != State::Quit && state_ != State::Done; }
    // Another mail for the same server, after those before it; only while
    // open().
    void Add(std::string_view recipients, std::string message);
    std::size_t mails() const { return mails_.size(); }
    // Mails the server took or refused so far.
    std::size_t finished() const { return sent_ + refused_; }

    // Bytes arrived from the server.
    SmtpStep OnReceived(std::string_view bytes);
    // The TLS handshake asked for by a step finished and verified.
    SmtpStep OnTlsReady();
    // The connection failed below the dialogue (TLS could not be set up).
    void OnTransportFailed(SmtpOutcome outcome);

    State state() const { return state_; }
    SmtpOutcome outcome() const { return outcome_; }
    // The recipients of the mail in hand.
    const std::vector<std::string>& recipients() const { return mails_[current_].recipients; }
    // The code of the reply that ended the dialogue unexpectedly.
    int lastCode() const { return lastCode_; }
    // The last line of that reply.
    const std::string& lastLine() const { return lastLine_; }
    bool encrypted() const { return encrypted_; }

private:
    std::string Act(const SmtpReply& reply);
    // The server's greeting came: HELO, or EHLO when asking for more.
    std::string Greet();
    std::string AfterGreeting(const SmtpReply& ehloReply);
    // STARTTLS and the login: a reply other than the one awaited ends the
    // session with its reason.
    std::string Secure(const SmtpReply& reply);
    // The server's 221 after QUIT.
    std::string EndSession();
    // A reply the step did not await: the mail in hand is refused when
    // more follow it in the session, else the session ends.
    std::string Unexpected(const SmtpReply& reply);
    std::string MailFrom();
    std::string NextMail();
    void Fail(SmtpOutcome outcome);

    std::string clientMailAddress_;
    SmtpTransport transport_;
    bool encrypted_ = false;
    bool startTlsNow_ = false;
    std::string lastLine_;
    struct Mail {
        std::vector<std::string> recipients;
        std::string message;
    };
    std::vector<Mail> mails_;
    std::size_t current_ = 0;
    std::size_t sent_ = 0;
    std::size_t refused_ = 0;
    SmtpReply refusal_;  // the reply that refused a mail of the session
    std::size_t recipientIndex_ = 0;
    State state_ = State::Greeting;
    SmtpOutcome outcome_ = SmtpOutcome::Running;
    int lastCode_ = 0;
    SmtpReplyReader reader_;
};

}  // namespace quellin::mail
