#include "stream_receiver.h"

#include "codec.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quellin::syslogd {
namespace {

using Steady = std::chrono::steady_clock;

// Bytes read from one connection in one round, so that one fast sender
// cannot starve the others.
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr int kReadsPerRound = 4;
// Connections taken from a listener in one round.
constexpr int kAcceptsPerRound = 64;
// A length field of more digits names a frame no sender means.
constexpr int kMaxLengthDigits = 10;

SSL_CTX* Context(void* tls) {
    return static_cast<SSL_CTX*>(tls);
}

std::string OpenSslReason() {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return "connection closed";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

std::string PeerText(const sockaddr_in6& peer) {
    char text[64] = "";
    if (peer.sin6_family == AF_INET) {
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(peer).sin_addr, text,
                    sizeof text);
    } else if (IN6_IS_ADDR_V4MAPPED(&peer.sin6_addr)) {
        ::inet_ntop(AF_INET, peer.sin6_addr.s6_addr + 12, text, sizeof text);
    } else {
        ::inet_ntop(AF_INET6, &peer.sin6_addr, text, sizeof text);
    }
    return text;
}

std::uint16_t PortOf(int fd) {
    sockaddr_in6 address{};
    socklen_t length = sizeof address;
    if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin6_port);
}

}  // namespace

struct StreamReceiver::Connection {
    enum class Mode { Start, Length, Octets, Line };

    int fd = -1;
    SSL* ssl = nullptr;
    bool handshaking = false;
    bool wantWrite = false;
    std::string source;
    Steady::time_point lastActivity;
    Mode mode = Mode::Start;
    std::uint64_t remaining = 0;  // of an octet-counted frame
    int digits = 0;
    bool cut = false;
    std::string frame;

    ~Connection() {
        if (ssl != nullptr)
            SSL_free(ssl);
        if (fd >= 0)
            ::close(fd);
    }
};

StreamReceiver::StreamReceiver(DatagramSink& sink, Options options)
    : sink_(sink), options_(options) {}

StreamReceiver::~StreamReceiver() {
    Stop();
    connections_.clear();
    for (int fd : {tcpFd_, tlsFd_, stopFd_})
        if (fd >= 0)
            ::close(fd);
    if (tls_ != nullptr)
        SSL_CTX_free(Context(tls_));
}

bool StreamReceiver::ListenTcp(const std::string& address, std::uint16_t port, int& error) {
    tcpFd_ = OpenListeningSocket(address, port, SOCK_STREAM, error);
    return tcpFd_ >= 0;
}

bool StreamReceiver::ListenTls(const std::string& address, std::uint16_t port,
                               const std::string& certFile, const std::string& keyFile,
                               const std::string& caFile, std::string& reason, int& error) {
    error = 0;
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    auto fail = [&](std::string why) {
        reason = std::move(why);
        SSL_CTX_free(context);
        return false;
    };
    if (context == nullptr)
        return fail(OpenSslReason());
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    if (SSL_CTX_use_certificate_chain_file(context, certFile.c_str()) != 1)
        return fail("TlsCertFile: " + OpenSslReason());
    if (SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context) != 1)
        return fail("TlsKeyFile: " + OpenSslReason());
    if (!caFile.empty()) {
        if (SSL_CTX_load_verify_locations(context, caFile.c_str(), nullptr) != 1)
            return fail("TlsCAFile: " + OpenSslReason());
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    }
    tlsFd_ = OpenListeningSocket(address, port, SOCK_STREAM, error);
    if (tlsFd_ < 0)
        return fail(std::strerror(error));
    tls_ = context;
    return true;
}

std::uint16_t StreamReceiver::tcpPort() const {
    return PortOf(tcpFd_);
}
std::uint16_t StreamReceiver::tlsPort() const {
    return PortOf(tlsFd_);
}

StreamReceiver::Counts StreamReceiver::counts() const {
    std::lock_guard lock(countsMutex_);
    return counts_;
}

void StreamReceiver::Start() {
    if (!listening() || thread_.joinable())
        return;
    if (stopFd_ < 0)
        stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    // Room for every connection allowed besides what the program holds.
    rlimit files{};
    const rlim_t wanted = options_.maxConnections + 256;
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < wanted) {
        files.rlim_cur = std::min(wanted, files.rlim_max);
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    thread_ = std::thread([this] { Run(); });
}

void StreamReceiver::Stop() {
    if (!thread_.joinable())
        return;
    stopping_.store(true);
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(stopFd_, &one, sizeof one);
    thread_.join();
}

