#include "forwarder.h"

#include "clock.h"
#include "codec.h"
#include "received_message.h"
#include "system_error_text.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <utility>

namespace quellin::syslogd {
namespace {

using Steady = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Datagrams given to one sendmmsg call.
constexpr std::size_t kSendBatch = 64;

std::string ErrorText(int error) {
    return SystemErrorText(error);
}

// A UDP socket is watched this long after its last datagram for the
// refusal the collector's machine may send back.
constexpr std::chrono::seconds kUdpErrorWatch{1};

// The message's "Mmm dd hh:mm:ss" as RFC 3339 with the local offset, in the
// year that puts it nearest before the receive time (a message of Dec 31
// received on Jan 1 is last year's).
std::string Rfc3339(std::string_view timestamp, std::int64_t now) {
    static constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const std::size_t month =
        timestamp.size() == 15 ? kMonths.find(timestamp.substr(0, 3)) : std::string_view::npos;
    std::int64_t time = now;
    const std::time_t t = static_cast<std::time_t>(now);
    std::tm local{};
    if (month != std::string_view::npos && month % 3 == 0 && ::localtime_r(&t, &local)) {
        auto number = [timestamp](std::size_t at) {
            return (timestamp[at] == ' ' ? 0 : (timestamp[at] - '0') * 10) + timestamp[at + 1] -
                   '0';
        };
        auto in = [&](int year) {
            return MakeLocalTime(year, static_cast<int>(month / 3) + 1, number(4), number(7),
                                 number(10), number(13));
        };
        time = in(local.tm_year + 1900);
        if (time > now + 86400)
            time = in(local.tm_year + 1899);
        if (time < 0)
            time = now;
    }
    std::string text = FormatLocalTime(time, "%Y-%m-%dT%H:%M:%S%z");
    if (text.size() > 2)
        text.insert(text.size() - 2, ":");  // "+0900" becomes "+09:00"
    return text;
}

// Whether the address is one of this machine's: only a local address can
// be bound.
bool IsLocalAddress(const sockaddr_storage& address, socklen_t length) {
    sockaddr_storage probe = address;
    if (probe.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in&>(probe).sin_port = 0;
    else if (probe.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6&>(probe).sin6_port = 0;
    else
        return false;
    const int fd = ::socket(probe.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool local = ::bind(fd, reinterpret_cast<const sockaddr*>(&probe), length) == 0;
    ::close(fd);
    return local;
}

std::uint16_t PortOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return 0;
}

int MillisecondsUntil(Steady::time_point when, Steady::time_point now) {
    if (when <= now)
        return 0;
    return static_cast<int>(
        std::min<std::int64_t>(std::chrono::ceil<milliseconds>(when - now).count(), 1 << 30));
}

}  // namespace

std::string ForwardTarget::Describe() const {
    return host + ":" + std::to_string(port) + (protocol == Protocol::Udp ? " (UDP)" : " (TCP)");
}

void AddForwarded(ForwardBatch& batch, ForwardFormat format, const ReceivedMessage& message) {
    std::string& out = batch.bytes;
    const std::size_t start = out.size();
    try {
        out += '<' + std::to_string(message.pri) + '>';
        if (format == ForwardFormat::Rfc5424)
            out += "1 " + Rfc3339(message.timestamp, message.receivedAt);
        else
            out.append(message.timestamp);
        out += ' ';
        out.append(message.source);
        out += format == ForwardFormat::Rfc5424 ? " - - - - " : " ";
        out.append(message.body);
        batch.sizes.push_back(static_cast<std::uint32_t>(out.size() - start));
    } catch (...) {
        out.resize(start);  // no half message in the batch
        throw;
    }
}

std::string OctetCountedFrames(const ForwardBatch& batch, std::vector<std::size_t>* frameEnds) {
    std::string frames;
    frames.reserve(batch.bytes.size() + batch.sizes.size() * 6);
    std::size_t at = 0;
    for (std::uint32_t size : batch.sizes) {
        frames += std::to_string(size);
        frames += ' ';
        frames.append(batch.bytes, at, size);
        at += size;
        if (frameEnds != nullptr)
            frameEnds->push_back(frames.size());
    }
    return frames;
}

// The sending side, on the forwarder's thread only.
class Forwarder::Connection {
public:
    Connection(Forwarder& owner) : owner_(owner), backoff_(owner.options_.firstRetry) {}
    ~Connection() { Close(); }

    void Retarget(const ForwardTarget& target) {
        Close();
        target_ = target;
        backoff_ = owner_.options_.firstRetry;
        retryAt_ = Steady::now();
        status_.target = target.host.empty() ? std::string() : target.Describe();
        status_.failing = false;
        status_.reason.clear();
        if (target.host.empty())
            DropAll();
    }

    void Take(std::deque<ForwardBatch>& batches) {
        for (ForwardBatch& batch : batches)
            work_.push_back(std::move(batch));
        batches.clear();
    }

    bool HasWork() const { return !work_.empty() || outOffset_ < out_.size(); }
    // A connection is there or on its way.
    bool Open() const { return fd_ >= 0; }

    // Connects when due, and sends what the socket takes without waiting.
    void Step(Steady::time_point now) {
        if (target_.host.empty())
            return;
        if (connected_ && !Udp())
            Confirm(now);
        if (!HasWork())
            return;
        if (fd_ < 0 && now >= retryAt_)
            Connect(now);
        if (connected_)
            Udp() ? SendUdp() : SendTcp();
    }

    // The poll entry for the socket, and how long the thread may sleep.
    pollfd PollEntry(Steady::time_point now) const {
        pollfd entry{fd_, 0, 0};
        if (fd_ < 0)
            return entry;
        if (connecting_) {
            entry.events = POLLOUT;
        } else {
            if (!Udp())
                entry.events |= POLLIN;
            if (HasWork())
                entry.events |= POLLOUT;
            else if (Udp() && now - lastUdpSend_ >= kUdpErrorWatch)
                entry.fd = -1;  // idle: nothing more to hear from it
        }
        return entry;
    }

    std::optional<Steady::time_point> WakeAt() const {
        if (connected_ && !unconfirmed_.empty())
            return checkedAt_ + owner_.options_.confirmAfter;
        if (target_.host.empty() || !HasWork())
            return std::nullopt;
        if (fd_ < 0)
            return retryAt_;
        if (connecting_)
            return connectDeadline_;
        return std::nullopt;
    }

    void OnEvents(short revents, Steady::time_point now) {
        if (fd_ < 0)
            return;
        if (connecting_) {
            if (revents != 0) {
                int error = 0;
                socklen_t length = sizeof error;
                ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
                if (error != 0) {
                    Failure(ErrorText(error), now);
                    return;
                }
                Connected();
            } else if (now >= connectDeadline_) {
                Failure(ErrorText(ETIMEDOUT), now);
            }
            return;
        }
        if (Udp()) {
            // The refusal sent back for an earlier datagram: read, so that
            // it does not wake the thread again, and told.
            if ((revents & POLLERR) != 0) {
                if (const int error = PendingError(); error != 0) {
                    status_.failing = true;
                    status_.reason = ErrorText(error);
                    lastUdpError_ = now;
                }
            }
            return;
        }
        if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            // A collector says nothing; anything readable is the end of the
            // connection or an error.
            char buffer[512];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n == 0) {
                // Closed in good order (no reset with it): the collector read
                // what it acknowledged.  A reset means it threw it away.
                const int error = PendingError();
                if (error == 0)
                    ConfirmUpTo(Acknowledged());
                Failure(error != 0 ? ErrorText(error) : cp932::Jp("転送先が接続を閉じました"), now);
            } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                Failure(ErrorText(errno), now);
            }
        }
    }

