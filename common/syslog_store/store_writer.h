// Writing the syslog store: every accepted message, beside the log file.
//
// The reception thread only fills a StoreBatch and hands it over at the end
// of its batch; a thread of the writer's own converts the texts and does
// all the SQLite work, one transaction for whatever has gathered, at the
// lowest priority.  What waits is bounded in bytes: a batch
// that does not fit is not stored and is counted, so a slow or failing
// store never holds up reception or the log file.
//
// Failures are said once (a status with the failure, then one without it
// when writing works again) and retried after a back-off that doubles up
// to a limit; what waits meanwhile is kept, up to the bound.  A full disk,
// a database another process holds, a folder that cannot be written: the
// messages wait and are written once it works again.  A damaged database
// is renamed aside ("<name>.damaged-YYYYMMDDhhmmss", its WAL with it) and
// a new one begun; the status names the new name once.
//
// Expiry (StoreKeepDays, StoreMaxMB) removes the oldest messages and
// nothing else, a bounded number of rows at a time between transactions.
#pragma once

#include "clock.h"
#include "result.h"
#include "store_batch.h"
#include "store_settings.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace quellin::syslogstore {

// What the window says about the store.
struct StoreWriteStatus {
    std::string path;              // CP932 text
    std::optional<Error> failure;  // set while writing fails
    std::uint64_t dropped = 0;     // messages not stored since start
    // Set once, in the status right after a damaged database was renamed:
    // its new name (CP932 text).
    std::string movedAside;

    bool operator==(const StoreWriteStatus&) const = default;
};

class SyslogStoreWriter {
public:
    struct Options {
        std::size_t queueBytes = 64u << 20;  // what may wait at most
        std::size_t messagesPerTransaction = 50000;
        // Messages gather for up to this long after a transaction before
        // the next one, unless a megabyte of them waits: fewer, larger
        // transactions cost less per message.
        std::chrono::milliseconds commitInterval{200};
        std::size_t expiryRowsPerStep = 5000;
        std::chrono::milliseconds firstRetry{500};
        std::chrono::milliseconds maxRetry{30000};
        // How long a statement waits for another process's lock.
        std::chrono::milliseconds lockWait{200};
        // How often a changed count of dropped messages is reported.
        std::chrono::milliseconds statusInterval{1000};
        // How often expiry looks for work when there was none.
        std::chrono::milliseconds expiryInterval{10000};
        // At Stop, what waits is written for at most this long.
        std::chrono::milliseconds drainAtStop{2000};
        // Added to the writer thread's nice value: reception wins the CPU.
        int niceIncrement = 19;
        // Now, for expiry and the name of a damaged file; the system clock
        // when not set.  Must outlive the writer.
        const Clock* clock = nullptr;
    };

    // Starts the writer's thread; `onStatus` is called on it.
    SyslogStoreWriter(StoreSettings settings, std::function<void(const StoreWriteStatus&)> onStatus,
                      Options options);
    SyslogStoreWriter(StoreSettings settings, std::function<void(const StoreWriteStatus&)> onStatus)
        : SyslogStoreWriter(std::move(settings), std::move(onStatus), Options{}) {}
    ~SyslogStoreWriter();
    SyslogStoreWriter(const SyslogStoreWriter&) = delete;
    SyslogStoreWriter& operator=(const SyslogStoreWriter&) = delete;

    // Any thread: a new path is opened, new expiry limits apply, from the
    // writer's next turn on.
    void SetSettings(const StoreSettings& settings);
    // Reception thread: never waits for the database.
    void Push(StoreBatch&& batch);
    // Waits until every message pushed before is stored or counted as
    // dropped; false when that took longer than `timeout`.
    bool Flush(std::chrono::milliseconds timeout);
    // Writes what waits for at most drainAtStop, then ends the thread; what
    // is left is counted as dropped.
    void Stop();

    std::uint64_t stored() const { return stored_.load(); }
    std::uint64_t dropped() const { return dropped_.load(); }
    // Messages waiting to be written.
    std::uint64_t waiting() const { return pushed_.load() - done_.load(); }

private:
    class Worker;

    // Under mutex_: `n` messages are stored or dropped.
    void DoneLocked(std::uint64_t n);

    const Options options_;
    std::function<void(const StoreWriteStatus&)> onStatus_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable doneChanged_;
    std::deque<StoreBatch> queue_;
    std::size_t queueBytes_ = 0;  // including batches being written
    StoreSettings settings_;
    bool settingsChanged_ = false;
    bool stopping_ = false;
    bool threadWaiting_ = false;
    bool prompt_ = false;  // Flush: write what waits without gathering more

    std::atomic<std::uint64_t> pushed_{0};
    std::atomic<std::uint64_t> done_{0};
    std::atomic<std::uint64_t> stored_{0};
    std::atomic<std::uint64_t> dropped_{0};
    std::thread thread_;
};

}  // namespace quellin::syslogstore
