// One piece of work on many devices, up to `jobs` devices at once: each
// device's work is done by one worker from start to end, so its steps stay
// in order and its lines go to its own operation log.
#pragma once

#include "device_registry.h"
#include "maintenance_runner.h"
#include "outcome.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace quellin::console {

// One device's end, told as it ends (in the order devices end).
struct DeviceResult {
    const CBase& device;
    const Outcome& outcome;
    std::chrono::milliseconds took;
    std::size_t finished;  // devices ended so far, this one included
    std::size_t total;
};

// Runs `work` on every device (each should appear once) and returns the
// outcomes in the order of `devices`.  `finished` is called under a lock, so
// what it prints never mixes.
std::vector<Outcome> RunEach(const std::vector<CBase*>& devices, int jobs,
                             const std::function<Outcome(CBase&)>& work,
                             const std::function<void(const DeviceResult&)>& finished = {});

// One maintenance operation on every device (each should appear once), up to
// `jobs` at once; the outcomes come back in the order of `devices`.
// `finished` is called under a lock, so what it prints never mixes.  A
// configuration file is rewritten in place before its upload, so devices
// sharing one file take turns with it: each uploads the file as its own
// conversion left it.
std::vector<Outcome> RunOnEach(const MaintenanceRunner& runner, const std::vector<CBase*>& devices,
                               Operation operation, RunMode mode, const std::string& scheduleTime,
                               int jobs,
                               const std::function<void(const DeviceResult&)>& finished = {});

}  // namespace quellin::console
