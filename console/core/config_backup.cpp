#include "config_backup.h"

#include "codec.h"
#include "config_file.h"
#include "running_config.h"

namespace quellin::console {

std::string BackupStoredLine(const std::string& commit) {
    return cp932::Jp("構成定義の新しい版 ") + history::ShortCommit(commit) +
           cp932::Jp(" をバックアップしました。");
}

Outcome ReadRunningConfiguration(const CBase& device, const RouterMaintenance& router,
                                 std::string& text) {
    if (device.address.empty())
        return Outcome::Failed("IPアドレスが設定されていません。");
    Result<std::string> read = history::ReadRunningConfiguration(
        device.address, router.app().settings().loginId, device.password, router.timings().telnet);
    if (!read)
        return Outcome::Failed(kConfigReadFailed,
                               NoteLimit(read.error(), kConfigurationOutputLimit));
    text = std::move(*read);
    return {};
}

BackupResult BackUp(const CBase& device, const RouterMaintenance& router,
                    history::ConfigHistory& store, Reporter& reporter, std::int64_t now) {
    BackupResult result;
    std::string text;
    result.outcome = ReadRunningConfiguration(device, router, text);
    if (result.outcome.done()) {
        Result<history::ConfigHistory::Stored> stored = store.Store(device.name, text, now);
        if (stored && stored->committed) {
            result.stored = true;
            result.commit = stored->commit;
            if (auto versions = store.History(device.name); versions && !versions->empty())
                result.changes = versions->front().changes;
            reporter.Report(device.name, BackupStoredLine(stored->commit), MSG_LOG);
            return result;
        }
        if (stored) {
            reporter.Report(device.name, cp932::Jp(kBackupUnchanged), MSG_LOG);
            return result;
        }
        result.outcome = Outcome::Failed(kBackupFailed, stored.error());
    }
    reporter.Report(device.name, cp932::Jp(kBackupFailed), MSG_LOG);
    return result;
}

DriftResult CheckDrift(const CBase& device, const RouterMaintenance& router, Reporter& reporter) {
    DriftResult result;
    // A device without a registered file has nothing to drift from.
    if (device.configFile.empty()) {
        result.outcome = {OutcomeKind::kNothingToDo,
                          cp932::Jp("構成定義ファイルが見つかりません。"),
                          "no configuration file is registered"};
        return result;
    }
    const Result<std::string> registered = history::ReadConfigFile(device.configFile);
    if (!registered) {
        result.outcome = Outcome::Failed("構成定義ファイルが見つかりません。", registered.error());
        reporter.Report(device.name, result.outcome.message, MSG_LOG);
        return result;
    }
    std::string running;
    result.outcome = ReadRunningConfiguration(device, router, running);
    if (!result.outcome.done()) {
        reporter.Report(device.name, result.outcome.message, MSG_LOG);
        return result;
    }
    const history::Drift drift = history::CompareWithRegistered(
        running, *registered, device.configFile, device.name + cp932::Jp(" (稼働中)"));
    result.same = drift.same;
    result.diff = drift.diff;
    if (!drift.same)
        reporter.Report(device.name, cp932::Jp(kConfigDrifted), MSG_LOG);
    return result;
}

}  // namespace quellin::console
