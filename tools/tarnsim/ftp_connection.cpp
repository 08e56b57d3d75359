#include "ftp_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <vector>

namespace quellin::tarn {
namespace {

constexpr std::size_t kMaxCommandLine = 1024;
constexpr std::chrono::milliseconds kDataTimeout{30000};

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

}  // namespace

std::optional<Endpoint> ParsePortArgument(const std::string& text) {
    std::vector<unsigned> numbers;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, ',')) {
        auto n = ParseSmallNumber(part, 255);
        if (!n)
            return std::nullopt;
        numbers.push_back(*n);
    }
    if (numbers.size() != 6)
        return std::nullopt;
    Endpoint endpoint;
    endpoint.address.s_addr =
        htonl(numbers[0] << 24 | numbers[1] << 16 | numbers[2] << 8 | numbers[3]);
    endpoint.port = static_cast<std::uint16_t>(numbers[4] << 8 | numbers[5]);
    if (endpoint.port == 0)
        return std::nullopt;
    return endpoint;
}

std::optional<Endpoint> ParseEprtArgument(const std::string& text) {
    // |protocol|address|port| with any printable delimiter.
    if (text.size() < 7)
        return std::nullopt;
    char d = text[0];
    std::vector<std::string> fields;
    std::size_t at = 1;
    while (at <= text.size()) {
        auto next = text.find(d, at);
        if (next == std::string::npos)
            break;
        fields.push_back(text.substr(at, next - at));
        at = next + 1;
    }
    if (fields.size() != 3 || at != text.size() || fields[0] != "1")
        return std::nullopt;
    auto address = ParseIpv4(fields[1]);
    auto port = ParseSmallNumber(fields[2], 65535);
    if (!address || !port || *port == 0)
        return std::nullopt;
    return Endpoint{*address, static_cast<std::uint16_t>(*port)};
}

FtpConnection::FtpConnection(SimRouter& router, UniqueFd socket)
    : Connection(router),
      control_(std::move(socket)),
      peer_(PeerAddress(control_.get())),
      peerAddress_(PeerIpv4(control_.get())) {}

FtpConnection::~FtpConnection() {
    Close();
}

void FtpConnection::Start() {
    router_.loop().Watch(control_.get(), POLLIN, [this](short revents) { OnControl(revents); });
    Reply("220 " + router_.state().model + " FTP server ready.");
}

void FtpConnection::Close() {
    if (closed_)
        return;
    if (storing_)
        FinishTransfer(false, "connection closed");
    closed_ = true;
    ResetData();
    router_.loop().Unwatch(control_.get());
    control_.Close();
    router_.ConnectionClosed();
}

void FtpConnection::ResetData() {
    if (dataTimer_ != 0)
        router_.loop().Cancel(dataTimer_);
    dataTimer_ = 0;
    if (passive_.valid())
        router_.loop().Unwatch(passive_.get());
    if (data_.valid())
        router_.loop().Unwatch(data_.get());
    passive_.Close();
    data_.Close();
    dataConnected_ = false;
    mode_ = DataMode::kNone;
}

void FtpConnection::Reply(const std::string& text) {
    out_ += text + "\r\n";
    Flush();
}

void FtpConnection::Flush() {
    if (closed_)
        return;
    long sent = SendSome(control_.get(), out_);
    if (sent < 0) {
        Close();
        return;
    }
    out_.erase(0, static_cast<std::size_t>(sent));
    if (out_.empty() && quitting_) {
        Close();
        return;
    }
    UpdateWatch();
}

void FtpConnection::UpdateWatch() {
    if (closed_)
        return;
    router_.loop().SetEvents(control_.get(), out_.empty() ? POLLIN : POLLIN | POLLOUT);
}

