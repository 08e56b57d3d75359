#include "batch_run.h"

#include "codec.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

namespace quellin::console {

std::vector<Outcome> RunEach(const std::vector<CBase*>& devices, int jobs,
                             const std::function<Outcome(CBase&)>& work,
                             const std::function<void(const DeviceResult&)>& finished) {
    std::vector<Outcome> outcomes(devices.size());
    std::atomic<std::size_t> next{0};
    std::mutex lock;
    std::size_t ended = 0;
    auto worker = [&] {
        for (std::size_t i = next++; i < devices.size(); i = next++) {
            const auto start = std::chrono::steady_clock::now();
            outcomes[i] = work(*devices[i]);
            const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
            std::lock_guard guard(lock);
            ++ended;
            if (finished)
                finished({*devices[i], outcomes[i], took, ended, devices.size()});
        }
    };
    const std::size_t workers = std::min<std::size_t>(static_cast<std::size_t>(std::max(jobs, 1)),
                                                      std::max<std::size_t>(devices.size(), 1));
    if (workers == 1) {
        worker();
    } else {
        std::vector<std::jthread> threads;
        threads.reserve(workers);
        for (std::size_t i = 0; i < workers; ++i)
            threads.emplace_back(worker);
    }
    return outcomes;
}

std::vector<Outcome> RunOnEach(const MaintenanceRunner& runner, const std::vector<CBase*>& devices,
                               Operation operation, RunMode mode, const std::string& scheduleTime,
                               int jobs, const std::function<void(const DeviceResult&)>& finished) {
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
    auto work = [&](CBase& device) {
        std::unique_lock<std::mutex> turn;
        if (needsConfigFile)
            turn = std::unique_lock(*turnOf.at(&device));
        return runner.Run(device, operation, mode, scheduleTime);
    };
    return RunEach(devices, jobs, work, finished);
}

}  // namespace quellin::console