void StreamReceiver::HandshakeFailed(const std::string& reason) {
    std::lock_guard lock(countsMutex_);
    ++counts_.failedHandshakes;
    counts_.lastHandshakeFailure = reason;
}

void StreamReceiver::Accept(int listener, bool tls) {
    for (int i = 0; i < kAcceptsPerRound; ++i) {
        sockaddr_in6 peer{};
        socklen_t length = sizeof peer;
        int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&peer), &length,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors: the waiting connection stays queued, so
            // the listeners rest a moment rather than wake the loop at once.
            if (errno == EMFILE || errno == ENFILE)
                acceptPausedUntil_ = Steady::now() + std::chrono::milliseconds(100);
            return;
        }
        if (connections_.size() >= options_.maxConnections) {
            ::close(fd);
            std::lock_guard lock(countsMutex_);
            ++counts_.refusedConnections;
            continue;
        }
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        c->source = PeerText(peer);
        c->lastActivity = Steady::now();
        if (tls) {
            c->ssl = SSL_new(Context(tls_));
            if (c->ssl == nullptr || SSL_set_fd(c->ssl, fd) != 1) {
                HandshakeFailed(OpenSslReason());
                continue;
            }
            SSL_set_accept_state(c->ssl);
            c->handshaking = true;
        }
        connections_.push_back(std::move(c));
    }
}

bool StreamReceiver::Handshake(Connection& c) {
    ERR_clear_error();
    int result = SSL_do_handshake(c.ssl);
    if (result == 1) {
        c.handshaking = false;
        c.wantWrite = false;
        return true;
    }
    int code = SSL_get_error(c.ssl, result);
    if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE) {
        c.wantWrite = code == SSL_ERROR_WANT_WRITE;
        return true;
    }
    HandshakeFailed(c.source + ": " + OpenSslReason());
    return false;
}

void StreamReceiver::Deliver(Connection& c) {
    std::string_view frame = c.frame;
    while (!frame.empty() && (frame.back() == '\n' || frame.back() == '\r'))
        frame.remove_suffix(1);
    if (!frame.empty()) {
        sink_.Handle(frame, c.source);
        delivered_ = true;
    }
    std::lock_guard lock(countsMutex_);
    ++counts_.frames;
    if (c.cut)
        ++counts_.cutFrames;
    // A long frame's buffer is not kept for a connection that may idle.
    if (c.frame.capacity() > 4096)
        c.frame = std::string();
    c.frame.clear();
    c.cut = false;
    c.mode = Connection::Mode::Start;
}

bool StreamReceiver::Consume(Connection& c, const char* data, std::size_t size) {
    using Mode = Connection::Mode;
    const std::size_t limit = options_.maxFrameBytes;
    auto keep = [&](const char* from, std::size_t n) {
        std::size_t room = limit - std::min(limit, c.frame.size());
        c.frame.append(from, std::min(n, room));
        if (n > room)
            c.cut = true;
    };
    std::size_t i = 0;
    while (i < size) {
        switch (c.mode) {
            case Mode::Start:
                if (data[i] == '\n' || data[i] == '\r' || data[i] == '\0') {
                    ++i;  // between frames
                } else if (data[i] >= '1' && data[i] <= '9') {
                    c.mode = Mode::Length;
                    c.remaining = 0;
                    c.digits = 0;
                } else {
                    c.mode = Mode::Line;
                }
                break;
            case Mode::Length: {
                const char ch = data[i++];
                if (ch >= '0' && ch <= '9' && ++c.digits <= kMaxLengthDigits) {
                    c.remaining = c.remaining * 10 + static_cast<std::uint64_t>(ch - '0');
                } else if (ch == ' ' && c.digits > 0) {
                    c.mode = Mode::Octets;
                } else {
                    std::lock_guard lock(countsMutex_);
                    ++counts_.badFraming;
                    return false;
                }
                break;
            }
            case Mode::Octets: {
                const std::size_t take =
                    static_cast<std::size_t>(std::min<std::uint64_t>(c.remaining, size - i));
                keep(data + i, take);
                i += take;
                c.remaining -= take;
                if (c.remaining == 0)
                    Deliver(c);
                break;
            }
            case Mode::Line: {
                const void* lf = std::memchr(data + i, '\n', size - i);
                const std::size_t end =
                    lf == nullptr ? size
                                  : static_cast<std::size_t>(static_cast<const char*>(lf) - data);
                keep(data + i, end - i);
                i = end;
                if (lf != nullptr) {
                    ++i;
                    Deliver(c);
                }
                break;
            }
        }
    }
    return true;
}

