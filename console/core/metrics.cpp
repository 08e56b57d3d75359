#include "metrics.h"

#include "codec.h"
#include "file_replacement.h"

#include <map>

namespace quellin::console {
namespace {

// A label value: UTF-8 with backslash, quote and line feed escaped.
std::string Label(std::string_view cp932) {
    std::string out;
    for (char c : cp932::ToUtf8Lossy(cp932)) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

void Family(std::string& text, const char* name, const char* type, const char* help) {
    text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

bool Answered(const DeviceState& d) {
    if (d.inventoryTime >= d.backupTime && d.inventoryTime != 0)
        return d.verdict != "unreachable" && d.verdict != "login-failed";
    return d.backupOutcome == "done";
}

}  // namespace

std::string FleetMetrics(const std::vector<CBase*>& devices, const std::vector<DeviceState>& fleet,
                         const NoticeStates& kept) {
    std::map<std::string, const DeviceState*> found;
    for (const DeviceState& d : fleet)
        found[d.name] = &d;
    static const DeviceState kNone;
    static const NoticeDeviceState kNothingKept;
    struct Row {
        std::string labels;
        const DeviceState* state;
        const NoticeDeviceState* kept;
    };
    std::vector<Row> rows;
    for (const CBase* device : devices) {
        const auto f = found.find(device->name);
        const auto k = kept.find(device->name);
        rows.push_back(
            {"device=\"" + Label(device->name) + "\",address=\"" + Label(device->address) + "\"",
             f == found.end() ? &kNone : f->second, k == kept.end() ? &kNothingKept : &k->second});
    }
    std::string text;
    Family(text, "quellin_device_up", "gauge",
           "Whether the device answered the last inventory or backup that asked it.");
    for (const Row& r : rows)
        if (r.state->inventoryTime != 0 || r.state->backupTime != 0)
            text +=
                "quellin_device_up{" + r.labels + "} " + (Answered(*r.state) ? "1" : "0") + "\n";
    Family(text, "quellin_device_firmware_info", "gauge",
           "The model and firmware version the device runs, as the last inventory found.");
    for (const Row& r : rows)
        if (!r.state->version.empty())
            text += "quellin_device_firmware_info{" + r.labels + ",model=\"" +
                    Label(r.state->model) + "\",version=\"" + Label(r.state->version) + "\"} 1\n";
    Family(text, "quellin_device_verdict", "gauge",
           "The last inventory's verdict for the device (the verdict label is 1).");
    for (const Row& r : rows)
        if (!r.state->verdict.empty())
            text += "quellin_device_verdict{" + r.labels + ",verdict=\"" + Label(r.state->verdict) +
                    "\"} 1\n";
    Family(text, "quellin_backup_last_success_timestamp_seconds", "gauge",
           "When the device's configuration was last read and kept.");
    for (const Row& r : rows)
        if (r.kept->lastBackupOk != 0)
            text += "quellin_backup_last_success_timestamp_seconds{" + r.labels + "} " +
                    std::to_string(r.kept->lastBackupOk) + "\n";
    Family(text, "quellin_backup_changes_stored_total", "counter",
           "New configuration versions stored for the device.");
    for (const Row& r : rows)
        text += "quellin_backup_changes_stored_total{" + r.labels + "} " +
                std::to_string(r.kept->changesStored) + "\n";
    Family(text, "quellin_backup_failures_total", "counter", "Failed backups of the device.");
    for (const Row& r : rows)
        text += "quellin_backup_failures_total{" + r.labels + "} " +
                std::to_string(r.kept->backupFailures) + "\n";
    return text;
}

Result<void> WriteMetrics(const std::filesystem::path& file, const std::string& text) {
    return ReplaceFile(file, text, {.mode = 0644});
}

}  // namespace quellin::console
