#include "receive_pipeline.h"

#include "log_file.h"

#include <exception>

namespace quellin::syslogd {
namespace {

LogWriter::Rotation RotationOf(const SyslogdSettings& settings) {
    LogWriter::Rotation rotation;
    switch (settings.logRotateType) {
        case kRotateDaily:
            rotation.type = LogWriter::RotationType::Daily;
            break;
        case kRotateBySize:
            if (settings.logRotateSizeMB > 0) {
                rotation.type = LogWriter::RotationType::BySize;
                rotation.maxBytes = static_cast<std::uint64_t>(settings.logRotateSizeMB) << 20;
            }
            break;
        default:
            break;
    }
    rotation.keep = settings.logKeepCount;
    return rotation;
}

// Where the settings forward to; no host when forwarding is off.
ForwardTarget TargetOf(const SyslogdSettings& settings) {
    ForwardTarget target;
    if (!settings.forwardFlag || settings.forwardPort < 1 || settings.forwardPort > 65535)
        return target;
    target.host = settings.forwardHost;
    target.port = static_cast<std::uint16_t>(settings.forwardPort);
    target.protocol = settings.forwardProtocol == kForwardTcp ? ForwardTarget::Protocol::Tcp
                                                              : ForwardTarget::Protocol::Udp;
    return target;
}

ForwardFormat FormatOf(const SyslogdSettings& settings) {
    return settings.forwardFormat == kForwardRfc5424 ? ForwardFormat::Rfc5424
                                                     : ForwardFormat::Rfc3164;
}

}  // namespace

ReceivePipeline::ReceivePipeline(const Clock& clock, SettingsSnapshot settings, WindowQueue& queue,
                                 Options options)
    : clock_(clock),
      queue_(queue),
      options_(options),
      settings_(std::move(settings)),
      alerts_(options.alert),
      log_([this](const LogWriteStatus& status) { queue_.SetLogStatus(status); }, options.log) {
    log_.SetDateClock(clock_);
    if (options_.store.clock == nullptr)
        options_.store.clock = &clock_;
}

ReceivePipeline::~ReceivePipeline() = default;

void ReceivePipeline::SetSettings(SettingsSnapshot settings) {
    settings_.store(std::move(settings));
}

SettingsSnapshot ReceivePipeline::settings() const {
    return settings_.load();
}

void ReceivePipeline::BeginBatch() {
    inBatch_ = true;
    current_ = settings_.load();
    alerts_.Use(current_);
    ForwardTarget target = TargetOf(*current_);
    forwarding_ = !target.host.empty();
    if (target != forwardTarget_) {
        if (forwarding_ && !forwarder_) {
            forwarder_ = std::make_unique<Forwarder>(
                [this](const ForwardStatus& status) { queue_.SetForwardStatus(status); },
                options_.forward);
        }
        if (forwarder_)
            forwarder_->SetTarget(target);
        forwardTarget_ = std::move(target);
    }
    UseStoreSettings(StoreSettingsOf(*current_));
    if (current_->logWriteFlag) {
        log_.SetPath(current_->logPath);
        log_.SetRotation(RotationOf(*current_));
    } else {
        log_.Close();
    }
}

void ReceivePipeline::Handle(std::string_view datagram, std::string_view source) {
    if (!inBatch_)
        BeginBatch();
    const std::int64_t now = clock_.Now();
    if (!timeKnown_ || now != time_.second) {
        time_ = DescribeReceiveTime(now);
        timeKnown_ = true;
    }
    // The rate check comes before decoding, so malformed datagrams count too.
    const bool listable = rate_.Admit(now);
    DecodeResult decoded = DecodeMessage(datagram, source, time_, decoded_);
    if (decoded.message)
        Accept(*decoded.message, listable);
}

void ReceivePipeline::Accept(const ReceivedMessage& message, bool listable) {
    WindowItem item;
    try {
        item.row = Display(message, listable);
        item.alert = alerts_.Match(message);
    } catch (const std::exception&) {
        // Out of memory for one message's row or alert: the log still gets it.
    }
    if (item.row || item.alert)
        pending_.push_back(std::move(item));
    Log(message);
    Forward(message);
    Store(message);
}

void ReceivePipeline::UseStoreSettings(const syslogstore::StoreSettings& settings) {
    if (!settings.enabled) {
        // Writes what waits for a bounded time; only a changed file turns
        // the store off, never a batch.
        store_.reset();
        return;
    }
    if (!store_) {
        store_ = std::make_unique<syslogstore::SyslogStoreWriter>(
            settings,
            [this](const syslogstore::StoreWriteStatus& status) { queue_.SetStoreStatus(status); },
            options_.store);
    } else {
        store_->SetSettings(settings);
    }
}

void ReceivePipeline::Store(const ReceivedMessage& message) {
    if (!store_)
        return;
    try {
        storeBatch_.Add(message.receivedAt, message.source, message.pri / 8, message.pri % 8,
                        message.raw, message.rawBodyOffset);
    } catch (const std::exception&) {
        // Out of memory: this one is not stored; the log has it.
    }
}

std::optional<ListRow> ReceivePipeline::Display(const ReceivedMessage& message, bool listable) {
    const SyslogdSettings& settings = *current_;
    const DisplayFilter filter{settings.dispFilter, settings.filterLevel, settings.filterFacility};
    if (!displayRunning_.load(std::memory_order_relaxed) || !listable ||
        !PassesDisplayFilter(filter, message.level.bit, message.facility.bit))
        return std::nullopt;
    rate_.RowAdded(message.receivedAt);
    return message.Row();
}

void ReceivePipeline::Log(const ReceivedMessage& message) {
    if (!current_->logWriteFlag)
        return;
    AppendLogLineTo(log_.buffer(), message.Columns());
    log_.LineAppended();
}

void ReceivePipeline::Forward(const ReceivedMessage& message) {
    if (!forwarding_)
        return;
    try {
        AddForwarded(forwardBatch_, FormatOf(*current_), message);
    } catch (const std::exception&) {
        // Out of memory: this one is not forwarded; the log has it.
    }
}

void ReceivePipeline::EndBatch() {
    if (!inBatch_)
        return;
    inBatch_ = false;
    log_.Flush();
    queue_.Push(pending_);
    if (!forwardBatch_.empty()) {
        forwarder_->Push(std::move(forwardBatch_));
        forwardBatch_ = ForwardBatch{};
    }
    if (!storeBatch_.empty()) {
        store_->Push(std::move(storeBatch_));
        storeBatch_ = syslogstore::StoreBatch{};
    }
    current_.reset();
}

bool ReceivePipeline::FlushStore(std::chrono::milliseconds timeout) {
    return !store_ || store_->Flush(timeout);
}

void ReceivePipeline::Finish() {
    EndBatch();
    log_.Close();
    if (forwarder_)
        forwarder_->Stop();
    if (store_)
        store_->Stop();
}

}  // namespace quellin::syslogd
