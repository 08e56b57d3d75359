#include "store_writer.h"

#include "codec.h"
#include "store_file.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace quellin::syslogstore {
namespace {

// What waiting messages take before a transaction starts without waiting
// for the commit interval.
constexpr std::size_t kPromptBytes = 1u << 20;

}  // namespace

// The writer's thread: the file, the back-off and what the window was told.
class SyslogStoreWriter::Worker {
public:
    using SteadyClock = std::chrono::steady_clock;

    explicit Worker(SyslogStoreWriter& writer)
        : w_(writer),
          clock_(writer.options_.clock != nullptr ? *writer.options_.clock : CurrentClock()),
          backoff_(writer.options_.firstRetry) {}

    void Run() {
        pthread_setname_np(pthread_self(), "store writer");
        // Reception and the log file come first; the store catches up.
        const int priority = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()),
                    priority + w_.options_.niceIncrement);
        std::unique_lock lock(w_.mutex_);
        while (true) {
            WaitForWork(lock);
            if (w_.stopping_)
                break;
            if (w_.settingsChanged_)
                TakeSettings();
            std::vector<StoreBatch> work = TakeWork();
            lock.unlock();
            const bool written = WriteAndExpire(work, true);
            ReportDroppedWhenDue();
            lock.lock();
            Settle(work, written);
        }
        Drain(lock);
    }

private:
    bool Failing() const { return status_.failure.has_value(); }
    bool ExpiryOn() const { return settings_.keepDays > 0 || settings_.maxMB > 0; }

    bool DroppedReportDue(SteadyClock::time_point now) const {
        return w_.dropped_.load() != status_.dropped &&
               now >= lastReport_ + w_.options_.statusInterval;
    }

    bool Gathered(SteadyClock::time_point now) const {
        return w_.prompt_ || w_.queueBytes_ >= kPromptBytes ||
               now >= lastWrite_ + w_.options_.commitInterval;
    }

    bool HasWork(SteadyClock::time_point now) const {
        const bool retryDue = !Failing() || now >= retryAt_;
        return (!w_.queue_.empty() && retryDue && Gathered(now)) ||
               (ExpiryOn() && now >= nextExpiry_ && retryDue) || DroppedReportDue(now);
    }

    SteadyClock::time_point WakeTime() const {
        auto at = SteadyClock::now() + std::chrono::hours(1);
        if (!w_.queue_.empty())
            at = std::min(at, std::max(lastWrite_ + w_.options_.commitInterval,
                                       Failing() ? retryAt_ : SteadyClock::time_point()));
        if (ExpiryOn())
            at = std::min(at, std::max(nextExpiry_, Failing() ? retryAt_ : nextExpiry_));
        if (w_.dropped_.load() != status_.dropped)
            at = std::min(at, lastReport_ + w_.options_.statusInterval);
        return at;
    }

    void WaitForWork(std::unique_lock<std::mutex>& lock) {
        while (!w_.stopping_ && !w_.settingsChanged_ && !HasWork(SteadyClock::now())) {
            w_.threadWaiting_ = true;
            w_.wake_.wait_until(lock, WakeTime());
            w_.threadWaiting_ = false;
        }
    }

    void TakeSettings() {
        if (w_.settings_.path != settings_.path) {
            file_.reset();
            retryAt_ = SteadyClock::now();
        }
        settings_ = w_.settings_;
        w_.settingsChanged_ = false;
        nextExpiry_ = SteadyClock::now();
    }

    // Whole batches from the front, up to a transaction's worth; they stay
    // counted in the queue's bytes until written.
    std::vector<StoreBatch> TakeWork() {
        std::vector<StoreBatch> work;
        if (Failing() && SteadyClock::now() < retryAt_)
            return work;
        std::size_t messages = 0;
        while (!w_.queue_.empty() && messages < w_.options_.messagesPerTransaction) {
            messages += w_.queue_.front().size();
            work.push_back(std::move(w_.queue_.front()));
            w_.queue_.pop_front();
        }
        if (w_.queue_.empty())
            w_.prompt_ = false;
        if (!work.empty())
            lastWrite_ = SteadyClock::now();
        return work;
    }

    // Back in the queue when not written; otherwise counted as done.
    void Settle(std::vector<StoreBatch>& work, bool written) {
        if (!written) {
            for (auto batch = work.rbegin(); batch != work.rend(); ++batch)
                w_.queue_.push_front(std::move(*batch));
            return;
        }
        std::uint64_t messages = 0;
        for (const StoreBatch& batch : work) {
            w_.queueBytes_ -= batch.Bytes();
            messages += batch.size();
        }
        w_.DoneLocked(messages);
    }

    bool Opened() {
        if (file_)
            return true;
        auto opened =
            StoreFile::Open(settings_.path, static_cast<int>(w_.options_.lockWait.count()));
        if (!opened) {
            Fail(opened.error());
            return false;
        }
        file_.emplace(std::move(opened.value()));
        return true;
    }

    bool WriteAndExpire(const std::vector<StoreBatch>& work, bool expire) {
        // The file is opened at the first turn, so a failure is told at
        // once; after one, only when there is something to do.
        const bool expiryDue = expire && ExpiryOn() && SteadyClock::now() >= nextExpiry_;
        if (work.empty() && !expiryDue && (file_ || Failing()))
            return true;
        if (!Opened())
            return false;
        if (!work.empty()) {
            auto written = file_->Write(work);
            if (!written) {
                Fail(written.error());
                return false;
            }
            w_.stored_ += written->stored;
            w_.dropped_ += written->skipped;
            Succeed();
        }
        if (expiryDue)
            ExpireStep();
        return true;
    }

    void ExpireStep() {
        const std::int64_t keepFrom =
            settings_.keepDays > 0 ? clock_.Now() - std::int64_t{settings_.keepDays} * 86400 : 0;
        const std::uint64_t maxBytes =
            settings_.maxMB > 0 ? static_cast<std::uint64_t>(settings_.maxMB) << 20 : 0;
        auto removed = file_->ExpireStep(keepFrom, maxBytes, w_.options_.expiryRowsPerStep);
        if (!removed) {
            Fail(removed.error());
            return;
        }
        Succeed();
        // A full step leaves more to do: the next turn goes on.
        nextExpiry_ =
            SteadyClock::now() + (removed.value() >= w_.options_.expiryRowsPerStep
                                      ? SteadyClock::duration::zero()
                                      : SteadyClock::duration(w_.options_.expiryInterval));
    }

    void Fail(const Error& error) {
        const auto now = SteadyClock::now();
        retryAt_ = now + backoff_;
        backoff_ = std::min(backoff_ * 2, w_.options_.maxRetry);
        if (error.code == ErrorCode::kDamaged) {
            file_.reset();
            auto aside = MoveAside(settings_.path, clock_.Now());
            if (aside) {
                // Begun anew at once; the back-off holds if that fails too.
                retryAt_ = now;
                status_.movedAside = cp932::FromPath(aside.value());
            }
        } else if (error.code != ErrorCode::kBusy && error.code != ErrorCode::kDiskFull) {
            file_.reset();
        }
        const bool said = Failing() && status_.failure->code == error.code;
        status_.failure = error;
        if (!said || !status_.movedAside.empty())
            Report();
    }

    void Succeed() {
        backoff_ = w_.options_.firstRetry;
        if (Failing()) {
            status_.failure.reset();
            Report();
        }
    }

    void ReportDroppedWhenDue() {
        if (DroppedReportDue(SteadyClock::now()))
            Report();
    }

    void Report() {
        status_.path = cp932::FromPath(settings_.path);
        status_.dropped = w_.dropped_.load();
        lastReport_ = SteadyClock::now();
        if (w_.onStatus_)
            w_.onStatus_(status_);
        status_.movedAside.clear();
    }

    // At Stop: what waits, for a bounded time, while writing works.
    void Drain(std::unique_lock<std::mutex>& lock) {
        const auto deadline = SteadyClock::now() + w_.options_.drainAtStop;
        bool working = true;
        while (working && !w_.queue_.empty() && SteadyClock::now() < deadline) {
            if (w_.settingsChanged_)
                TakeSettings();
            retryAt_ = SteadyClock::now();
            std::vector<StoreBatch> work = TakeWork();
            lock.unlock();
            working = WriteAndExpire(work, false);
            lock.lock();
            Settle(work, working);
        }
        std::uint64_t left = 0;
        for (const StoreBatch& batch : w_.queue_)
            left += batch.size();
        w_.queue_.clear();
        w_.queueBytes_ = 0;
        w_.dropped_ += left;
        w_.DoneLocked(left);
    }

    SyslogStoreWriter& w_;
    const Clock& clock_;
    StoreSettings settings_;
    std::optional<StoreFile> file_;
    StoreWriteStatus status_;
    std::chrono::milliseconds backoff_;
    SteadyClock::time_point retryAt_{};
    SteadyClock::time_point nextExpiry_{};
    SteadyClock::time_point lastReport_{};
    SteadyClock::time_point lastWrite_{};
};

