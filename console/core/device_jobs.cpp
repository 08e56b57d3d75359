#include "device_jobs.h"

#include "codec.h"

#include <algorithm>
#include <filesystem>
#include <map>

namespace quellin::console {

DeviceJobs::DeviceJobs(std::vector<CBase*> devices, int jobs)
    : devices_(std::move(devices)), jobs_(std::max(1, jobs)), outcomes_(devices_.size()) {}

DeviceJobs::~DeviceJobs() {
    Cancel();
    Wait();
}

void DeviceJobs::Start(Job job, Ended ended, std::function<void()> finished) {
    job_ = std::move(job);
    ended_ = std::move(ended);
    onFinished_ = std::move(finished);
    const std::size_t count =
        std::min<std::size_t>(static_cast<std::size_t>(jobs_), devices_.size());
    if (count == 0) {
        if (onFinished_)
            onFinished_();
        return;
    }
    running_ = static_cast<int>(count);
    for (std::size_t i = 0; i < count; ++i)
        workers_.emplace_back([this] { Work(); });
}

void DeviceJobs::Cancel() {
    stopping_ = true;
    cancel_.request_stop();
}

void DeviceJobs::Work() {
    for (std::size_t i = next_++; !stopping_ && i < devices_.size(); i = next_++) {
        const auto start = std::chrono::steady_clock::now();
        Outcome outcome = job_(i, *devices_[i], cancel_.get_token());
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        std::lock_guard guard(lock_);
        outcomes_[i] = std::move(outcome);
        const std::size_t ended = ++finished_;
        if (ended_)
            ended_({*devices_[i], i, outcomes_[i], took, ended, devices_.size()});
    }
    if (--running_ == 0 && onFinished_)
        onFinished_();
}

void DeviceJobs::Wait() {
    for (auto& worker : workers_)
        if (worker.joinable())
            worker.join();
}

std::vector<Outcome> RunJobs(std::vector<CBase*> devices, int jobs, const DeviceJobs::Job& job,
                             const DeviceJobs::Ended& ended) {
    DeviceJobs run(std::move(devices), jobs);
    run.Start(job, ended);
    run.Wait();
    return run.outcomes();
}

std::vector<Outcome> RunOnEach(const MaintenanceRunner& runner, const std::vector<CBase*>& devices,
                               Operation operation, RunMode mode, const std::string& scheduleTime,
                               int jobs, const DeviceJobs::Ended& ended) {
    // One lock per configuration file, found by its canonical path.
    auto fileKey = [](const std::string& configFile) {
        std::error_code ec;
        auto path = std::filesystem::weakly_canonical(cp932::ToPath(configFile), ec);
        return ec ? configFile : path.string();
    };
    // Each device's file is looked up once, before any work starts: a link
    // changed meanwhile cannot leave a device without its lock.
    std::map<std::string, std::mutex> turns;
    std::map<const CBase*, std::mutex*> turnOf;
    for (const CBase* device : devices)
        turnOf[device] = &turns[fileKey(device->configFile)];
    const bool needsConfigFile = RowOf(operation).needsConfigFile;
    auto job = [&](std::size_t, CBase& device, std::stop_token) {
        std::unique_lock<std::mutex> turn;
        if (needsConfigFile)
            turn = std::unique_lock(*turnOf.at(&device));
        return runner.Run(device, operation, mode, scheduleTime);
    };
    return RunJobs(devices, jobs, job, ended);
}

std::string RunSummary(Operation operation, const std::vector<Outcome>& outcomes) {
    const bool failed =
        std::ranges::any_of(outcomes, [](const Outcome& o) { return o.failsRun(); });
    return cp932::Jp(failed ? kSomeDevicesFailed : RowOf(operation).summary);
}

}  // namespace quellin::console
