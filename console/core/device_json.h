// The JSON objects the console's results take outside the windows: one
// object per line for `quellin --json` (and the same objects for anything
// else that serves them).  Texts are CP932 inside and UTF-8 in the object;
// times are local ISO 8601 with their offset ("2026-12-08T03:00:12+09:00"),
// "" for never.
#pragma once

#include "config_backup.h"
#include "config_history.h"
#include "device_jobs.h"
#include "device_registry.h"
#include "inventory.h"

#include <cstdint>
#include <string>

namespace quellin::console {

// Local ISO 8601 with the zone's offset; "" for 0 (never).
std::string IsoTime(std::int64_t time);

// row, name, address, last_config, last_firmware, last_log, next_log.
std::string DeviceJson(const CBase& device);
// name, address, outcome, message, reason, seconds, operation.
std::string OperationJson(const DeviceResult& result, Operation operation);
// name, address, model, version, startup, image, image_version, verdict,
// reason.
std::string InventoryJson(const InventoryRow& row);
// name, address, outcome, message, reason, seconds, stored, commit, added,
// removed.
std::string BackupJson(const DeviceResult& result, const BackupResult& backup);
// name, address, outcome, message, reason, seconds, same, diff.
std::string DriftJson(const DeviceResult& result, const DriftResult& drift);
// name, time, commit, added, removed.
std::string VersionJson(const std::string& name, const history::ConfigHistory::Version& version);
// name, from, to, diff.
std::string DiffJson(const std::string& name, const std::string& from, const std::string& to,
                     const std::string& diff);

}  // namespace quellin::console
