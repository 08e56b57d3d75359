#include "sim_router.h"

#include "firmware_image.h"
#include "ftp_connection.h"
#include "profile_file.h"
#include "syslog_sender.h"
#include "telnet_connection.h"

#include <algorithm>
#include <ctime>

namespace quellin::tarn {
namespace {

std::int64_t Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

// A router keeps configurations up to this size; a larger upload is stored
// but not taken up.
constexpr std::uintmax_t kMaxConfigBytes = 4u << 20;

std::optional<std::string> ReadConfiguration(const std::filesystem::path& path,
                                             std::string& error) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) {
        error = path.string() + ": " + ec.message();
        return std::nullopt;
    }
    if (size > kMaxConfigBytes) {
        error = path.string() + ": configuration too large to run";
        return std::nullopt;
    }
    auto content = ReadWholeFile(path);
    if (!content)
        error = path.string() + ": cannot read";
    return content;
}

}  // namespace

SimRouter::SimRouter(RouterConfig config, EventLoop& loop, Journal& journal,
                     const std::filesystem::path& stateRoot)
    : config_(std::move(config)),
      loop_(loop),
      journal_(journal),
      name_(config_.name.empty() ? config_.address : config_.name),
      address_(ParseIpv4(config_.address).value_or(in_addr{})),
      folder_(stateRoot / name_),
      state_(InitialState(config_, Now())) {}

SimRouter::~SimRouter() {
    Stop();
}

bool SimRouter::Start(std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (ec) {
        error = folder_.string() + ": " + ec.message();
        return false;
    }
    telnetPort_ = static_cast<std::uint16_t>(config_.telnetPort);
    ftpPort_ = static_cast<std::uint16_t>(config_.ftpPort);
    if (!OpenListeners(error))
        return false;
    up_ = true;
    Record("start",
           JsonLine()
               .Add("telnet_port", int{telnetPort_})
               .Add("ftp_port", int{ftpPort_})
               .Add("model", state_.model)
               .Add("version", FormatVersion(state_.running().major, state_.running().minor))
               .Add("startup", state_.startup));
    return true;
}

void SimRouter::Stop() {
    if (bootTimer_ != 0)
        loop_.Cancel(bootTimer_);
    bootTimer_ = 0;
    for (auto& connection : connections_)
        connection->Close();
    connections_.clear();
    CloseListeners();
    up_ = false;
}

bool SimRouter::OpenListeners(std::string& error) {
    // A port chosen by the system on the first start is kept over restarts,
    // so that clients find the router again where it was.
    telnetListener_ = ListenTcp(address_, telnetPort_, error);
    if (!telnetListener_.valid())
        return false;
    telnetPort_ = LocalPort(telnetListener_.get());
    ftpListener_ = ListenTcp(address_, ftpPort_, error);
    if (!ftpListener_.valid()) {
        CloseListeners();
        return false;
    }
    ftpPort_ = LocalPort(ftpListener_.get());
    loop_.Watch(telnetListener_.get(), POLLIN, [this](short) { OnTelnetAccept(); });
    loop_.Watch(ftpListener_.get(), POLLIN, [this](short) { OnFtpAccept(); });
    return true;
}

void SimRouter::CloseListeners() {
    if (telnetListener_.valid())
        loop_.Unwatch(telnetListener_.get());
    if (ftpListener_.valid())
        loop_.Unwatch(ftpListener_.get());
    telnetListener_.Close();
    ftpListener_.Close();
}

void SimRouter::Adopt(std::unique_ptr<Connection> connection) {
    Connection& started = *connection;
    connections_.push_back(std::move(connection));
    started.Start();
}

void SimRouter::OnTelnetAccept() {
    UniqueFd socket = AcceptNonBlocking(telnetListener_.get());
    if (socket.valid())
        Adopt(std::make_unique<TelnetConnection>(*this, std::move(socket)));
}

void SimRouter::OnFtpAccept() {
    UniqueFd socket = AcceptNonBlocking(ftpListener_.get());
    if (socket.valid())
        Adopt(std::make_unique<FtpConnection>(*this, std::move(socket)));
}

void SimRouter::ConnectionClosed() {
    if (reapPosted_)
        return;
    reapPosted_ = true;
    loop_.Post([this] {
        reapPosted_ = false;
        std::erase_if(connections_, [](const auto& c) { return c->closed(); });
    });
}

void SimRouter::Record(std::string_view event, const JsonLine& fields) {
    journal_.Write(name_, config_.address, event, fields);
}

