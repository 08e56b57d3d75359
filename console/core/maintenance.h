// The console's operations on one router: apply a configuration now or at a
// planned time, update the firmware from the newest matching image now or at
// a planned time, and collect the router's diagnostic output.
#pragma once

#include "console_app.h"
#include "device_identity.h"
#include "ftp_session.h"
#include "report.h"
#include "telnet_session.h"

#include <chrono>
#include <functional>
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

// UpdateSoftware results.
inline constexpr int kUpdateFailed = -1;
inline constexpr int kUpdateDone = 0;
inline constexpr int kUpdateNoNewer = 1;
inline constexpr int kUpdateCancelled = 2;

// The operations as the dialogs, the scheduler and the command line use
// them.  `unattended` turns message boxes into operation-log lines.
class Maintenance {
public:
    virtual ~Maintenance() = default;
    virtual bool CheckAddress(const MaintenanceTarget& target, bool unattended) = 0;
    virtual bool CheckConfigFile(const MaintenanceTarget& target, bool unattended) = 0;
    virtual bool ApplyConfig(const MaintenanceTarget& target, bool scheduled, bool unattended) = 0;
    virtual int UpdateSoftware(const MaintenanceTarget& target, bool scheduled,
                               bool unattended) = 0;
    virtual bool CollectLog(const MaintenanceTarget& target, bool unattended) = 0;
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

// The five model pairs of the image search (image model, device model).
struct ModelAlias {
    const char* imageModel;
    const char* deviceModel;
};
extern const ModelAlias ModelAliasTable[5];

class RouterMaintenance final : public Maintenance {
public:
    RouterMaintenance(ConsoleApp& app, Reporter& reporter, RouterTimings timings = {});

    bool CheckAddress(const MaintenanceTarget& target, bool unattended) override;
    bool CheckConfigFile(const MaintenanceTarget& target, bool unattended) override;
    bool ApplyConfig(const MaintenanceTarget& target, bool scheduled, bool unattended) override;
    int UpdateSoftware(const MaintenanceTarget& target, bool scheduled, bool unattended) override;
    bool CollectLog(const MaintenanceTarget& target, bool unattended) override;

    // How the waits after an immediate restart pass; tests replace it.
    void setSleep(std::function<void(std::chrono::milliseconds)> sleep) {
        sleep_ = std::move(sleep);
    }

private:
    void Notice(const MaintenanceTarget& target, const char* message, bool unattended);
    bool Identify(const MaintenanceTarget& target, DeviceIdentity& identity, bool unattended);
    int RunCommand(const MaintenanceTarget& target, const std::string& command,
                   CommandOutput* output);

    ConsoleApp& app_;
    Reporter& reporter_;
    RouterTimings timings_;
    std::function<void(std::chrono::milliseconds)> sleep_;
};

// The command texts sent to a router, short forms for gated models.
std::string ScheduledConfigCommand(bool gated, const std::string& time, const std::string& slot);
std::string SoftwareRestartCommand(bool gated);
std::string ScheduledSoftwareCommand(bool gated, const std::string& time);

}  // namespace quellin::console
