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
    const history::RunningConfiguration read = history::ReadRunningConfiguration(
        device.address, router.app().settings().loginId, device.password, router.timings().telnet);
    if (read.failure)
        return Outcome::Failed(kConfigReadFailed,
                               FormatTelnetFailure(*read.failure) +
                                   LimitNote(*read.failure, kConfigurationOutputLimit));
    if (!read.text)
        return Outcome::Failed(kConfigReadFailed,
                               "the answer to \"show config\" ends without a prompt line");
    text = *read.text;
    return {};
}

BackupResult BackUp(const CBase& device, const RouterMaintenance& router,
                    history::ConfigHistory& store, Reporter& reporter, std::int64_t now) {
    BackupResult result;
    std::string text;
    result.outcome = ReadRunningConfiguration(device, router, text);
    if (result.outcome.done()) {
        const history::ConfigHistory::Stored stored = store.Store(device.name, text, now);
        switch (stored.kind) {
            case history::ConfigHistory::Stored::Kind::kCommitted: {
                result.stored = true;
                result.commit = stored.commit;
                std::string error;
                if (auto versions = store.History(device.name, error);
                    versions && !versions->empty())
                    result.changes = versions->front().changes;
                reporter.Report(device.name, BackupStoredLine(stored.commit), MSG_LOG);
                return result;
            }
            case history::ConfigHistory::Stored::Kind::kUnchanged:
                reporter.Report(device.name, cp932::Jp(kBackupUnchanged), MSG_LOG);
                return result;
            case history::ConfigHistory::Stored::Kind::kFailed:
                result.outcome = Outcome::Failed(kBackupFailed, stored.error);
                break;
        }
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
    std::string reason;
    const std::optional<std::string> registered =
        history::ReadConfigFile(device.configFile, reason);
    if (!registered) {
        result.outcome = Outcome::Failed("構成定義ファイルが見つかりません。", reason);
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