void FtpConnection::OnControl(short revents) {
    if (revents & (POLLIN | POLLHUP | POLLERR)) {
        char buffer[2048];
        long n = ReceiveSome(control_.get(), buffer, sizeof buffer);
        if (n < 0) {
            Close();
            return;
        }
        if (n > 0) {
            Touch();
            in_.append(buffer, static_cast<std::size_t>(n));
            std::size_t lf;
            while (!closed_ && !quitting_ && (lf = in_.find('\n')) != std::string::npos) {
                std::string line = in_.substr(0, lf);
                in_.erase(0, lf + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                OnCommand(line);
            }
            if (!closed_ && in_.size() > kMaxCommandLine) {
                Reply("500 Command line too long.");
                quitting_ = true;
                Flush();
            }
            if (closed_)
                return;
        }
    }
    if (revents & POLLOUT)
        Flush();
}

void FtpConnection::OnCommand(const std::string& line) {
    const RouterConfig& config = router_.config();
    auto space = line.find(' ');
    const std::string verb = Upper(line.substr(0, space));
    const std::string argument = space == std::string::npos ? "" : line.substr(space + 1);

    if (verb == "USER") {
        user_ = argument;
        loggedIn_ = false;
        Reply("331 Password required for " + argument + ".");
        return;
    }
    if (verb == "PASS") {
        if (user_.empty()) {
            Reply("503 Login with USER first.");
            return;
        }
        bool ok = !config.faults.refuseFtpLogin && user_ == kUser && argument == config.password;
        router_.Record(
            "login",
            JsonLine().Add("service", "ftp").Add("peer", peer_).Add("user", user_).Add("ok", ok));
        loggedIn_ = ok;
        Reply(ok ? "230 User logged in." : "530 Login incorrect.");
        return;
    }
    if (verb == "QUIT") {
        Reply("221 Goodbye.");
        quitting_ = true;
        Flush();
        return;
    }
    if (verb == "NOOP")
        return Reply("200 NOOP ok.");
    if (verb == "SYST")
        return Reply("215 UNIX Type: L8");
    if (verb == "FEAT")
        return Reply("211-Features:\r\n EPRT\r\n EPSV\r\n PASV\r\n211 End");
    if (!loggedIn_)
        return Reply("530 Please login with USER and PASS.");

    if (verb == "PWD")
        return Reply("257 \"/\" is the current directory");
    if (verb == "CWD") {
        return Reply(argument == "/" || argument.empty() ? "250 Directory successfully changed."
                                                         : "550 Failed to change directory.");
    }
    if (verb == "TYPE") {
        std::string type = Upper(argument);
        if (type == "I" || type == "L 8") {
            type_ = 'I';
            return Reply("200 Switching to Binary mode.");
        }
        if (type == "A" || type == "A N") {
            type_ = 'A';
            return Reply("200 Switching to ASCII mode.");
        }
        return Reply("504 Command not implemented for that parameter.");
    }
    if (verb == "MODE")
        return Reply(Upper(argument) == "S" ? "200 Mode set to S." : "504 Bad MODE command.");
    if (verb == "STRU")
        return Reply(Upper(argument) == "F" ? "200 Structure set to F." : "504 Bad STRU command.");
    if (verb == "PASV" || verb == "EPSV") {
        if (verb == "EPSV" && !argument.empty() && Upper(argument) != "ALL" && argument != "1")
            return Reply("522 Network protocol not supported, use (1)");
        if (verb == "EPSV" && Upper(argument) == "ALL")
            return Reply("200 EPSV ALL ok.");
        if (storing_)
            return Reply("425 Transfer in progress.");
        ResetData();
        std::string error;
        passive_ = ListenTcp(router_.address(), 0, error);
        if (!passive_.valid())
            return Reply("425 Cannot open passive connection.");
        mode_ = DataMode::kPassive;
        router_.loop().Watch(passive_.get(), POLLIN, [this](short) { OnPassiveAccept(); });
        std::uint16_t port = LocalPort(passive_.get());
        if (verb == "EPSV")
            return Reply("229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)");
        std::uint32_t a = ntohl(router_.address().s_addr);
        return Reply("227 Entering Passive Mode (" + std::to_string(a >> 24) + "," +
                     std::to_string(a >> 16 & 255) + "," + std::to_string(a >> 8 & 255) + "," +
                     std::to_string(a & 255) + "," + std::to_string(port >> 8) + "," +
                     std::to_string(port & 255) + ").");
    }
    if (verb == "PORT" || verb == "EPRT") {
        if (verb == "EPRT" && argument.size() > 1 && argument[1] == '2')
            return Reply("522 Network protocol not supported, use (1)");
        auto target = verb == "PORT" ? ParsePortArgument(argument) : ParseEprtArgument(argument);
        // The data connection goes back only to the client itself, never to
        // a third address named in the command.
        if (!target || target->address.s_addr != peerAddress_.s_addr)
            return Reply("500 Illegal " + verb + " command.");
        if (storing_)
            return Reply("425 Transfer in progress.");
        ResetData();
        mode_ = DataMode::kActive;
        activeTarget_ = *target;
        return Reply("200 " + verb + " command successful. Consider using PASV.");
    }
    if (verb == "STOR")
        return Store(argument);
    if (verb == "ABOR")
        return Reply("226 No transfer to abort.");
    if (verb == "SIZE" || verb == "MDTM")
        return Reply("550 Could not get file information.");
    Reply("502 Command not implemented.");
}

void FtpConnection::Store(const std::string& argument) {
    std::string name = argument;
    if (!name.empty() && name.front() == '/')
        name.erase(0, 1);
    if (name != "config1" && name != "config2" && name != "firmware")
        return Reply("553 Could not create file.");
    if (storing_)
        return Reply("425 Transfer in progress.");
    if (mode_ == DataMode::kNone)
        return Reply("425 Use PORT or PASV first.");

    slot_ = name;
    const std::filesystem::path part = PartPath();
    file_ = UniqueFd(::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!file_.valid())
        return Reply("553 Could not create file.");
    storing_ = true;
    received_ = 0;
    dataTimer_ = router_.loop().After(kDataTimeout, [this] {
        dataTimer_ = 0;
        Reply("425 Failed to establish connection.");
        FinishTransfer(false, "no data connection");
    });

    if (mode_ == DataMode::kPassive) {
        if (dataConnected_)
            BeginReceive();
        return;
    }
    std::string error;
    data_ = ConnectNonBlocking(router_.address(), activeTarget_.address, activeTarget_.port, error);
    if (!data_.valid()) {
        Reply("425 Failed to establish connection.");
        FinishTransfer(false, error);
        return;
    }
    router_.loop().Watch(data_.get(), POLLOUT, [this](short revents) { OnActiveConnect(revents); });
}

void FtpConnection::OnPassiveAccept() {
    UniqueFd accepted = AcceptNonBlocking(passive_.get());
    if (!accepted.valid())
        return;
    router_.loop().Unwatch(passive_.get());
    passive_.Close();
    data_ = std::move(accepted);
    dataConnected_ = true;
    if (storing_)
        BeginReceive();
}

void FtpConnection::OnActiveConnect(short) {
    if (ConnectResult(data_.get()) != 0) {
        Reply("425 Failed to establish connection.");
        FinishTransfer(false, "active connection refused");
        return;
    }
    dataConnected_ = true;
    BeginReceive();
}

void FtpConnection::BeginReceive() {
    if (dataTimer_ != 0)
        router_.loop().Cancel(dataTimer_);
    dataTimer_ = 0;
    Reply(std::string("150 Opening ") + (type_ == 'I' ? "BINARY" : "ASCII") +
          " mode data connection for " + slot_ + ".");
    if (closed_)
        return;
    router_.loop().Watch(data_.get(), POLLIN, [this](short revents) { OnData(revents); });
}

void FtpConnection::OnData(short revents) {
    if (!(revents & (POLLIN | POLLHUP | POLLERR)))
        return;
    char buffer[65536];
    ssize_t n = ::recv(data_.get(), buffer, sizeof buffer, 0);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return;
        Reply("426 Connection closed; transfer aborted.");
        FinishTransfer(false, std::strerror(errno));
        return;
    }
    if (n == 0) {
        // The slot is only stored once the file is in place; a router that
        // could not keep it says so instead of reporting success.
        if (FinishTransfer(true, ""))
            Reply("226 Transfer complete.");
        else
            Reply("451 Requested action aborted. Local error in processing.");
        return;
    }
    Touch();
    received_ += static_cast<std::size_t>(n);
    if (received_ > router_.config().maxUploadBytes) {
        Reply("552 Requested file action aborted. Exceeded storage allocation.");
        FinishTransfer(false, "too large");
        return;
    }
    if (!WriteAll(file_.get(), std::string_view(buffer, static_cast<std::size_t>(n)))) {
        Reply("451 Requested action aborted. Local error in processing.");
        FinishTransfer(false, std::strerror(errno));
    }
}

bool FtpConnection::FinishTransfer(bool ok, const std::string& reason) {
    if (!storing_)
        return false;
    storing_ = false;
    const std::filesystem::path part = PartPath();
    bool closedOk = file_.Close();
    std::error_code ec;
    if (ok && closedOk) {
        std::filesystem::rename(part, router_.folder() / slot_, ec);
        ok = !ec;
    } else {
        ok = false;
        std::filesystem::remove(part, ec);
    }
    JsonLine fields;
    fields.Add("service", "ftp")
        .Add("peer", peer_)
        .Add("slot", slot_)
        .Add("bytes", received_)
        .Add("mode", mode_ == DataMode::kActive ? "active" : "passive")
        .Add("type", std::string(1, type_))
        .Add("ok", ok);
    if (!ok)
        fields.Add("reason", reason.empty() ? "cannot store" : reason);
    router_.Record("upload", fields);
    ResetData();
    if (ok)
        router_.Uploaded(slot_, received_);
    return ok;
}

// Each connection stores into its own partial file, so that uploads to the
// same slot over two connections at once never write into one file.
std::filesystem::path FtpConnection::PartPath() const {
    return router_.folder() / (slot_ + ".part" + std::to_string(serial_));
}

}  // namespace quellin::tarn
