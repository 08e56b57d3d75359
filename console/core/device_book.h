// The registered devices as the console and the command line keep them: base.db
// loaded into memory, found, registered, unregistered and saved whole; and
// the log-collection schedule of each device (next run, interval, count),
// changed only here.
#pragma once

#include "device_registry.h"
#include "questions.h"
#include "report.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quellin::console {

// A device's texts as typed, CP932.  `address` is an IP control's text
// ("0.0.0.0" when the control is empty).
struct DeviceFields {
    std::string name;
    std::string address;
    std::string password;
    std::string accessId;
    std::string accessPassword;
    std::string configFile;

    bool operator==(const DeviceFields&) const = default;
};

inline constexpr std::size_t kMaxFieldBytes = 64;

class DeviceBook {
public:
    // registryPath: base.db (CP932); rows: MAXROWS.
    DeviceBook(std::string registryPath, int rows);

    // Pads base.db to the row count and loads it.  The list always ends up
    // with `rows` devices numbered from 1, even when the file cannot be read.
    // Devices in rows beyond are kept for the saves, not listed; the operator
    // is told so, and told when MAXROWS was above the limit.
    void Load(Reporter& reporter, bool maxRowsOverLimit);
    // Loads base.db as it stands, writing nothing (for readers beside the
    // console); false when it cannot be read.
    bool LoadAsItStands();
    // Writes the whole list back, and after it the rows beyond that hold a
    // device, unchanged; false when it failed.
    bool Save();

    int rowCount() const { return static_cast<int>(devices_.size()); }
    CList<CBase>& devices() { return devices_; }
    CBase& device(int index) { return devices_.at(static_cast<std::size_t>(index)); }
    // The index of the device of that name; of the first row without one.
    std::optional<int> Find(const std::string& name) const;
    std::optional<int> FirstFree() const;

    // The checks every registration passes, in order: the first one's
    // message (CP932), or nullopt when the fields are fine.  The access ID
    // must not be another row's.
    std::optional<std::string> Check(const DeviceFields& fields, int ownRow) const;
    // Stores the fields that differ into the record; true when any did.
    static bool Store(CBase& device, const DeviceFields& fields);
    // "装置情報を設定しました。装置名：NAME" under the tool's name.
    static void LogSettingsChanged(Reporter& reporter, const std::string& name);
    // A name stored into an empty row: "装置を登録しました。" in the device's
    // log, with "装置名：NAME" after it in the tool's.
    static void LogRegistered(Reporter& reporter, const std::string& name);
    // "装置の登録を削除しました。", as LogRegistered logs.
    static void LogUnregistered(Reporter& reporter, const std::string& name);
    // After the deletion question: empties the device's six texts (its
    // times and schedule stay).  False when the answer was no.
    static bool Unregister(CBase& device, Questions& questions);

    // The log schedule.
    static bool HasLogSchedule(const CBase& device) {
        return !device.name.empty() && device.logInterval != 0;
    }
    // The first run comes one interval after `now`.
    static void SetLogSchedule(CBase& device, std::int64_t now, int intervalSeconds, int count);
    static void ClearLogSchedule(CBase& device);
    // After a scheduled run, whatever its outcome: stamped with `now`; the
    // next time advances from the planned one, or the schedule ends after
    // its last run.
    static void AdvanceLogSchedule(CBase& device, std::int64_t now);
    // Cancels the schedules whose time has passed; true when any changed.
    bool DropExpiredLogSchedules(std::int64_t now);
    // The devices due at `now`, earliest first, ties in row order.
    std::vector<CBase*> DueLogCollections(std::int64_t now);

private:
    std::string registryPath_;
    int rows_;
    CList<CBase> devices_;
    std::vector<std::string> rowsBeyond_;  // as they stand in base.db
};

// The IP control's text: four numbers 0-255, blanks read as 0; empty gives
// "0.0.0.0".
std::string IpControlText(const std::string& typed);

}  // namespace quellin::console
