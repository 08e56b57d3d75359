// Runs one maintenance operation on several registered devices without
// anyone watching, the way the multi-device dialog does: per device an
// opening line, the checks, the operation, and on success a time stamp and
// a closing line.  Up to `jobs` devices run at once; each device's steps
// stay in order and each device's lines go to its own operation log.
#pragma once

#include "device_registry.h"
#include "maintenance.h"
#include "report.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quellin::cli {

enum class Operation {
    kApplyConfig,
    kScheduledConfig,
    kUpdateFirmware,
    kScheduledFirmware,
    kCollectLog,
};

// What the multi-device dialog logs, stamps and sums up per operation
// (UTF-8 literals; converted when written).
struct OperationTexts {
    const char* opening;
    const char* closing;
    const char* summary;  // shown when every device succeeded
    std::int64_t CBase::*stamp;
    bool needsConfigFile;
    bool scheduled;
};
const OperationTexts& TextsFor(Operation operation);

// Shown instead of the operation's summary when any device failed.
inline constexpr char kSomeDevicesFailed[] = "処理に失敗した装置があります。";

enum class DeviceOutcome {
    kSucceeded,
    kFailed,
    kUnchanged,  // a firmware update that found no newer image
};

// One finished device, reported as it finishes (in completion order).
struct DeviceProgress {
    const CBase& device;
    DeviceOutcome outcome;
    std::size_t finished;  // how many devices have finished, this one included
    std::size_t total;
};

struct BatchRequest {
    Operation operation = Operation::kCollectLog;
    std::string scheduleTime;  // ten digits for the scheduled operations
    int jobs = 1;
    // Each worker gets its own operations object.
    std::function<std::unique_ptr<console::Maintenance>()> makeMaintenance;
    // Called under a lock, so lines printed from it never mix.
    std::function<void(const DeviceProgress&)> progress;
};

struct BatchResult {
    std::vector<DeviceOutcome> outcomes;  // in the order of `selected`
    bool failed = false;
};

// `selected` indexes into `devices`; each index should appear once.  Only
// the selected records are touched (their stamps), each by one worker.
BatchResult RunBatch(const BatchRequest& request, CList<CBase>& devices,
                     const std::vector<std::size_t>& selected, console::Reporter& reporter);

}  // namespace quellin::cli
