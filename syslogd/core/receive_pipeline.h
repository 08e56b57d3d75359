// The receive pipeline: everything that happens to one datagram, in its
// fixed order, on the reception thread and without the window:
//
//   1. the display rate check (before decoding, so malformed datagrams
//      count too);
//   2. decoding; a malformed datagram leaves no trace;
//   3. the display decision: the display is running, the rate check let the
//      message through and the display filter lists it;
//   4. alert matching against the search table, and the alert hold-off
//      (AlertHoldSeconds), which holds back alerts only, never a row or a
//      log line;
//   5. the log line, into the log writer's buffer;
//   6. forwarding (ForwardFlag): the message with the router's address as
//      its host (ForwardFormat), into the batch the forwarder's own thread
//      sends.
//
// What the window has to do — rows to show, alerts to carry out (popup,
// sound, mail) and changes in the log file's state — goes into a bounded
// WindowQueue at the end of every batch of datagrams.  Settings reach the
// pipeline as immutable snapshots, swapped whole.
#pragma once

#include "alert.h"
#include "clock.h"
#include "display_filter.h"
#include "forwarder.h"
#include "log_writer.h"
#include "received_message.h"
#include "syslogd_settings.h"
#include "udp_receiver.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quellin::syslogd {

using SettingsSnapshot = std::shared_ptr<const SyslogdSettings>;

// One matching message's alert, as the window carries it out.
struct AlertOrder {
    SettingsSnapshot settings;  // the settings it matched under (sound, mail)
    std::size_t entryIndex = 0;
    bool showPopup = false;
    std::string popupText;  // a bounded head of the popup text
    AlertSound sound = AlertSound::None;
    bool sendMail = false;
    std::string mailText;  // the whole popup text, only when mailing
    // Matches of this entry from this source held back since its last
    // alert (AlertHoldSeconds); the texts say so when above 0.
    std::uint64_t heldBack = 0;

    const SearchEntry& entry() const { return settings->searchTable[entryIndex]; }
};

// What one accepted message leaves for the window.
struct WindowItem {
    std::optional<ListRow> row;
    std::optional<AlertOrder> alert;

    std::size_t Bytes() const;
};

// The hand-over from the reception thread to the window: bounded in items
// and bytes.  Rows are few (the display rate limit allows 11 a second);
// alerts are as many as matching messages.  Whatever does not fit is
// counted, never dropped silently, and the count goes to the window with
// the next delivery.
class WindowQueue {
public:
    struct Limits {
        std::size_t items = 20000;
        std::size_t bytes = 32u << 20;
    };

    struct Delivery {
        std::vector<WindowItem> items;
        std::uint64_t heldBackRows = 0;              // since the previous delivery
        std::uint64_t heldBackAlerts = 0;            // since the previous delivery
        std::optional<LogWriteStatus> logStatus;     // when it changed
        std::optional<ForwardStatus> forwardStatus;  // when it changed
        bool more = false;                           // items are left waiting
    };

    explicit WindowQueue(Limits limits);
    WindowQueue() : WindowQueue(Limits{}) {}

    // Called on the pushing thread when something arrives for a window that
    // has not been told since it last took.  Set and cleared by the window.
    void SetWaker(std::function<void()> waker);

    void Push(std::vector<WindowItem>& items);
    void SetLogStatus(const LogWriteStatus& status);
    // Any thread.
    void SetForwardStatus(const ForwardStatus& status);

    // At most `maxItems` items, oldest first, with the counts and status.
    Delivery Take(std::size_t maxItems);

private:
    void WakeLocked();

    const Limits limits_;
    std::mutex mutex_;
    std::deque<WindowItem> items_;
    std::size_t bytes_ = 0;
    std::uint64_t heldBackRows_ = 0;
    std::uint64_t heldBackAlerts_ = 0;
    std::optional<LogWriteStatus> logStatus_;
    std::optional<ForwardStatus> forwardStatus_;
    std::function<void()> waker_;
    bool woken_ = false;
};

class ReceivePipeline final : public DatagramSink {
public:
    struct Options {
        // What a popup lays out at most; the list and the log keep the whole text.
        std::size_t popupHeadBytes = 1024;
        std::size_t popupHeadLines = 30;
        LogWriter::Options log;
        Forwarder::Options forward;
    };

    ReceivePipeline(const Clock& clock, SettingsSnapshot settings, WindowQueue& queue,
                    Options options);
    ReceivePipeline(const Clock& clock, SettingsSnapshot settings, WindowQueue& queue)
        : ReceivePipeline(clock, std::move(settings), queue, Options{}) {}
    ~ReceivePipeline() override;

    WindowQueue& queue() { return queue_; }

    // Any thread.  The next batch works with the new settings: a changed log
    // path is opened for its first line.
    void SetSettings(SettingsSnapshot settings);
    SettingsSnapshot settings() const;
    // 表示停止 / 表示再開; any thread.
    void SetDisplayRunning(bool running) { displayRunning_.store(running); }
    bool displayRunning() const { return displayRunning_.load(); }

    // Reception thread: one datagram from `source` (dotted IPv4).
    void Handle(std::string_view datagram, std::string_view source) override;
    // Reception thread: the batch is over; the log is flushed and the
    // window's share handed over.
    void EndBatch() override;
    // Reception thread: the last batch is over; the log file is closed and
    // what waits to be forwarded is sent for a bounded time.
    void Finish() override;

private:
    void BeginBatch();

    const Clock& clock_;
    WindowQueue& queue_;
    const Options options_;
    std::atomic<SettingsSnapshot> settings_;
    std::atomic<bool> displayRunning_{true};

    // Reception thread only.
    SettingsSnapshot current_;
    bool inBatch_ = false;
    DisplayRateLimit rate_;
    ReceiveTime time_;
    bool timeKnown_ = false;
    std::vector<WindowItem> pending_;
    AlertHoldOff holdOff_;
    SettingsSnapshot holdSettings_;  // the settings the holds were made under
    LogWriter log_;
    bool forwarding_ = false;
    ForwardTarget forwardTarget_;
    ForwardBatch forwardBatch_;
    std::unique_ptr<Forwarder> forwarder_;
};

}  // namespace quellin::syslogd
