// What the device settings dialog "装置設定" does: validates the typed
// texts, stores what changed into the device's record, saves base.db, and
// handles the deletion of a device by an empty name.
#pragma once

#include "device_registry.h"
#include "report.h"

#include <functional>
#include <string>

namespace quellin::console {

// The dialog's texts, CP932.  `address` is the IP control's text
// ("0.0.0.0" when the control is empty).
struct DeviceSettingsFields {
    std::string name;
    std::string address;
    std::string password;
    std::string accessId;
    std::string accessPassword;
    std::string configFile;

    bool operator==(const DeviceSettingsFields&) const = default;
};

inline constexpr std::size_t kMaxFieldBytes = 64;

class DeviceSettingsLogic {
public:
    // saveAndRefresh redraws the device's row and writes base.db.
    DeviceSettingsLogic(CBase& device, Reporter& reporter, std::string registryPath,
                        std::function<void()> saveAndRefresh);

    // The texts the dialog opens with (an empty address leaves the control
    // blank).
    DeviceSettingsFields initialFields() const;

    // 適用: validates in order and stores the changed fields.  The first
    // failed check shows its message and stores nothing.
    bool Apply(const DeviceSettingsFields& fields);

    enum class OkResult { Close, StayOpen };
    // OK: Apply, then the empty-name deletion question, then the log line.
    // On a confirmed deletion `fields` are emptied for the dialog to show.
    OkResult Ok(DeviceSettingsFields& fields);

private:
    bool Validate(const DeviceSettingsFields& fields);
    void Delete(DeviceSettingsFields& fields);

    CBase& device_;
    Reporter& reporter_;
    std::string registryPath_;
    std::function<void()> saveAndRefresh_;
    bool changed_ = false;
};

// The IP control's text: four numbers 0-255, blanks read as 0; empty gives
// "0.0.0.0".
std::string IpControlText(const std::string& typed);

}  // namespace quellin::console
