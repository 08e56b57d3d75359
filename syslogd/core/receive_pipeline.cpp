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

std::size_t WindowItem::Bytes() const {
    std::size_t bytes = sizeof(WindowItem);
    if (row) {
        for (const auto& column : *row)
            bytes += column.size();
    }
    if (alert)
        bytes += alert->popupText.size() + alert->mailText.size();
    return bytes;
}

WindowQueue::WindowQueue(Limits limits) : limits_(limits) {}

void WindowQueue::SetWaker(std::function<void()> waker) {
    std::lock_guard lock(mutex_);
    waker_ = std::move(waker);
    woken_ = false;
}

void WindowQueue::WakeLocked() {
    if (woken_ || !waker_)
        return;
    woken_ = true;
    waker_();
}

void WindowQueue::Push(std::vector<WindowItem>& items) {
    if (items.empty())
        return;
    std::lock_guard lock(mutex_);
    for (WindowItem& item : items) {
        const std::size_t bytes = item.Bytes();
        if (items_.size() >= limits_.items || bytes_ + bytes > limits_.bytes) {
            if (item.row)
                ++heldBackRows_;
            if (item.alert)
                ++heldBackAlerts_;
            continue;
        }
        bytes_ += bytes;
        items_.push_back(std::move(item));
    }
    items.clear();
    WakeLocked();
}

void WindowQueue::SetLogStatus(const LogWriteStatus& status) {
    std::lock_guard lock(mutex_);
    logStatus_ = status;
    WakeLocked();
}

void WindowQueue::SetForwardStatus(const ForwardStatus& status) {
    std::lock_guard lock(mutex_);
    forwardStatus_ = status;
    WakeLocked();
}

WindowQueue::Delivery WindowQueue::Take(std::size_t maxItems) {
    std::lock_guard lock(mutex_);
    Delivery delivery;
    while (!items_.empty() && delivery.items.size() < maxItems) {
        bytes_ -= items_.front().Bytes();
        delivery.items.push_back(std::move(items_.front()));
        items_.pop_front();
    }
    delivery.heldBackRows = std::exchange(heldBackRows_, 0);
    delivery.heldBackAlerts = std::exchange(heldBackAlerts_, 0);
    delivery.logStatus = std::exchange(logStatus_, std::nullopt);
    delivery.forwardStatus = std::exchange(forwardStatus_, std::nullopt);
    delivery.more = !items_.empty();
    woken_ = false;
    return delivery;
}

ReceivePipeline::ReceivePipeline(const Clock& clock, SettingsSnapshot settings, WindowQueue& queue,
                                 Options options)
    : clock_(clock),
      queue_(queue),
      options_(options),
      settings_(std::move(settings)),
      log_([this](const LogWriteStatus& status) { queue_.SetLogStatus(status); }, options.log) {
    log_.SetDateClock(clock_);
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
    if (current_ != holdSettings_) {
        // Holds belong to an entry of a table: a new table starts afresh.
        if (!holdSettings_ || holdSettings_->searchTable != current_->searchTable ||
            holdSettings_->alertHoldSeconds != current_->alertHoldSeconds)
            holdOff_.Clear();
        holdSettings_ = current_;
    }
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
    const SyslogdSettings& settings = *current_;

    const std::int64_t now = clock_.Now();
    if (!timeKnown_ || now != time_.second) {
        time_ = DescribeReceiveTime(now);
        timeKnown_ = true;
    }
    // The rate check comes before decoding, so malformed datagrams count too.
    const bool listable = rate_.Admit(now);

    LayoutResult parsed = ParseDatagram(datagram, time_.year);
    if (!parsed.layout)
        return;
    const DatagramLayout& layout = *parsed.layout;
    const FacilityInfo facility = *LookUpFacility(layout.facility);
    const LevelInfo level = *LookUpLevel(layout.level);
    const std::string_view timestamp = layout.senderTimestamp
                                           ? datagram.substr(layout.timestampOffset, 15)
                                           : std::string_view(time_.text);
    const std::string_view body = datagram.substr(layout.bodyOffset);
    // Every accepted datagram, whatever the display shows.
    if (forwarding_) {
        try {
            AddForwarded(forwardBatch_, FormatOf(settings), datagram, layout, timestamp, source,
                         now);
        } catch (const std::exception&) {
            // Out of memory: this one is not forwarded; the log still gets it.
        }
    }

    WindowItem item;
    try {
        const DisplayFilter filter{settings.dispFilter, settings.filterLevel,
                                   settings.filterFacility};
        if (displayRunning_.load(std::memory_order_relaxed) && listable &&
            PassesDisplayFilter(filter, level.bit, facility.bit)) {
            item.row = ListRow{std::string(timestamp), std::string(source), facility.name,
                               level.name, std::string(body)};
            rate_.RowAdded(now);
        }

        std::uint64_t heldBack = 0;
        auto index = FindFirstMatch(settings.searchTable, datagram);
        if (index && holdOff_.Admit(*index, source, now, settings.alertHoldSeconds, heldBack)) {
            const SearchEntry& entry = settings.searchTable[*index];
            AlertOrder alert;
            alert.settings = current_;
            alert.entryIndex = *index;
            alert.showPopup = !entry.noPopMail;
            alert.sound = SoundOf(settings.soundType);
            alert.sendMail = settings.mailSendFlag && entry.mailFlag;
            alert.heldBack = heldBack;
            std::string text = PopupText(entry, timestamp, source, body);
            // The count of a hold-off ends the text, and a long message
            // cut for the popup does not hide it.
            const std::string notice =
                heldBack > 0 ? "\r\n" + HeldBackNotice(heldBack) : std::string();
            if (alert.showPopup)
                alert.popupText =
                    PopupHead(text, options_.popupHeadBytes, options_.popupHeadLines) + notice;
            if (alert.sendMail)
                alert.mailText = std::move(text) + notice;
            if (alert.showPopup || alert.sound != AlertSound::None || alert.sendMail)
                item.alert = std::move(alert);
        }
    } catch (const std::exception&) {
        // Out of memory for one message's row or alert: the log still gets it.
    }
    if (item.row || item.alert)
        pending_.push_back(std::move(item));

    if (settings.logWriteFlag) {
        AppendLogLineTo(log_.buffer(), {timestamp, source, facility.name, level.name, body});
        log_.LineAppended();
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
    current_.reset();
}

void ReceivePipeline::Finish() {
    EndBatch();
    log_.Close();
    if (forwarder_)
        forwarder_->Stop();
}

}  // namespace quellin::syslogd
