// The console's results as a terminal shows them (UTF-8): a text per cell of
// a tab-separated table, a reason on one line, an outcome in words.
#pragma once

#include "config_backup.h"
#include "inventory.h"
#include "outcome.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quellin::console {

// A text (CP932) as one cell: tabs, line ends and other control characters
// shown as escapes ("\t", "\n", "\x1B"), so that no text from a router or
// base.db can forge a cell or a row.
std::string Cell(std::string_view text);

// A reason (CP932) on one line, escaped as Cell does, cut after maxBytes
// with "...".
std::string OneLine(const std::string& reason, std::size_t maxBytes = 300);

// "done", "nothing-to-do", "declined" or "failed", then " (MESSAGE)" and
// ": REASON" when there are such.
std::string OutcomeText(const Outcome& outcome);

// "-" for never, else local "YYYY/MM/DD hh:mm:ss".
std::string TimeText(std::int64_t time);

// The tables' headings and lines, each ending in "\n".
std::string DeviceHeading();
std::string DeviceLine(const CBase& device);
std::string InventoryHeading();
std::string InventoryLine(const InventoryRow& row);
std::string VersionHeading();
std::string VersionLine(const history::ConfigHistory::Version& version);

// A device's end of a backup ("stored COMMIT (+A -R)", "unchanged", or the
// failure) and of a drift check ("same", "differs", "skipped (...)", or the
// failure).
std::string BackupText(const BackupResult& result);
std::string DriftText(const DriftResult& result);

// What a run ends with: "backup: S stored, U unchanged, F failed\n"; the
// diffs of the devices that differ, then "drift: D differ, S same, N
// without a configuration file, F failed\n".
std::string BackupSummary(const std::vector<BackupResult>& results);
std::string DriftSummary(const std::vector<DriftResult>& results);

}  // namespace quellin::console
