// What the fleet's last runs found, kept so that a page answers at once
// without asking a router: per device the inventory's verdict and firmware,
// the last backup and the last drift check.  quellin and the console record
// into it as their runs end; the web view reads it.
//
// The file "fleet-state.txt" lies in the installation folder beside base.db
// and, like it, is 0660 in the installation's group.  It is CP932 text with
// CR LF lines like every file of the system: a heading line, then one line
// per device of TAB-separated fields (a field never holds TAB, CR or LF).
// A writer reads, changes and replaces it whole (ReplaceFile) while holding
// an flock on its own lock file, so runs that end together lose nothing.
#pragma once

#include "config_backup.h"
#include "inventory.h"
#include "result.h"
#include "state_file.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quellin::console {

struct DeviceState {
    std::string name;  // CP932, as registered
    // The last inventory that reached the device (0: none).
    std::int64_t inventoryTime = 0;
    std::string verdict;  // VerdictKey
    std::string model;
    std::string version;
    std::string imageVersion;
    std::string reason;
    // The last backup: when it ended, how ("done", "failed"), the newest
    // stored version (empty until one was stored by a recorded run).
    std::int64_t backupTime = 0;
    std::string backupOutcome;
    std::string backupCommit;
    // The last drift check: "same", "differs" or "failed".
    std::int64_t driftTime = 0;
    std::string drift;

    bool operator==(const DeviceState&) const = default;
};

// Bounds of what is read: far beyond any fleet (MAXROWS is 300 by default).
inline constexpr std::size_t kMaxStateFileBytes = 16u << 20;
inline constexpr std::size_t kMaxStateDevices = 100000;

// The file's lines read back; lines that are not a device's (the heading,
// too few fields, an empty name) are skipped, later lines of one name win.
std::vector<DeviceState> ParseFleetState(std::string_view text);
std::string FleetStateText(const std::vector<DeviceState>& devices);

class FleetState {
public:
    static constexpr char kFileName[] = "fleet-state.txt";
    static constexpr char kLockName[] = "fleet-state.lock";

    // The installation folder (CP932, with or without its trailing "/").
    explicit FleetState(const std::string& installationFolder);

    // Every recorded device; empty when nothing was recorded yet.
    Result<std::vector<DeviceState>> Read() const;

    // The rows of devices that were asked (a row not asked keeps what was
    // known), at `time`.
    Result<void> RecordInventory(const std::vector<InventoryRow>& rows, std::int64_t time);
    // Each device's result (results[i] is devices[i]'s), at `time`.
    Result<void> RecordBackups(const std::vector<CBase*>& devices,
                               const std::vector<BackupResult>& results, std::int64_t time);
    Result<void> RecordDrifts(const std::vector<CBase*>& devices,
                              const std::vector<DriftResult>& results, std::int64_t time);

    const std::filesystem::path& file() const { return state_.file(); }

private:
    template <class Change>
    Result<void> Update(Change change);

    StateFile state_;
};

}  // namespace quellin::console