    // At exit: what waits and cannot be sent is dropped.
    void DropAll() {
        std::uint64_t count = 0;
        std::size_t bytes = 0;
        for (const ForwardBatch& batch : work_) {
            count += batch.sizes.size() - (&batch == &work_.front() ? udpIndex_ : 0);
            bytes += batch.bytes.size();
        }
        if (outOffset_ < out_.size()) {
            count += static_cast<std::uint64_t>(
                std::count_if(frameEnds_.begin(), frameEnds_.end(),
                              [this](std::size_t end) { return end > outOffset_; }));
        }
        work_.clear();
        out_.clear();
        frameEnds_.clear();
        outOffset_ = 0;
        udpIndex_ = 0;
        udpOffset_ = 0;
        owner_.pendingBytes_ -= bytes;
        owner_.dropped_ += count;
    }

    ForwardStatus& status() { return status_; }

private:
    bool Udp() const { return target_.protocol == ForwardTarget::Protocol::Udp; }

    int PendingError() const {
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
        return error;
    }

    // Bytes of this connection the collector has acknowledged.
    std::uint64_t Acknowledged() const {
        int unacknowledged = 0;
        if (::ioctl(fd_, SIOCOUTQ, &unacknowledged) != 0 || unacknowledged < 0)
            return 0;
        return streamSent_ - std::min<std::uint64_t>(streamSent_, unacknowledged);
    }

