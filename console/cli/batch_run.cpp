#include "batch_run.h"

#include "clock.h"
#include "codec.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

namespace quellin::cli {
namespace {

using console::MSG_LOG;

const OperationTexts kTexts[] = {
    {"即時反映を開始しました。", "即時反映を終了しました。", "複数装置の即時反映を終了しました。",
     &CBase::lastConfigTransfer, true, false},
    {"構成定義のスケジュール反映を開始しました。", "構成定義のスケジュール反映を終了しました。",
     "複数装置の構成定義スケジュール反映を終了しました。", &CBase::lastConfigTransfer, true, true},
    {"ソフトウェア更新を開始しました。", "ソフトウェア更新を終了しました。",
     "複数装置のソフトウェア更新を終了しました。", &CBase::lastFirmwareUpdate, false, false},
    {"ソフトウェアのスケジュール実行を開始しました。",
     "ソフトウェアのスケジュール実行を終了しました。",
     "複数装置のソフトウェアスケジュール実行を終了しました。", &CBase::lastFirmwareUpdate, false,
     true},
    {"ログ採取を開始しました。", "ログ採取を終了しました。", "複数装置のログ採取を終了しました。",
     &CBase::lastLogCollection, false, false},
};

// A configuration file is rewritten in place before its upload, so devices
// sharing one file take turns with it: each uploads the file as its own
// conversion left it.
class ConfigFileTurns {
public:
    ConfigFileTurns(const CList<CBase>& devices, const std::vector<std::size_t>& selected) {
        for (std::size_t index : selected)
            turns_[Key(devices[index].configFile)];
    }
    std::mutex& For(const std::string& configFile) { return turns_.at(Key(configFile)); }

private:
    static std::string Key(const std::string& configFile) {
        std::error_code ec;
        auto path = std::filesystem::weakly_canonical(cp932::ToPath(configFile), ec);
        return ec ? configFile : path.string();
    }
    std::map<std::string, std::mutex> turns_;
};

DeviceOutcome RunOne(const BatchRequest& request, const OperationTexts& texts, CBase& device,
                     console::Maintenance& maintenance, console::Reporter& reporter,
                     ConfigFileTurns& turns) {
    const auto target =
        console::TargetFor(device, texts.scheduled ? request.scheduleTime : std::string());
    reporter.Report(device.name, cp932::Jp(texts.opening), MSG_LOG);
    DeviceOutcome outcome = DeviceOutcome::kFailed;
    if (!maintenance.CheckAddress(target, true)) {
        outcome = DeviceOutcome::kFailed;
    } else if (texts.needsConfigFile) {
        if (maintenance.CheckConfigFile(target, true)) {
            std::lock_guard turn(turns.For(device.configFile));
            if (maintenance.ApplyConfig(target, texts.scheduled, true))
                outcome = DeviceOutcome::kSucceeded;
        }
    } else if (request.operation == Operation::kCollectLog) {
        if (maintenance.CollectLog(target, true))
            outcome = DeviceOutcome::kSucceeded;
    } else {
        const int result = maintenance.UpdateSoftware(target, texts.scheduled, true);
        if (result == console::kUpdateNoNewer)
            outcome = DeviceOutcome::kUnchanged;
        else if (result != console::kUpdateFailed)
            outcome = DeviceOutcome::kSucceeded;
    }
    if (outcome == DeviceOutcome::kSucceeded) {
        device.*texts.stamp = CurrentClock().Now();
        reporter.Report(device.name, cp932::Jp(texts.closing), MSG_LOG);
    }
    return outcome;
}

}  // namespace

const OperationTexts& TextsFor(Operation operation) {
    return kTexts[static_cast<std::size_t>(operation)];
}

BatchResult RunBatch(const BatchRequest& request, CList<CBase>& devices,
                     const std::vector<std::size_t>& selected, console::Reporter& reporter) {
    const OperationTexts& texts = TextsFor(request.operation);
    BatchResult result;
    result.outcomes.assign(selected.size(), DeviceOutcome::kFailed);
    ConfigFileTurns turns(devices, selected);

    std::atomic<std::size_t> next{0};
    std::mutex progressLock;
    std::size_t finished = 0;
    auto work = [&] {
        auto maintenance = request.makeMaintenance();
        for (std::size_t i = next++; i < selected.size(); i = next++) {
            CBase& device = devices.at(selected[i]);
            const DeviceOutcome outcome =
                RunOne(request, texts, device, *maintenance, reporter, turns);
            result.outcomes[i] = outcome;
            std::lock_guard lock(progressLock);
            ++finished;
            if (request.progress)
                request.progress({device, outcome, finished, selected.size()});
        }
    };

    const std::size_t workers =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(request.jobs, 1)),
                              std::max<std::size_t>(selected.size(), 1));
    if (workers == 1) {
        work();
    } else {
        std::vector<std::jthread> threads;
        threads.reserve(workers);
        for (std::size_t i = 0; i < workers; ++i)
            threads.emplace_back(work);
    }
    result.failed = std::ranges::any_of(
        result.outcomes, [](DeviceOutcome o) { return o == DeviceOutcome::kFailed; });
    return result;
}

}  // namespace quellin::cli