SyslogStoreWriter::SyslogStoreWriter(StoreSettings settings,
                                     std::function<void(const StoreWriteStatus&)> onStatus,
                                     Options options)
    : options_(options),
      onStatus_(std::move(onStatus)),
      settings_(std::move(settings)),
      settingsChanged_(true) {
    thread_ = std::thread([this] { Worker(*this).Run(); });
}

SyslogStoreWriter::~SyslogStoreWriter() {
    Stop();
}

void SyslogStoreWriter::SetSettings(const StoreSettings& settings) {
    std::lock_guard lock(mutex_);
    if (settings == settings_)
        return;
    settings_ = settings;
    settingsChanged_ = true;
    wake_.notify_one();
}

void SyslogStoreWriter::Push(StoreBatch&& batch) {
    if (batch.empty())
        return;
    const std::size_t bytes = batch.Bytes();
    std::lock_guard lock(mutex_);
    pushed_ += batch.size();
    const bool wasEmpty = queue_.empty();
    const bool dropping = stopping_ || queueBytes_ + bytes > options_.queueBytes;
    if (dropping) {
        dropped_ += batch.size();
        DoneLocked(batch.size());
    } else {
        queueBytes_ += bytes;
        queue_.push_back(std::move(batch));
    }
    // A writer gathering messages wakes by itself; one with nothing to do
    // is woken by the first, and a drop is told.
    if (threadWaiting_ && (wasEmpty || queueBytes_ >= kPromptBytes || dropping)) {
        threadWaiting_ = false;
        wake_.notify_one();
    }
}

void SyslogStoreWriter::DoneLocked(std::uint64_t n) {
    done_ += n;
    doneChanged_.notify_all();
}

bool SyslogStoreWriter::Flush(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    const std::uint64_t target = pushed_.load();
    prompt_ = true;
    wake_.notify_one();
    return doneChanged_.wait_for(lock, timeout, [&] { return done_.load() >= target; });
}

void SyslogStoreWriter::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        wake_.notify_one();
    }
    if (thread_.joinable())
        thread_.join();
}

}  // namespace quellin::syslogstore