    // What the collector had acknowledged at the last look, and stayed
    // connected since, counts as forwarded.
    void Confirm(Steady::time_point now) {
        if (now - checkedAt_ < owner_.options_.confirmAfter)
            return;
        ConfirmUpTo(ackedAtCheck_);
        ackedAtCheck_ = unconfirmed_.empty() ? streamSent_ : Acknowledged();
        checkedAt_ = now;
    }

    void ConfirmUpTo(std::uint64_t acknowledged) {
        if (unconfirmed_.empty() || unconfirmed_.front() > acknowledged)
            return;
        while (!unconfirmed_.empty() && unconfirmed_.front() <= acknowledged)
            unconfirmed_.pop_front();
        // Only a collector that keeps what it is sent ends the back-off.
        backoff_ = owner_.options_.firstRetry;
        status_.failing = false;
        status_.reason.clear();
    }

    void Close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        connected_ = false;
        connecting_ = false;
        streamSent_ = 0;
        outBase_ = 0;
        nextFrame_ = 0;
        unconfirmed_.clear();
        // A frame cut by the break is sent again whole; the ones before it
        // were handed over (and counted as lost if the connection broke
        // before the collector confirmed them).
        std::size_t keep = 0;
        for (std::size_t end : frameEnds_) {
            if (end <= outOffset_)
                keep = end;
        }
        if (keep > 0) {
            out_.erase(0, keep);
            std::vector<std::size_t> ends;
            for (std::size_t end : frameEnds_) {
                if (end > keep)
                    ends.push_back(end - keep);
            }
            frameEnds_ = std::move(ends);
        }
        outOffset_ = 0;
    }

    void Failure(const std::string& reason, Steady::time_point now) {
        // Frames the collector did not confirm went down with the connection.
        owner_.dropped_ += unconfirmed_.size();
        Close();
        retryAt_ = now + backoff_;
        backoff_ = std::min(backoff_ * 2, owner_.options_.maxRetry);
        status_.failing = true;
        status_.reason = reason;
    }

    void Connected() {
        connecting_ = false;
        connected_ = true;
        checkedAt_ = Steady::now();
        ackedAtCheck_ = 0;
        // Over TCP the back-off ends once the collector confirmed a frame.
        if (Udp()) {
            backoff_ = owner_.options_.firstRetry;
            status_.failing = false;
            status_.reason.clear();
        }
    }

    void Connect(Steady::time_point now) {
        const bool udp = target_.protocol == ForwardTarget::Protocol::Udp;
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = udp ? SOCK_DGRAM : SOCK_STREAM;
        addrinfo* found = nullptr;
        const int lookup = ::getaddrinfo(target_.host.c_str(), std::to_string(target_.port).c_str(),
                                         &hints, &found);
        if (lookup != 0 || found == nullptr) {
            Failure(cp932::Jp("転送先のホスト名を解決できません"), now);
            return;
        }
        sockaddr_storage address{};
        const socklen_t length = found->ai_addrlen;
        std::memcpy(&address, found->ai_addr, found->ai_addrlen);
        ::freeaddrinfo(found);

        if (udp && PortOf(address) == owner_.options_.ownUdpPort &&
            IsLocalAddress(address, length)) {
            Failure(cp932::Jp("転送先がこの Syslogd 自身です"), now);
            return;
        }
        fd_ = ::socket(address.ss_family,
                       (udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0) {
            Failure(ErrorText(errno), now);
            return;
        }
        int size = 4 << 20;
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        if (!udp) {
            int on = 1;
            ::setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
        }
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
            Connected();
            return;
        }
        if (errno == EINPROGRESS) {
            connecting_ = true;
            connectDeadline_ = now + owner_.options_.connectTimeout;
            return;
        }
        Failure(ErrorText(errno), now);
    }

    void SendTcp() {
        for (;;) {
            if (outOffset_ == out_.size()) {
                out_.clear();
                frameEnds_.clear();
                outOffset_ = 0;
                nextFrame_ = 0;
                outBase_ = streamSent_;
                if (work_.empty())
                    return;
                ForwardBatch batch = std::move(work_.front());
                work_.pop_front();
                out_ = OctetCountedFrames(batch, &frameEnds_);
                owner_.pendingBytes_ -= batch.bytes.size();
            }
            const ssize_t n = ::send(fd_, out_.data() + outOffset_, out_.size() - outOffset_,
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                outOffset_ += static_cast<std::size_t>(n);
                streamSent_ += static_cast<std::uint64_t>(n);
                for (; nextFrame_ < frameEnds_.size() && frameEnds_[nextFrame_] <= outOffset_;
                     ++nextFrame_)
                    unconfirmed_.push_back(outBase_ + frameEnds_[nextFrame_]);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            Failure(ErrorText(n < 0 ? errno : EPIPE), Steady::now());
            return;
        }
    }

    void SendUdp() {
        std::array<mmsghdr, kSendBatch> messages{};
        std::array<iovec, kSendBatch> vectors{};
        while (!work_.empty()) {
            ForwardBatch& batch = work_.front();
            std::size_t count = 0;
            std::size_t offset = udpOffset_;
            for (std::size_t i = udpIndex_; i < batch.sizes.size() && count < kSendBatch; ++i) {
                vectors[count].iov_base = batch.bytes.data() + offset;
                vectors[count].iov_len = batch.sizes[i];
                messages[count] = mmsghdr{};
                messages[count].msg_hdr.msg_iov = &vectors[count];
                messages[count].msg_hdr.msg_iovlen = 1;
                offset += batch.sizes[i];
                ++count;
            }
            int sent = ::sendmmsg(fd_, messages.data(), static_cast<unsigned>(count), MSG_DONTWAIT);
            lastUdpSend_ = Steady::now();
            if (sent < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK)
                    return;
                // Mostly a refusal the collector's machine sent back for an
                // earlier datagram; this one was not sent.  It is tried once
                // more, then given up.
                status_.failing = true;
                status_.reason = ErrorText(errno);
                lastUdpError_ = Steady::now();
                if (++udpRetries_ < 2)
                    continue;
                sent = 1;
                ++owner_.dropped_;
            } else if (status_.failing && Steady::now() - lastUdpError_ > std::chrono::seconds(1)) {
                status_.failing = false;
                status_.reason.clear();
            }
            udpRetries_ = 0;
            for (int i = 0; i < sent; ++i)
                udpOffset_ += batch.sizes[udpIndex_++];
            if (udpIndex_ == batch.sizes.size()) {
                owner_.pendingBytes_ -= batch.bytes.size();
                work_.pop_front();
                udpIndex_ = 0;
                udpOffset_ = 0;
            }
        }
    }

    Forwarder& owner_;
    ForwardTarget target_;
    int fd_ = -1;
    bool connecting_ = false;
    bool connected_ = false;
    milliseconds backoff_;
    Steady::time_point retryAt_{};
    Steady::time_point connectDeadline_{};
    std::deque<ForwardBatch> work_;
    // TCP: the frames of the batch being sent.
    std::string out_;
    std::vector<std::size_t> frameEnds_;
    std::size_t outOffset_ = 0;
    // TCP: bytes handed to the system on this connection, where out_
    // begins in them, the next frame of out_ not yet handed over, and where
    // each frame handed over but not yet confirmed ends.
    std::uint64_t streamSent_ = 0;
    std::uint64_t outBase_ = 0;
    std::size_t nextFrame_ = 0;
    std::deque<std::uint64_t> unconfirmed_;
    Steady::time_point checkedAt_{};
    std::uint64_t ackedAtCheck_ = 0;
    // UDP: the next datagram of the first batch.
    std::size_t udpIndex_ = 0;
    std::size_t udpOffset_ = 0;
    int udpRetries_ = 0;
    Steady::time_point lastUdpError_{};
    Steady::time_point lastUdpSend_{};
    ForwardStatus status_;
};

