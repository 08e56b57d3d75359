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
//      sends;
//   7. the store (StoreFlag): the datagram with its receive time, source,
//      facility and level, into the batch the store writer's own thread
//      writes.
//
// What the window has to do — rows to show, alerts to carry out (popup,
// sound, mail) and changes in the log file's state — goes into a bounded
// WindowQueue at the end of every batch of datagrams; the store's state
// reaches it from the writer's thread.  Settings reach the
// pipeline as immutable snapshots, swapped whole.
#pragma once

#include "alert.h"
#include "clock.h"
#include "datagram_sink.h"
#include "display_filter.h"
#include "forwarder.h"
#include "log_writer.h"
#include "received_message.h"
#include "store_writer.h"
#include "syslogd_settings.h"
#include "window_queue.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace quellin::syslogd {

class ReceivePipeline final : public DatagramSink {
public:
    struct Options {
        AlertStage::Options alert;
        LogWriter::Options log;
        Forwarder::Options forward;
        syslogstore::SyslogStoreWriter::Options store;
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

    // Reception thread: one datagram from `source` (dotted IPv4).  It is
    // decoded here, and an accepted one goes through every stage.
    void Handle(std::string_view datagram, std::string_view source) override;
    // Reception thread: the batch is over; the log is flushed and the
    // window's share handed over.
    void EndBatch() override;
    // Reception thread: the last batch is over; the log file is closed and
    // what waits to be forwarded or stored is sent or written for a bounded
    // time.
    void Finish() override;
    // Any thread: waits until what was handed to the store is written (true
    // at once without a store); false after `timeout`.
    bool FlushStore(std::chrono::milliseconds timeout);

private:
    void BeginBatch();
    // The stages of one accepted message, in their fixed order.
    void Accept(const ReceivedMessage& message, bool listable);
    void Forward(const ReceivedMessage& message);
    std::optional<ListRow> Display(const ReceivedMessage& message, bool listable);
    void Log(const ReceivedMessage& message);
    void Store(const ReceivedMessage& message);
    void UseStoreSettings(const syslogstore::StoreSettings& settings);

    const Clock& clock_;
    WindowQueue& queue_;
    Options options_;  // the store writer's clock filled in
    std::atomic<SettingsSnapshot> settings_;
    std::atomic<bool> displayRunning_{true};

    // Reception thread only.
    SettingsSnapshot current_;
    bool inBatch_ = false;
    DisplayRateLimit rate_;
    ReceiveTime time_;
    std::string decoded_;  // an RFC 5424 message's texts, reused
    bool timeKnown_ = false;
    std::vector<WindowItem> pending_;
    AlertStage alerts_;
    LogWriter log_;
    bool forwarding_ = false;
    ForwardTarget forwardTarget_;
    ForwardBatch forwardBatch_;
    std::unique_ptr<Forwarder> forwarder_;
    syslogstore::StoreBatch storeBatch_;
    std::unique_ptr<syslogstore::SyslogStoreWriter> store_;
};

}  // namespace quellin::syslogd
