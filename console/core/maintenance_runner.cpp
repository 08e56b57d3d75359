#include "maintenance_runner.h"

#include "clock.h"
#include "codec.h"
#include "config_file.h"
#include "file_descriptor.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace quellin::console {
namespace {

const OperationRow kRows[] = {
    {"apply-config", "即時反映を開始しました。", "即時反映を終了しました。",
     "複数装置の即時反映を終了しました。", &CBase::lastConfigTransfer, true, false},
    {"apply-config", "構成定義のスケジュール反映を開始しました。",
     "構成定義のスケジュール反映を終了しました。",
     "複数装置の構成定義スケジュール反映を終了しました。", &CBase::lastConfigTransfer, true, true},
    {"update-firmware", "ソフトウェア更新を開始しました。", "ソフトウェア更新を終了しました。",
     "複数装置のソフトウェア更新を終了しました。", &CBase::lastFirmwareUpdate, false, false},
    {"update-firmware", "ソフトウェアのスケジュール実行を開始しました。",
     "ソフトウェアのスケジュール実行を終了しました。",
     "複数装置のソフトウェアスケジュール実行を終了しました。", &CBase::lastFirmwareUpdate, false,
     true},
    {"collect-log", "ログ採取を開始しました。", "ログ採取を終了しました。",
     "複数装置のログ採取を終了しました。", &CBase::lastLogCollection, false, false},
};

Outcome Work(RouterOperations& router, Operation operation, const OperationContext& context) {
    const bool scheduled = RowOf(operation).scheduled;
    switch (operation) {
        case Operation::kApplyConfig:
        case Operation::kApplyConfigAt:
            return router.ApplyConfig(context, scheduled);
        case Operation::kUpdateFirmware:
        case Operation::kUpdateFirmwareAt:
            return router.UpdateFirmware(context, scheduled);
        default:
            return router.CollectLog(context);
    }
}

// 0 when the file opens for reading and is no folder, else the errno.
// A configuration file is a regular file of a configuration's size; a
// FIFO must not hold the run (hence the open without blocking), a folder
// or a device file is no configuration.
int ConfigFileError(const std::string& path) {
    UniqueFd fd(::open(cp932::ToPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return errno;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        return errno;
    if (S_ISDIR(info.st_mode))
        return EISDIR;
    if (!S_ISREG(info.st_mode))
        return EINVAL;
    return info.st_size > static_cast<off_t>(history::kConfigFileLimit) ? EFBIG : 0;
}

Outcome Check(const MaintenanceTarget& target, const OperationRow& row) {
    if (target.address.empty())
        return Outcome::Failed("IPアドレスが設定されていません。");
    if (!row.needsConfigFile)
        return {};
    if (target.configFile.empty())
        return Outcome::Failed(
            "構成定義ファイルが見つかりません。",
            {ErrorCode::kNotFound, "no configuration file is registered for the device"});
    if (const int error = ConfigFileError(target.configFile); error != 0)
        return Outcome::Failed("構成定義ファイルが見つかりません。",
                               SystemError(error, target.configFile));
    return {};
}

}  // namespace

const OperationRow& RowOf(Operation operation) {
    return kRows[static_cast<int>(operation)];
}

Outcome MaintenanceRunner::Run(CBase& device, Operation operation, RunMode mode,
                               const std::string& scheduleTime,
                               const std::function<void()>& stamped) const {
    const OperationRow& row = RowOf(operation);
    const MaintenanceTarget target =
        TargetFor(device, row.scheduled ? scheduleTime : std::string());
    const bool attended = mode == RunMode::kAttended;
    const unsigned notice = attended ? MSG_LOG | MSG_BOX : MSG_LOG;
    const std::string prefix = mode == RunMode::kSchedule ? cp932::Jp("[スケジュール実行] ") : "";
    const bool asks = attended || mode == RunMode::kAnsweredInAdvance;

    Outcome outcome;
    auto work = [&] {
        const OperationContext context{
            target, asks ? &questions_ : nullptr,
            [&](const std::string& line) { reporter_.Report(target.name, line, MSG_LOG); }};
        outcome = Work(router_, operation, context);
    };
    if (attended) {
        // A failed check only shows its box: nothing was started.
        outcome = Check(target, row);
        if (!outcome.done()) {
            reporter_.Report(target.name, outcome.message, MSG_BOX);
            return outcome;
        }
        reporter_.Report(target.name, cp932::Jp(row.opening), MSG_LOG);
        waiter_.Run(work);
    } else {
        const char* waitText = mode == RunMode::kSchedule
                                   ? "ログ採取スケジュール実行中。しばらくお待ちください ･･･"
                                   : "しばらくお待ちください ･･･";
        waiter_.RunForDevice(target.name, cp932::Jp(waitText), [&] {
            reporter_.Report(target.name, prefix + cp932::Jp(row.opening), MSG_LOG);
            outcome = Check(target, row);
            if (outcome.done())
                work();
        });
    }
    if (!outcome.done()) {
        if (!outcome.message.empty())
            reporter_.Report(target.name, outcome.message, notice);
        return outcome;
    }
    device.*row.stamp = CurrentClock().Now();
    if (stamped)
        stamped();
    reporter_.Report(target.name, prefix + cp932::Jp(row.closing), notice);
    return outcome;
}

}  // namespace quellin::console
