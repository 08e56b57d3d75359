// The fleet as Prometheus metrics, in the text exposition format, for the
// node exporter's textfile collector: per registered device whether it
// answered, the firmware it runs (an info metric), the inventory's
// verdict, the last successful backup, the changes stored and the failed
// backups counted since notices began to be kept.
#pragma once

#include "device_registry.h"
#include "fleet_state.h"
#include "notices.h"
#include "result.h"

#include <filesystem>
#include <string>
#include <vector>

namespace quellin::console {

std::string FleetMetrics(const std::vector<CBase*>& devices, const std::vector<DeviceState>& fleet,
                         const NoticeStates& kept);

// Replaces the file whole, so a scrape never reads half of it; readable
// by the exporter's user.
Result<void> WriteMetrics(const std::filesystem::path& file, const std::string& text);

}  // namespace quellin::console
