#include "smtp_sender.h"

#include "file_descriptor.h"

#include <fcntl.h>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace quellin::mail {
namespace {

using Clock = std::chrono::steady_clock;

struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};

Error Failure(std::string detail) {
    return Error{ErrorCode::kProtocol, std::move(detail)};
}

std::string TlsError() {
    const unsigned long code = ERR_get_error();
    if (code == 0)
        return "TLS failed";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

// One connection to the server, plain or (once Secure ran) over TLS.
class Connection {
public:
    Connection(const MailServer& server, Clock::time_point deadline)
        : server_(server), deadline_(deadline) {}

    Result<void> Open() {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const std::string port = std::to_string(server_.port);
        if (const int rc = ::getaddrinfo(server_.host.c_str(), port.c_str(), &hints, &found))
            return Failure(server_.host + ": " + ::gai_strerror(rc));
        std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, ::freeaddrinfo);
        std::string why = "no address";
        for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
            UniqueFd fd(::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            if (!fd.valid())
                continue;
            if (::connect(fd.get(), a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
                why = std::strerror(errno);
                continue;
            }
            if (!Wait(fd.get(), POLLOUT)) {
                why = "no answer in time";
                continue;
            }
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length);
            if (error != 0) {
                why = std::strerror(error);
                continue;
            }
            fd_ = std::move(fd);
            return {};
        }
        return Failure(server_.host + ":" + port + ": " + why);
    }

    Result<void> Secure() {
        context_.reset(SSL_CTX_new(TLS_client_method()));
        if (!context_)
            return Failure(TlsError());
        SSL_CTX_set_min_proto_version(context_.get(), TLS1_2_VERSION);
        SSL_CTX_set_verify(context_.get(), SSL_VERIFY_PEER, nullptr);
        const int loaded =
            server_.caFile.empty()
                ? SSL_CTX_set_default_verify_paths(context_.get())
                : SSL_CTX_load_verify_locations(context_.get(), server_.caFile.c_str(), nullptr);
        if (loaded != 1)
            return Failure(server_.caFile + ": " + TlsError());
        ssl_.reset(SSL_new(context_.get()));
        if (!ssl_ || SSL_set_fd(ssl_.get(), fd_.get()) != 1)
            return Failure(TlsError());
        in6_addr address{};
        const bool literal = ::inet_pton(AF_INET, server_.host.c_str(), &address) == 1 ||
                             ::inet_pton(AF_INET6, server_.host.c_str(), &address) == 1;
        X509_VERIFY_PARAM* check = SSL_get0_param(ssl_.get());
        if (literal)
            X509_VERIFY_PARAM_set1_ip_asc(check, server_.host.c_str());
        else {
            // The server's name for its choice of certificate (SNI); the macro
            // for it casts the C way.
            SSL_ctrl(ssl_.get(), SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                     const_cast<char*>(server_.host.c_str()));
            X509_VERIFY_PARAM_set1_host(check, server_.host.c_str(), 0);
        }
        for (;;) {
            ERR_clear_error();
            const int rc = SSL_connect(ssl_.get());
            if (rc == 1)
                return {};
            const int want = SSL_get_error(ssl_.get(), rc);
            if ((want != SSL_ERROR_WANT_READ && want != SSL_ERROR_WANT_WRITE) ||
                !Wait(fd_.get(), want == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT)) {
                const long verified = SSL_get_verify_result(ssl_.get());
                ssl_.reset();
                return Failure(verified != X509_V_OK
                                   ? std::string(X509_verify_cert_error_string(verified))
                                   : TlsError());
            }
        }
    }

    Result<void> Write(std::string_view bytes) {
        while (!bytes.empty()) {
            ssize_t n;
            int want = POLLOUT;
            if (ssl_) {
                ERR_clear_error();
                n = SSL_write(ssl_.get(), bytes.data(), static_cast<int>(bytes.size()));
                if (n <= 0) {
                    const int e = SSL_get_error(ssl_.get(), static_cast<int>(n));
                    if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE)
                        return Failure(TlsError());
                    want = e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
                    n = 0;
                }
            } else {
                n = ::send(fd_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
                if (n < 0 && errno != EAGAIN && errno != EINTR)
                    return Failure(std::strerror(errno));
                n = std::max<ssize_t>(n, 0);
            }
            bytes.remove_prefix(static_cast<std::size_t>(n));
            if (!bytes.empty() && n == 0 && !Wait(fd_.get(), want))
                return Failure("the server took nothing in time");
        }
        return {};
    }

    // What arrived; empty when the server closed the connection.
    Result<std::string> Read() {
        char buffer[16384];
        for (;;) {
            int want = POLLIN;
            if (ssl_) {
                ERR_clear_error();
                const int n = SSL_read(ssl_.get(), buffer, sizeof buffer);
                if (n > 0)
                    return std::string(buffer, static_cast<std::size_t>(n));
                const int e = SSL_get_error(ssl_.get(), n);
                if (e == SSL_ERROR_ZERO_RETURN)
                    return std::string();
                if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE)
                    return Failure(TlsError());
                want = e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
            } else {
                const ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, 0);
                if (n >= 0)
                    return std::string(buffer, static_cast<std::size_t>(n));
                if (errno != EAGAIN && errno != EINTR)
                    return Failure(std::strerror(errno));
            }
            if (!Wait(fd_.get(), want))
                return Failure("the server did not answer in time");
        }
    }

