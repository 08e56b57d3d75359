#include "device_json.h"

#include "clock.h"
#include "json_line.h"

namespace quellin::console {
namespace {

// What every device's result carries first.
JsonLine ResultFields(const DeviceResult& r) {
    JsonLine line;
    line.Add("name", r.device.name)
        .Add("address", r.device.address)
        .Add("outcome", ToString(r.outcome.kind))
        .Add("message", r.outcome.message)
        .Add("reason", r.outcome.reason)
        .Add("seconds", static_cast<double>(r.took.count()) / 1000);
    return line;
}

}  // namespace

std::string IsoTime(std::int64_t time) {
    if (time == 0)
        return {};
    const std::string text = FormatLocalTime(time, "%Y-%m-%dT%H:%M:%S%z");
    // "+0900" becomes "+09:00".
    if (text.size() < 2)
        return text;
    return text.substr(0, text.size() - 2) + ":" + text.substr(text.size() - 2);
}

std::string DeviceJson(const CBase& device) {
    return JsonLine()
        .Add("row", device.row)
        .Add("name", device.name)
        .Add("address", device.address)
        .Add("last_config", IsoTime(device.lastConfigTransfer))
        .Add("last_firmware", IsoTime(device.lastFirmwareUpdate))
        .Add("last_log", IsoTime(device.lastLogCollection))
        .Add("next_log", IsoTime(device.nextLogCollection))
        .Text();
}

std::string OperationJson(const DeviceResult& result, Operation operation) {
    return ResultFields(result).Add("operation", RowOf(operation).name).Text();
}

std::string InventoryJson(const InventoryRow& row) {
    return JsonLine()
        .Add("name", row.name)
        .Add("address", row.address)
        .Add("model", row.model)
        .Add("version", row.version)
        .Add("startup", row.startupConfig)
        .Add("image", row.image)
        .Add("image_version", row.imageVersion)
        .Add("verdict", VerdictKey(row.verdict))
        .Add("reason", row.reason)
        .Text();
}

std::string BackupJson(const DeviceResult& result, const BackupResult& backup) {
    return ResultFields(result)
        .Add("stored", backup.stored)
        .Add("commit", backup.commit)
        .Add("added", backup.changes.added)
        .Add("removed", backup.changes.removed)
        .Text();
}

std::string DriftJson(const DeviceResult& result, const DriftResult& drift) {
    return ResultFields(result).Add("same", drift.same).Add("diff", drift.diff).Text();
}

std::string VersionJson(const std::string& name, const history::ConfigHistory::Version& version) {
    return JsonLine()
        .Add("name", name)
        .Add("time", IsoTime(version.time))
        .Add("commit", version.commit)
        .Add("added", version.changes.added)
        .Add("removed", version.changes.removed)
        .Text();
}

std::string DiffJson(const std::string& name, const std::string& from, const std::string& to,
                     const std::string& diff) {
    return JsonLine().Add("name", name).Add("from", from).Add("to", to).Add("diff", diff).Text();
}

}  // namespace quellin::console