bool StreamReceiver::Read(Connection& c) {
    if (c.handshaking) {
        if (!Handshake(c))
            return false;
        if (c.handshaking)
            return true;
    }
    char buffer[kReadChunk];
    for (int round = 0; round < kReadsPerRound; ++round) {
        ssize_t got;
        if (c.ssl != nullptr) {
            ERR_clear_error();
            int n = SSL_read(c.ssl, buffer, sizeof buffer);
            if (n <= 0) {
                int code = SSL_get_error(c.ssl, n);
                if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE)
                    return true;
                return false;
            }
            got = n;
        } else {
            got = ::recv(c.fd, buffer, sizeof buffer, 0);
            if (got < 0)
                return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
            if (got == 0)
                return false;
        }
        c.lastActivity = Steady::now();
        if (!Consume(c, buffer, static_cast<std::size_t>(got)))
            return false;
        if (static_cast<std::size_t>(got) < sizeof buffer &&
            (c.ssl == nullptr || SSL_pending(c.ssl) == 0))
            return true;
    }
    return true;
}

void StreamReceiver::Run() {
    std::vector<pollfd> waits;
    while (!stopping_.load()) {
        waits.clear();
        waits.push_back({stopFd_, POLLIN, 0});
        const bool accepting = Steady::now() >= acceptPausedUntil_;
        waits.push_back({accepting ? tcpFd_ : -1, POLLIN, 0});
        waits.push_back({accepting ? tlsFd_ : -1, POLLIN, 0});
        bool pending = false;
        for (const auto& c : connections_) {
            waits.push_back({c->fd, static_cast<short>(c->wantWrite ? POLLOUT : POLLIN), 0});
            pending = pending || (c->ssl != nullptr && SSL_pending(c->ssl) > 0);
        }
        if (::poll(waits.data(), waits.size(),
                   pending     ? 0
                   : accepting ? 1000
                               : 100) < 0 &&
            errno != EINTR)
            break;
        if (waits[0].revents != 0)
            break;
        const auto now = Steady::now();
        std::size_t kept = 0;
        for (std::size_t i = 0; i < connections_.size(); ++i) {
            Connection& c = *connections_[i];
            const short events = waits[i + 3].revents;
            bool open = true;
            // The handshake's time counts from the connection, however
            // slowly its bytes trickle in.
            if (c.handshaking && now - c.lastActivity > options_.handshakeTimeout) {
                HandshakeFailed(c.source + ": handshake timed out");
                open = false;
            } else if (events != 0 || (c.ssl != nullptr && SSL_pending(c.ssl) > 0)) {
                open = Read(c);
            } else if (now - c.lastActivity > options_.idleTimeout) {
                std::lock_guard lock(countsMutex_);
                ++counts_.idleClosed;
                open = false;
            }
            if (open)
                std::swap(connections_[kept++], connections_[i]);
        }
        connections_.resize(kept);
        if (waits[1].revents != 0)
            Accept(tcpFd_, false);
        if (waits[2].revents != 0)
            Accept(tlsFd_, true);
        if (delivered_) {
            sink_.EndBatch();
            delivered_ = false;
        }
    }
    connections_.clear();
    sink_.Finish();
}

std::string ReceptionNotice(const std::vector<UnopenedListener>& unopened,
                            const StreamReceiver::Counts& counts) {
    std::string text;
    auto add = [&](const std::string& part) {
        if (!text.empty())
            text += ' ';
        text += part;
    };
    for (const UnopenedListener& l : unopened)
        add(l.protocol + " " + std::to_string(l.port) + cp932::Jp(" 番ポートで受信できません: ") +
            l.reason);
    auto count = [&](std::uint64_t n, const char* what) {
        if (n != 0)
            add(cp932::Jp(what) + " " + std::to_string(n) + cp932::Jp(" 件。"));
    };
    count(counts.cutFrames, "長すぎて切り詰めたメッセージ");
    count(counts.refusedConnections, "接続数の上限で断った接続");
    count(counts.badFraming, "長さの誤りで切断した接続");
    if (counts.failedHandshakes != 0)
        add(cp932::Jp("TLS の接続確立に失敗 ") + std::to_string(counts.failedHandshakes) +
            cp932::Jp(" 件 (") + cp932::FromUtf8Lossy(counts.lastHandshakeFailure) + ")");
    return text;
}

}  // namespace quellin::syslogd