private:
    bool Wait(int fd, int events) const {
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
            if (left.count() <= 0)
                return false;
            pollfd watch{fd, static_cast<short>(events), 0};
            const int rc =
                ::poll(&watch, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
            if (rc > 0)
                return true;
            if (rc < 0 && errno != EINTR)
                return false;
        }
    }

    const MailServer& server_;
    Clock::time_point deadline_;
    UniqueFd fd_;
    std::unique_ptr<SSL_CTX, SslFree> context_;
    std::unique_ptr<SSL, SslFree> ssl_;
};

std::string OutcomeText(const SmtpDialogue& dialogue) {
    std::string text = ToString(dialogue.outcome());
    if (!dialogue.lastLine().empty())
        text += ": " + dialogue.lastLine();
    return text;
}

}  // namespace

Result<void> SendMails(const MailServer& server, const std::vector<OutgoingMail>& mails,
                       std::chrono::milliseconds timeout) {
    if (mails.empty())
        return {};
    if (server.host.empty() || server.port < 1 || server.port > 65535)
        return Failure("no mail server or port");
    Connection connection(server, Clock::now() + timeout);
    if (auto opened = connection.Open(); !opened)
        return opened;
    if (server.security == SmtpSecurity::ImplicitTls)
        if (auto secured = connection.Secure(); !secured)
            return secured;
    SmtpDialogue dialogue(server.from, mails.front().recipients, mails.front().message,
                          {server.security, server.authenticate, server.user, server.password});
    for (std::size_t i = 1; i < mails.size(); ++i)
        dialogue.Add(mails[i].recipients, mails[i].message);
    // Bounded by the deadline and by the dialogue's own steps.
    while (dialogue.outcome() == SmtpOutcome::Running) {
        auto bytes = connection.Read();
        if (!bytes)
            return bytes.error();
        if (bytes->empty()) {
            dialogue.OnTransportFailed(SmtpOutcome::ConnectFailed);
            break;
        }
        SmtpStep step = dialogue.OnReceived(*bytes);
        if (!step.send.empty())
            if (auto written = connection.Write(step.send); !written)
                return written;
        if (step.startTls) {
            if (auto secured = connection.Secure(); !secured) {
                dialogue.OnTransportFailed(SmtpOutcome::TlsFailed);
                return Failure(std::string(ToString(SmtpOutcome::TlsFailed)) + ": " +
                               secured.error().detail);
            }
            step = dialogue.OnTlsReady();
            if (!step.send.empty())
                if (auto written = connection.Write(step.send); !written)
                    return written;
        }
        if (step.close)
            break;
    }
    if (dialogue.outcome() != SmtpOutcome::Sent)
        return Failure(OutcomeText(dialogue));
    return {};
}

}  // namespace quellin::mail
