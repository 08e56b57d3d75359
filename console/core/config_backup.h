// The configuration history's work on one device: its running
// configuration read and stored (a backup), or held against its registered
// configuration file (drift).  Each writes its line to the device's
// operation log.
#pragma once

#include "config_history.h"
#include "device_registry.h"
#include "maintenance.h"
#include "outcome.h"
#include "report.h"

#include <cstdint>
#include <string>

namespace quellin::console {

// Operation-log lines (UTF-8 literals, written as CP932).
inline constexpr char kConfigReadFailed[] = "構成定義の取得に失敗しました。";
inline constexpr char kBackupFailed[] = "構成定義のバックアップに失敗しました。";
inline constexpr char kBackupUnchanged[] = "構成定義に変更はありません。";
inline constexpr char kConfigDrifted[] = "構成定義が構成定義ファイルと異なります。";
// "構成定義の新しい版 <commit> をバックアップしました。"
std::string BackupStoredLine(const std::string& commit);

// The device's running configuration ("show config"), LF lines: done with
// the text, or failed with the reason.
Outcome ReadRunningConfiguration(const CBase& device, const RouterMaintenance& router,
                                 std::string& text);

struct BackupResult {
    Outcome outcome;  // done, also when nothing changed
    bool stored = false;
    std::string commit;  // the new version, when stored
    history::LineChanges changes;
};
// Reads the configuration and stores it in the history at `now`.
BackupResult BackUp(const CBase& device, const RouterMaintenance& router,
                    history::ConfigHistory& store, Reporter& reporter, std::int64_t now);

struct DriftResult {
    // done when compared; nothing to do for a device without a registered
    // configuration file.
    Outcome outcome;
    bool same = true;
    std::string diff;  // from the registered file to the running configuration
};
// Reads the configuration and holds it against the registered file.
DriftResult CheckDrift(const CBase& device, const RouterMaintenance& router, Reporter& reporter);

}  // namespace quellin::console