Forwarder::Forwarder(std::function<void(const ForwardStatus&)> onStatus, Options options)
    : options_(options), onStatus_(std::move(onStatus)) {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { Run(); });
}

Forwarder::~Forwarder() {
    Stop();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void Forwarder::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void Forwarder::SetTarget(const ForwardTarget& target) {
    {
        std::lock_guard lock(mutex_);
        if (target == target_)
            return;
        target_ = target;
        targetChanged_ = true;
        if (target.host.empty()) {
            for (const ForwardBatch& batch : queue_) {
                dropped_ += batch.sizes.size();
                pendingBytes_ -= batch.bytes.size();
            }
            queue_.clear();
        }
    }
    Wake();
}

void Forwarder::Push(ForwardBatch&& batch) {
    if (batch.empty())
        return;
    const std::size_t pending = pendingBytes_.load(std::memory_order_relaxed);
    if (pending + batch.bytes.size() > options_.queueBytes) {
        // What fits goes; the rest of the batch is not forwarded.
        const std::size_t room = options_.queueBytes > pending ? options_.queueBytes - pending : 0;
        std::size_t keepBytes = 0;
        std::size_t keep = 0;
        while (keep < batch.sizes.size() && keepBytes + batch.sizes[keep] <= room)
            keepBytes += batch.sizes[keep++];
        dropped_ += batch.sizes.size() - keep;
        if (keep == 0)
            return;
        batch.bytes.resize(keepBytes);
        batch.sizes.resize(keep);
    }
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        if (target_.host.empty()) {
            dropped_ += batch.sizes.size();
            return;
        }
        pendingBytes_ += batch.bytes.size();
        queue_.push_back(std::move(batch));
        wake = std::exchange(threadWaiting_, false);
    }
    if (wake)
        Wake();
}

