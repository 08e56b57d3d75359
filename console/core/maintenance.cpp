#include "maintenance.h"

#include "clock.h"
#include "codec.h"
#include "file_replacement.h"
#include "operation_log.h"

#include <cerrno>
#include <thread>

namespace quellin::console {
namespace {

constexpr char kFtpUser[] = "ftp-admin";

}  // namespace

Error NoteLimit(Error error, std::size_t limit) {
    if (error.code == ErrorCode::kTooLong)
        error.detail += cp932::Jp(" (応答が上限の ") + std::to_string(limit >> 10) +
                        cp932::Jp(" KiB を超えました)");
    return error;
}

MaintenanceTarget TargetFor(const CBase& device, std::string scheduleTime) {
    return {device.address, device.password, device.configFile, std::move(scheduleTime),
            device.name};
}

std::string ScheduledConfigCommand(bool gated, const std::string& time, const std::string& slot) {
    if (gated)
        return "addact 0 " + time + " reset " + slot + "\r\nenable";
    return "configure\r\naddact 0 " + time + " reset " + slot + "\r\ncommit\r\nexit";
}

std::string SoftwareRestartCommand(bool gated) {
    return gated ? "save config1\r\nreset" : "configure\r\nsave config1\r\nreset";
}

std::string ScheduledSoftwareCommand(bool gated, const std::string& time) {
    if (gated)
        return "save config1\r\naddact 0 " + time + " reset\r\nenable";
    return "configure\r\nsave config1\r\naddact 0 " + time + " reset\r\ncommit\r\nexit";
}

RouterMaintenance::RouterMaintenance(const ConsoleApp& app, RouterTimings timings)
    : app_(app),
      timings_(timings),
      sleep_([](std::chrono::milliseconds wait) { std::this_thread::sleep_for(wait); }) {
    timings_.telnet.deadline = std::chrono::seconds(app.settings().telnetDeadline);
}

Outcome RouterMaintenance::Identify(const MaintenanceTarget& target, DeviceIdentity& identity,
                                    std::stop_token stop, bool* loginRefused) const {
    TelnetOptions options = timings_.telnet;
    options.stop = std::move(stop);
    Result<DeviceIdentity> identified =
        IdentifyDevice(target.address, app_.settings().loginId, target.password,
                       SystemInformationRules::kConsole, options);
    if (loginRefused != nullptr)
        *loginRefused = !identified && identified.error().code == ErrorCode::kLoginRefused;
    if (identified) {
        identity = std::move(*identified);
        return {};
    }
    identity = DeviceIdentity{};
    const Error& error = identified.error();
    if (error.code == ErrorCode::kFormat)
        return Outcome::Failed("装置情報の確認に失敗しました。", error);
    if (error.code == ErrorCode::kLoginRefused)
        return Outcome::Failed(
            "装置情報の取得に失敗しました。",
            {error.code, cp932::Jp("ログインが拒否されました (パスワードの誤り)")});
    return Outcome::Failed("装置情報の取得に失敗しました。",
                           NoteLimit(error, kIdentificationOutputLimit));
}

Outcome RouterMaintenance::RunCommand(const MaintenanceTarget& target, const std::string& command,
                                      std::string_view failureMessage, std::string* output) const {
    CTelnetSession session(timings_.telnet);
    Result<std::string> answer =
        session.Run(target.address, app_.settings().loginId, target.password, command);
    if (!answer)
        return Outcome::Failed(failureMessage, answer.error());
    if (output != nullptr)
        *output = std::move(*answer);
    return {};
}

Outcome RouterMaintenance::Upload(const MaintenanceTarget& target, const std::string& localPath,
                                  const std::string& remoteName,
                                  std::string_view failureMessage) const {
    if (Result<void> uploaded = UploadFile(target.address, kFtpUser, target.password, localPath,
                                           remoteName, timings_.ftpPort, true, timings_.ftp);
        !uploaded)
        return Outcome::Failed(failureMessage, uploaded.error());
    return {};
}

Outcome RouterMaintenance::ApplyConfig(const OperationContext& context, bool scheduled) {
    const MaintenanceTarget& target = context.target;
    DeviceIdentity identity;
    if (Outcome identified = Identify(target, identity); !identified.done())
        return identified;
    const bool startsFromConfig1 =
        identity.startupConfig.size() > 6 && identity.startupConfig[6] == '1';
    const std::string slot = startsFromConfig1 ? "config2" : "config1";

    if (Result<void> converted = ConvertNewlinesInPlace(target.configFile); !converted)
        return Outcome::Failed("構成定義ファイルの改行変換に失敗しました。", converted.error());
    if (Outcome uploaded =
            Upload(target, target.configFile, slot, "構成定義ファイルの転送に失敗しました。");
        !uploaded.done())
        return uploaded;
    if (!scheduled) {
        Outcome restarted = RunCommand(target, "reset " + slot, "再起動に失敗しました。");
        if (restarted.done())
            sleep_(timings_.configRestartWait);
        return restarted;
    }
    return RunCommand(target,
                      ScheduledConfigCommand(IsGatedModel(identity), target.scheduleTime, slot),
                      "構成定義のスケジュール反映に失敗しました。");
}

FirmwareChoice RouterMaintenance::ChooseFirmware(const DeviceIdentity& device) const {
    return quellin::ChooseFirmware(app_.settings().firmDir, device, app_.conversionTable(),
                                   kConsoleFirmwareRules);
}

Outcome RouterMaintenance::UpdateFirmware(const OperationContext& context, bool scheduled) {
    const MaintenanceTarget& target = context.target;
    DeviceIdentity own;
    if (Outcome identified = Identify(target, own); !identified.done())
        return identified;
    const FirmwareChoice choice = ChooseFirmware(own);
    switch (choice.verdict) {
        case FirmwareChoice::Verdict::kFolderUnreadable:
            return Outcome::Failed("ソフトウェア格納フォルダの設定に誤りがあります。",
                                   choice.FolderError());
        case FirmwareChoice::Verdict::kNoImage:
        case FirmwareChoice::Verdict::kGated:
        case FirmwareChoice::Verdict::kSameVersion:
            return {OutcomeKind::kNothingToDo,
                    cp932::Jp("新しいソフトウェアファイルはありません。"), choice.reason};
        case FirmwareChoice::Verdict::kUpdate:
            break;
    }
    const FirmwareUpdateQuestion question{target.name, FormatVersion(own.major, own.minor),
                                          FormatVersion(choice.major, choice.minor),
                                          choice.downgrade};
    if (context.questions != nullptr) {
        Answer answer = context.questions->ConfirmFirmwareUpdate(question);
        if (!answer.yes)
            return {OutcomeKind::kDeclined, cp932::Jp("ソフトウェア更新を中止しました。"),
                    std::move(answer.reason)};
    }
    context.log(FirmwareUpdateText(question));

    if (Outcome uploaded = Upload(target, cp932::FromPath(choice.image), "firmware",
                                  "ソフトウェアファイルの転送に失敗しました。");
        !uploaded.done())
        return uploaded;
    const bool gated = IsGatedModel(own);
    if (!scheduled) {
        Outcome restarted =
            RunCommand(target, SoftwareRestartCommand(gated), "再起動に失敗しました。");
        if (restarted.done())
            sleep_(timings_.firmwareRestartWait);
        return restarted;
    }
    return RunCommand(target, ScheduledSoftwareCommand(gated, target.scheduleTime),
                      "ソフトウェアのスケジュール実行に失敗しました。");
}

Outcome RouterMaintenance::CollectLog(const OperationContext& context) {
    const MaintenanceTarget& target = context.target;
    DeviceIdentity identity;
    if (Outcome identified = Identify(target, identity); !identified.done())
        return identified;
    std::string output;
    const char* command = IsGatedModel(identity) ? "tech-support" : "show tech-support";
    if (Outcome collected = RunCommand(target, command, "ログ採取に失敗しました。", &output);
        !collected.done())
        return collected;
    const std::string stamp = FormatLocalTime(CurrentClock().Now(), "%Y%m%d%H%M%S");
    const std::string path =
        app_.settings().logDir + "/" + LogFileStem(target.name) + "-" + stamp + ".log";
    // The bytes as received: the router's CR LF lines stay CR LF.  A second
    // collection within the same second replaces the first.
    if (!ReplaceFile(cp932::ToPath(path), output))
        return Outcome::Failed("ログ採取結果の書込みに失敗しました。", SystemError(errno, path));
    return {};
}

}  // namespace quellin::console