void SimRouter::Tick() {
    const auto now = EventLoop::Clock::now();
    const auto idle = std::chrono::milliseconds(config_.idleTimeoutMs);
    for (auto& connection : connections_)
        if (!connection->closed() && now - connection->lastActivity() > idle)
            connection->Close();
    if (!up_)
        return;
    const std::int64_t time = Now();
    auto due = std::find_if(plans_.begin(), plans_.end(),
                            [&](const PlannedRestart& plan) { return plan.due <= time; });
    if (due == plans_.end())
        return;
    PlannedRestart plan = *due;
    plans_.erase(due);
    Reset(plan.slot, true);
}

void SimRouter::Plan(const PlannedRestart& plan) {
    // A time whose minute has already gone by is kept on record but never
    // comes; only the current minute or a later one restarts the router.
    constexpr std::int64_t kMinute = 60;
    const bool past = plan.due + kMinute <= Now();
    if (!past)
        plans_.push_back(plan);
    Record("planned-restart",
           JsonLine().Add("at", plan.at).Add("slot", plan.slot).Add("past", past));
}

void SimRouter::Reset(const std::string& slot, bool planned) {
    if (!up_)
        return;
    up_ = false;
    Record("reset", JsonLine().Add("slot", slot).Add("planned", planned));
    Notify(5, std::string("system restart") + (planned ? " (planned)" : ""));
    for (auto& connection : connections_)
        connection->Close();
    CloseListeners();
    bootTimer_ = loop_.After(std::chrono::milliseconds(config_.resetDelayMs), [this, slot] {
        bootTimer_ = 0;
        Boot(slot);
    });
}

void SimRouter::ApplyStoredFirmware() {
    if (!firmwareStored_)
        return;
    firmwareStored_ = false;
    const Result<DeviceIdentity> examined = ExamineFirmwareImage(folder_ / "firmware");
    JsonLine fields;
    fields.Add("accepted", examined.ok());
    if (!examined) {
        fields.Add("reason", examined.error().detail);
        Record("firmware", fields);
        return;
    }
    const DeviceIdentity& identity = *examined;
    fields.Add("model", identity.model)
        .Add("version", FormatVersion(identity.major, identity.minor))
        .Add("ptf", identity.ptf)
        .Add("date", identity.date);
    Record("firmware", fields);
    // The new software goes into the other bank, which then runs.
    int other = 1 - state_.runningBank;
    state_.bank[other] = Software{identity.major, identity.minor, identity.ptf, identity.date};
    state_.runningBank = other;
}

void SimRouter::Boot(const std::string& slot) {
    ApplyStoredFirmware();
    if (!slot.empty())
        state_.startup = slot;
    state_.runningConfig = state_.slotConfig[state_.startup == "config2" ? 1 : 0];
    state_.bootTime = Now();
    std::string error;
    if (!OpenListeners(error)) {
        // The port may be held for a moment; try again shortly.
        Record("error", JsonLine().Add("text", error));
        bootTimer_ = loop_.After(std::chrono::milliseconds(1000), [this, slot] {
            bootTimer_ = 0;
            Boot("");
        });
        return;
    }
    up_ = true;
    Record("up", JsonLine()
                     .Add("version", FormatVersion(state_.running().major, state_.running().minor))
                     .Add("startup", state_.startup)
                     .Add("telnet_port", int{telnetPort_})
                     .Add("ftp_port", int{ftpPort_}));
    Notify(5, "system startup " + FormatVersion(state_.running().major, state_.running().minor) +
                  " " + state_.startup);
}

void SimRouter::Uploaded(const std::string& slot, std::size_t bytes) {
    if (slot == "firmware") {
        firmwareStored_ = true;
    } else {
        const int index = slot == "config2" ? 1 : 0;
        state_.slotSaved[index] = Now();
        // The slot's new content runs from the next restart on.
        std::string error;
        auto content = ReadConfiguration(folder_ / slot, error);
        if (content)
            state_.slotConfig[index] = std::move(*content);
        else
            Record("error", JsonLine().Add("text", error));
    }
    Notify(6, "ftp: stored " + slot + " (" + std::to_string(bytes) + " bytes)");
}

void SimRouter::Notify(int severity, const std::string& text) {
    if (!config_.syslog)
        return;
    constexpr int kLocal0 = 16;
    std::string datagram =
        FormatSyslog(kLocal0 * 8 + severity, SyslogStamp(Now()), name_ + ": " + text);
    std::string error;
    bool sent = SendSyslog(address_, *config_.syslog, datagram, error);
    JsonLine fields;
    fields
        .Add("to", FormatIpv4(config_.syslog->address) + ":" + std::to_string(config_.syslog->port))
        .Add("text", datagram)
        .Add("ok", sent);
    if (!sent)
        fields.Add("reason", error);
    Record("syslog", fields);
}

}  // namespace quellin::tarn
