// One maintenance operation on one registered device, the same for every
// front end: the single-device dialog, the multi-device dialog, the log
// schedule and the command line differ only in the mode they run it in.
#pragma once

#include "device_registry.h"
#include "maintenance.h"
#include "operation_waiter.h"
#include "outcome.h"
#include "questions.h"
#include "report.h"

#include <cstdint>
#include <functional>
#include <string>

namespace quellin::console {

enum class Operation {
    kApplyConfig,
    kApplyConfigAt,
    kUpdateFirmware,
    kUpdateFirmwareAt,
    kCollectLog,
};

// What an operation is called, logs, stamps and needs (texts UTF-8).
struct OperationRow {
    const char* name;  // "apply-config", "update-firmware", "collect-log"
    const char* opening;
    const char* closing;
    const char* summary;  // a run over several devices in which none failed
    std::int64_t CBase::*stamp;
    bool needsConfigFile;
    bool scheduled;  // runs at a planned time, handed to the router
};
const OperationRow& RowOf(Operation operation);

// The summary of a run over several devices in which one failed.
inline constexpr char kSomeDevicesFailed[] = "処理に失敗した装置があります。";

enum class RunMode {
    // Someone watches (the single-device dialog): the checks come first and
    // show message boxes, then the opening line; failures are logged and
    // shown; the update question is asked.
    kAttended,
    // Nobody watches (the multi-device dialog): the opening line, then the
    // checks; failures are only logged; nothing is asked.
    kUnattended,
    // As unattended, but the update question goes to the answers the caller
    // was given in advance (the command line's options).
    kAnsweredInAdvance,
    // The console's log schedule: as unattended, with the schedule's own
    // opening and closing lines and wait text.
    kSchedule,
};

class MaintenanceRunner {
public:
    MaintenanceRunner(RouterOperations& router, Reporter& reporter, Questions& questions,
                      OperationWaiter& waiter)
        : router_(router), reporter_(reporter), questions_(questions), waiter_(waiter) {}

    // The checks, the opening line, the work on the router behind the wait
    // window, and once it is done the device's time stamp, `stamped` (which
    // shows and saves it) and the closing line.  Every other outcome is
    // reported with its message.  scheduleTime: ten digits "%y%m%d%H%M" for
    // the operations at a planned time.  Runs for different devices may go
    // on at once on threads of their own.
    Outcome Run(CBase& device, Operation operation, RunMode mode,
                const std::string& scheduleTime = {},
                const std::function<void()>& stamped = {}) const;

private:
    RouterOperations& router_;
    Reporter& reporter_;
    Questions& questions_;
    OperationWaiter& waiter_;
};

}  // namespace quellin::console
