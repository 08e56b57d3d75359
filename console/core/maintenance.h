// The console's operations on one router: apply a configuration now or at a
// planned time, update the firmware from the newest matching image now or at
// a planned time, and collect the router's diagnostic output.  Each returns
// its outcome with the reason the telnet, FTP or image layer gave; the
// runner (maintenance_runner.h) reports it.
#pragma once

#include "console_app.h"
#include "device_identity.h"
#include "device_registry.h"
#include "firmware_policy.h"
#include "ftp_session.h"
#include "outcome.h"
#include "questions.h"
#include "telnet_session.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>

namespace quellin::console {

// What an operation is told about one router; texts are CP932.
struct MaintenanceTarget {
    std::string address;
    std::string password;
    std::string configFile;
    std::string scheduleTime;  // ten digits "%y%m%d%H%M", or empty
    std::string name;
};

MaintenanceTarget TargetFor(const CBase& device, std::string scheduleTime = {});

// What an operation has besides the router: who answers its question, and
// where its own operation-log lines go.
struct OperationContext {
    const MaintenanceTarget& target;
    Questions* questions;  // nullptr: nobody is asked and every update goes ahead
    std::function<void(const std::string&)> log;
};

// The work of the operations on a router, once the checks have passed.
class RouterOperations {
public:
    virtual ~RouterOperations() = default;
    virtual Outcome ApplyConfig(const OperationContext& context, bool scheduled) = 0;
    virtual Outcome UpdateFirmware(const OperationContext& context, bool scheduled) = 0;
    virtual Outcome CollectLog(const OperationContext& context) = 0;
};

// Ports and waits of the router dialogues; tests shorten them.  The telnet
// deadline is the TELNETDEADLINE setting's.
struct RouterTimings {
    TelnetOptions telnet;  // port 23, 5 s receive timeout, 2 s initial wait
    int ftpPort = 21;
    FtpTimeouts ftp;  // 30 s connect time-out
    std::chrono::milliseconds configRestartWait{15000};
    std::chrono::milliseconds firmwareRestartWait{25000};
};

class RouterMaintenance final : public RouterOperations {
public:
    RouterMaintenance(const ConsoleApp& app, RouterTimings timings = {});

    Outcome ApplyConfig(const OperationContext& context, bool scheduled) override;
    Outcome UpdateFirmware(const OperationContext& context, bool scheduled) override;
    Outcome CollectLog(const OperationContext& context) override;

    // The identification every operation starts with ("show system
    // information"), given up when `stop` is requested.  loginRefused, when
    // given, tells a router that refused the password from one that did not
    // answer.
    Outcome Identify(const MaintenanceTarget& target, DeviceIdentity& identity,
                     std::stop_token stop = {}, bool* loginRefused = nullptr) const;
    // The software folder searched for the device's model under the
    // console's firmware rules, as a firmware update applies them.
    FirmwareChoice ChooseFirmware(const DeviceIdentity& device) const;

    // The dialogues' settings, for other dialogues with the same routers.
    const RouterTimings& timings() const { return timings_; }
    const ConsoleApp& app() const { return app_; }

    // How the waits after an immediate restart pass; tests replace it.
    void setSleep(std::function<void(std::chrono::milliseconds)> sleep) {
        sleep_ = std::move(sleep);
    }

private:
    // One telnet dialogue, its output into `output` when given; on failure
    // the outcome carries the message.
    Outcome RunCommand(const MaintenanceTarget& target, const std::string& command,
                       std::string_view failureMessage, std::string* output = nullptr) const;
    Outcome Upload(const MaintenanceTarget& target, const std::string& localPath,
                   const std::string& remoteName, std::string_view failureMessage) const;

    const ConsoleApp& app_;
    RouterTimings timings_;
    std::function<void(std::chrono::milliseconds)> sleep_;
};

// A dialogue's failure with " (応答が上限の N KiB を超えました)" after its
// detail when it ended at its output limit.
Error NoteLimit(Error error, std::size_t limit);

// The command texts sent to a router, short forms for gated models.
std::string ScheduledConfigCommand(bool gated, const std::string& time, const std::string& slot);
std::string SoftwareRestartCommand(bool gated);
std::string ScheduledSoftwareCommand(bool gated, const std::string& time);

}  // namespace quellin::console
