#include "terminal_text.h"

#include "clock.h"
#include "codec.h"

#include <algorithm>
#include <cstdio>

namespace quellin::console {

std::string OutcomeText(const Outcome& outcome) {
    std::string text(ToString(outcome.kind));
    if (!outcome.message.empty())
        text += " (" + cp932::ToUtf8Lossy(outcome.message) + ")";
    if (!outcome.reason.empty())
        text += ": " + OneLine(outcome.reason);
    return text;
}

std::string Cell(std::string_view text) {
    std::string line;
    for (char c : cp932::ToUtf8Lossy(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            line += "\\r";
        } else if (c == '\n') {
            line += "\\n";
        } else if (c == '\t') {
            line += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            line += escape;
        } else {
            line += c;
        }
    }
    return line;
}

std::string OneLine(const std::string& reason, std::size_t maxBytes) {
    const std::string_view kept = cp932::Head(reason, maxBytes);
    std::string line = Cell(kept);
    if (kept.size() < reason.size())
        line += "...";
    return line;
}

std::string TimeText(std::int64_t time) {
    if (time == 0)
        return "-";
    std::string text = FormatLocalTime(time, "%Y/%m/%d %H:%M:%S");
    return text.empty() ? "-" : text;
}

std::string DeviceHeading() {
    return "row\tname\taddress\tlast config\tlast firmware\tlast log\tnext log\n";
}

std::string DeviceLine(const CBase& d) {
    return std::to_string(d.row) + "\t" + Cell(d.name) + "\t" + Cell(d.address) + "\t" +
           TimeText(d.lastConfigTransfer) + "\t" + TimeText(d.lastFirmwareUpdate) + "\t" +
           TimeText(d.lastLogCollection) + "\t" + TimeText(d.nextLogCollection) + "\n";
}

std::string InventoryHeading() {
    return "name\taddress\tmodel\tversion\tstartup\timage\tverdict\treason\n";
}

std::string InventoryLine(const InventoryRow& row) {
    return Cell(row.name) + "\t" + Cell(row.address) + "\t" + Cell(row.model) + "\t" + row.version +
           "\t" + Cell(row.startupConfig) + "\t" + Cell(CellText(row, InventoryColumn::kImage)) +
           "\t" + std::string(VerdictKey(row.verdict)) + "\t" + OneLine(row.reason) + "\n";
}

std::string VersionHeading() {
    return "time\tcommit\tlines\n";
}

std::string VersionLine(const history::ConfigHistory::Version& version) {
    return TimeText(version.time) + "\t" + history::ShortCommit(version.commit) + "\t+" +
           std::to_string(version.changes.added) + " -" + std::to_string(version.changes.removed) +
           "\n";
}

std::string BackupText(const BackupResult& result) {
    if (!result.outcome.done())
        return OutcomeText(result.outcome);
    if (!result.stored)
        return "unchanged";
    return "stored " + history::ShortCommit(result.commit) + " (+" +
           std::to_string(result.changes.added) + " -" + std::to_string(result.changes.removed) +
           ")";
}

std::string DriftText(const DriftResult& result) {
    if (result.outcome.kind == OutcomeKind::kNothingToDo)
        return "skipped (no configuration file is registered)";
    if (!result.outcome.done())
        return OutcomeText(result.outcome);
    return result.same ? "same" : "differs";
}

std::string BackupSummary(const std::vector<BackupResult>& results) {
    const auto failed = std::ranges::count_if(results, [](auto& r) { return !r.outcome.done(); });
    const auto stored = std::ranges::count_if(results, [](auto& r) { return r.stored; });
    return "backup: " + std::to_string(stored) + " stored, " +
           std::to_string(std::ssize(results) - stored - failed) + " unchanged, " +
           std::to_string(failed) + " failed\n";
}

std::string DriftSummary(const std::vector<DriftResult>& results) {
    std::string text;
    std::size_t counts[4] = {};  // differ, same, without a file, failed
    for (const DriftResult& result : results) {
        const bool skipped = result.outcome.kind == OutcomeKind::kNothingToDo;
        const int kind = skipped ? 2 : !result.outcome.done() ? 3 : result.same ? 1 : 0;
        ++counts[kind];
        if (kind == 0)
            text += "\n" + cp932::ToUtf8Lossy(result.diff);
    }
    return text + (counts[0] > 0 ? "\n" : "") + "drift: " + std::to_string(counts[0]) +
           " differ, " + std::to_string(counts[1]) + " same, " + std::to_string(counts[2]) +
           " without a configuration file, " + std::to_string(counts[3]) + " failed\n";
}

}  // namespace quellin::console