void Forwarder::Stop() {
    if (!thread_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    Wake();
    thread_.join();
}

// What the thread keeps from one turn to the next.
struct Forwarder::RunState {
    ForwardStatus reported;
    Steady::time_point lastReport{};
    std::optional<Steady::time_point> stopBy;
};

void Forwarder::Run() {
    Connection connection(*this);
    RunState state;
    std::deque<ForwardBatch> taken;

    for (;;) {
        bool changed = false;
        bool stopping = false;
        ForwardTarget target;
        {
            std::lock_guard lock(mutex_);
            taken.swap(queue_);
            changed = std::exchange(targetChanged_, false);
            target = target_;
            stopping = stopping_;
        }
        if (changed)
            connection.Retarget(target);
        connection.Take(taken);
        auto now = Steady::now();
        if (stopping && !state.stopBy)
            state.stopBy = now + options_.drainAtStop;
        connection.Step(now);
        Report(connection, state, now);

        // At exit, what waits goes out only over a connection there is:
        // a collector that is down does not hold up the end.
        if (stopping && (!connection.HasWork() || !connection.Open() || now >= *state.stopBy))
            break;
        Wait(connection, state, stopping, now);
    }
    connection.DropAll();
    ForwardStatus& status = connection.status();
    status.dropped = dropped_.load();
    if (status != state.reported && onStatus_)
        onStatus_(status);
}

void Forwarder::Report(Connection& connection, RunState& state, Steady::time_point now) {
    // Told at once when forwarding starts failing; other changes (the
    // dropped count, recovering) at most once an interval.
    ForwardStatus& status = connection.status();
    status.dropped = dropped_.load();
    if (status != state.reported && onStatus_ &&
        ((status.failing && !state.reported.failing) ||
         now - state.lastReport >= options_.statusInterval)) {
        onStatus_(status);
        state.reported = status;
        state.lastReport = now;
    }
}

void Forwarder::Wait(Connection& connection, const RunState& state, bool stopping,
                     Steady::time_point now) {
    std::optional<Steady::time_point> wakeAt = connection.WakeAt();
    auto earliest = [&wakeAt](Steady::time_point at) {
        if (!wakeAt || at < *wakeAt)
            wakeAt = at;
    };
    // Datagrams the reception thread drops wake nobody: while there is a
    // backlog, the count is looked at once an interval.
    if (connection.status() != state.reported)
        earliest(std::max(state.lastReport + options_.statusInterval, now + milliseconds(1)));
    else if (connection.HasWork())
        earliest(now + options_.statusInterval);
    if (state.stopBy)
        earliest(*state.stopBy);

    std::array<pollfd, 2> waits{{{wakeFd_, POLLIN, 0}, connection.PollEntry(now)}};
    {
        std::lock_guard lock(mutex_);
        if (!queue_.empty() || targetChanged_ || stopping_ != stopping)
            return;
        // Busy with what it has (waiting to connect or for room in the
        // socket), the thread needs no word of more datagrams.
        threadWaiting_ = !connection.HasWork();
    }
    const int timeout = wakeAt ? MillisecondsUntil(*wakeAt, Steady::now()) : -1;
    const nfds_t count = waits[1].fd >= 0 ? 2 : 1;
    ::poll(waits.data(), count, timeout);
    {
        std::lock_guard lock(mutex_);
        threadWaiting_ = false;
    }
    if (waits[0].revents != 0) {
        std::uint64_t value = 0;
        [[maybe_unused]] ssize_t n = ::read(wakeFd_, &value, sizeof value);
    }
    connection.OnEvents(count == 2 ? waits[1].revents : 0, Steady::now());
}

}  // namespace quellin::syslogd
