// One way through many devices: a job per device (its checks, its work on
// the router, its lines in the device's log, its Outcome), up to N devices
// at once, each device's job done by one worker from start to end so that
// its steps stay in order.  The maintenance operations, the inventory, the
// backup and the drift check all run as such jobs; a run can be stopped
// (no further device is started) or cancelled (the dialogues under way are
// cut short as well).
#pragma once

#include "device_registry.h"
#include "maintenance_runner.h"
#include "outcome.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace quellin::console {

// One device's end, told as it ends (in the order devices end).
struct DeviceResult {
    const CBase& device;
    std::size_t index;  // the device's place in the run's list
    const Outcome& outcome;
    std::chrono::milliseconds took;
    std::size_t finished;  // devices ended so far, this one included
    std::size_t total;
};

class DeviceJobs {
public:
    // index: the device's place in the list, for the job's own results.
    using Job = std::function<Outcome(std::size_t index, CBase& device, std::stop_token stop)>;
    using Ended = std::function<void(const DeviceResult&)>;

    DeviceJobs(std::vector<CBase*> devices, int jobs);
    // Cancels and waits for the workers.
    ~DeviceJobs();
    DeviceJobs(const DeviceJobs&) = delete;
    DeviceJobs& operator=(const DeviceJobs&) = delete;

    // Starts the workers and returns.  `ended` runs under a lock as each
    // device ends, so what it prints never mixes; `finished` once, after
    // the last (also after a stop), on the last worker.
    void Start(Job job, Ended ended = {}, std::function<void()> finished = {});
    void Stop() { stopping_ = true; }
    void Cancel();
    void Wait();

    std::size_t total() const { return devices_.size(); }
    std::size_t finished() const { return finished_; }
    // In the order of the devices; those never started stay done and empty.
    const std::vector<Outcome>& outcomes() const { return outcomes_; }

private:
    void Work();

    std::vector<CBase*> devices_;
    int jobs_;
    Job job_;
    Ended ended_;
    std::function<void()> onFinished_;
    std::vector<Outcome> outcomes_;
    std::mutex lock_;
    std::atomic<std::size_t> next_{0};
    std::atomic<std::size_t> finished_{0};
    std::atomic<int> running_{0};
    std::atomic<bool> stopping_{false};
    std::stop_source cancel_;
    std::vector<std::thread> workers_;
};

// Every device's job to its end; the outcomes in the order of `devices`.
std::vector<Outcome> RunJobs(std::vector<CBase*> devices, int jobs, const DeviceJobs::Job& job,
                             const DeviceJobs::Ended& ended = {});

// Every device's job to its end, each keeping a result of its own (one with
// an `outcome`); `ended` is told each device's end with its result.  The
// results in the order of `devices`.
template <class Result, class Job, class Ended>
std::vector<Result> RunEachKeeping(std::vector<CBase*> devices, int jobs, Job job, Ended ended) {
    std::vector<Result> results(devices.size());
    RunJobs(
        std::move(devices), jobs,
        [&](std::size_t i, CBase& device, std::stop_token) {
            results[i] = job(device);
            return results[i].outcome;
        },
        [&](const DeviceResult& r) { ended(r, results[r.index]); });
    return results;
}

// One maintenance operation on every device (each should appear once), up to
// `jobs` at once.  A configuration file is rewritten in place before its
// upload, so devices sharing one file take turns with it: each uploads the
// file as its own conversion left it.
std::vector<Outcome> RunOnEach(const MaintenanceRunner& runner, const std::vector<CBase*>& devices,
                               Operation operation, RunMode mode, const std::string& scheduleTime,
                               int jobs, const DeviceJobs::Ended& ended = {});

// What a run over several devices ends with (CP932): the operation's summary,
// or "処理に失敗した装置があります。" when a device failed or declined.
std::string RunSummary(Operation operation, const std::vector<Outcome>& outcomes);

}  // namespace quellin::console
