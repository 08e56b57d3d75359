// The fleet's inventory: what every registered router is and runs, and what
// a firmware update would do to it now.  One row per device, gathered from
// many devices at once; the same table for the command line and the
// console's inventory window, with its sort orders and its CSV form.
#pragma once

#include "device_registry.h"
#include "outcome.h"

#include <functional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace quellin::console {

enum class InventoryVerdict {
    kUpToDate,         // the newest image for the model is the version it runs
    kUpdateAvailable,  // a newer image would be given
    kDowngrade,        // the newest image is older than what it runs
    kGated,            // a legacy model that never takes an image below V30.00
    kNoImage,          // no image for the model (or the folder cannot be read)
    kLoginFailed,      // the router answered but refused the password
    kUnreachable,      // not identified: no address, no answer, ...
    kNotAsked,         // the run was stopped before the device was asked
};

// "up-to-date", "update-available", "downgrade", "gated", "no-image",
// "login-failed", "unreachable", "not-asked": for scripts.
std::string_view VerdictKey(InventoryVerdict verdict);

// One device's line.  Texts are CP932.
struct InventoryRow {
    int row = 0;  // the device's row in base.db
    std::string name;
    std::string address;
    std::string model;          // as the router reports it
    std::string version;        // "V%02d.%02d", empty when not identified
    std::string startupConfig;  // "config1" or "config2"
    std::string image;          // the file a firmware update would choose; empty for none
    std::string imageVersion;   // its version
    InventoryVerdict verdict = InventoryVerdict::kUnreachable;
    std::string reason;  // why unreachable, or why no image (may be empty)

    bool operator==(const InventoryRow&) const = default;
};

// The verdict as the window and the CSV show it (CP932): "最新",
// "更新あり", "ダウングレード", "更新対象外 (旧機種)",
// "ソフトウェアなし", "ログイン失敗", "接続不可", "未取得".
std::string VerdictText(InventoryVerdict verdict);

// The table's columns, in their order.
enum class InventoryColumn {
    kName,
    kAddress,
    kModel,
    kVersion,
    kStartup,
    kImage,
    kVerdict,
    kReason,
};
inline constexpr int kInventoryColumns = 8;

// The column headings (CP932).
std::string ColumnHeading(InventoryColumn column);
// A row's text in a column (CP932): the image column holds the file name
// and its version, the verdict column the verdict with the image version
// when there is one ("更新あり V30.10").
std::string CellText(const InventoryRow& row, InventoryColumn column);

// Sorts stably by the column: addresses by their numbers, verdicts by
// their order above, everything else by its bytes; ties stay in row order.
void SortRows(std::vector<InventoryRow>& rows, InventoryColumn column, bool ascending);

// The table as CSV (RFC 4180 quoting, CR LF line ends, a heading line):
// CP932 as every file of the system, or UTF-8 on request, for a file with a
// byte-order mark so that spreadsheets take it as UTF-8.
enum class CsvEncoding { kCp932, kUtf8, kUtf8WithBom };
std::string InventoryCsv(const std::vector<InventoryRow>& rows, CsvEncoding encoding);

class RouterMaintenance;

// The device's row: its identification, as every operation starts with it,
// and the image a firmware update would choose for it now; the dialogue is
// given up when `stop` is requested.  Texts that came from the router or
// the layers below are on one line.
InventoryRow ProbeDevice(const CBase& device, const RouterMaintenance& router,
                         std::stop_token stop = {});
// The row of a device that was not asked.
InventoryRow NotAskedRow(const CBase& device);

// How a run asks one device for its row (ProbeDevice over a router, or a
// test's own).
using InventoryProbe = std::function<InventoryRow(const CBase& device, std::stop_token stop)>;

// The row as a device job's outcome: failed when the device could not be
// identified.
Outcome OutcomeOf(const InventoryRow& row);

}  // namespace quellin::console
