#include "maintenance.h"

#include "clock.h"
#include "codec.h"
#include "file_replacement.h"
#include "image_folder.h"
#include "operation_log.h"

#include <algorithm>
#include <cerrno>
#include <thread>

namespace quellin::console {
namespace {

constexpr char kFtpUser[] = "ftp-admin";

std::string WithoutDashes(std::string text) {
    std::erase(text, '-');
    return text;
}

bool Newer(std::int32_t major, std::int32_t minor, const DeviceIdentity& than) {
    return major > than.major || (major == than.major && minor > than.minor);
}

// The image model as the search compares it: without dashes, an alias
// replaced by the device model it serves.
std::string SearchModel(const std::string& imageModel) {
    std::string model = WithoutDashes(imageModel);
    for (const ModelAlias& alias : ModelAliasTable) {
        if (model == WithoutDashes(alias.imageModel))
            return WithoutDashes(alias.deviceModel);
    }
    return model;
}

// "FOLDER に MODEL のソフトウェアファイルがありません", with the first file
// that is no image.  Hidden files (a ".keep" that holds the folder in a
// repository, say) are nobody's image and go unmentioned.
std::string NoImageReason(const std::string& model, const std::string& folder,
                          const std::vector<FolderImage>& images) {
    std::string reason =
        folder + cp932::Jp(" に ") + model + cp932::Jp(" のソフトウェアファイルがありません");
    auto isBroken = [](const FolderImage& image) {
        return image.fault != FirmwareImageFault::kNone &&
               !image.path.filename().string().starts_with('.');
    };
    const auto first = std::ranges::find_if(images, isBroken);
    if (first != images.end()) {
        const auto broken = std::ranges::count_if(images, isBroken);
        reason += cp932::Jp(" (ソフトウェアファイルとして読めないファイル ") +
                  std::to_string(broken) + cp932::Jp(" 件: ") +
                  cp932::FromPath(first->path.filename()) + ")";
    }
    return reason;
}

}  // namespace

std::string LimitNote(const TelnetFailure& failure, std::size_t limit) {
    if (failure.event != TelnetEvent::kTooLong)
        return {};
    return cp932::Jp(" (応答が上限の ") + std::to_string(limit >> 10) +
           cp932::Jp(" KiB を超えました)");
}

const ModelAlias ModelAliasTable[5] = {
    {"BRKX30", "BRKX30TA"},        {"BRKX40", "BRKX40TA"},     {"BRKX50", "BRKX50TRA"},
    {"MOORLINKPATHB", "BRKX70RA"}, {"BRKS90TEA", "BRKS90CPA"},
};

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
    TelnetFailure failure;
    const int result =
        QuerySystemInformation(target.address, app_.settings().loginId, target.password, identity,
                               SystemInformationRules::kConsole, options, &failure);
    if (loginRefused != nullptr)
        *loginRefused = result == -1 && IsRefusedLogin(failure);
    if (result == -1 && IsRefusedLogin(failure))
        return Outcome::Failed("装置情報の取得に失敗しました。",
                               cp932::Jp("ログインが拒否されました (パスワードの誤り)"));
    if (result == -1)
        return Outcome::Failed(
            "装置情報の取得に失敗しました。",
            FormatTelnetFailure(failure) + LimitNote(failure, kIdentificationOutputLimit));
    if (result != 0) {
        return Outcome::Failed("装置情報の確認に失敗しました。",
                               "the answer to \"show system information\" lacks a model, a "
                               "version or a start-up configuration");
    }
    return {};
}

Outcome RouterMaintenance::RunCommand(const MaintenanceTarget& target, const std::string& command,
                                      CommandOutput* output,
                                      std::string_view failureMessage) const {
    CTelnetSession session(timings_.telnet);
    if (session.RunCommand(target.address, app_.settings().loginId, target.password, command,
                           output, 0) < 0) {
        return Outcome::Failed(failureMessage, session.LastError());
    }
    return {};
}

Outcome RouterMaintenance::Upload(const MaintenanceTarget& target, const std::string& localPath,
                                  const std::string& remoteName,
                                  std::string_view failureMessage) const {
    FtpError error;
    if (!UploadByFtp(target.address, kFtpUser, target.password, localPath, remoteName,
                     timings_.ftpPort, true, &error, timings_.ftp))
        return Outcome::Failed(failureMessage,
                               "FTP " + std::string(ToString(error.code)) + ": " + error.message);
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

    ConvertError converted;
    if (ConvertNewlines(target.configFile, &converted) != 0)
        return Outcome::Failed("構成定義ファイルの改行変換に失敗しました。", converted.message);
    if (Outcome uploaded =
            Upload(target, target.configFile, slot, "構成定義ファイルの転送に失敗しました。");
        !uploaded.done())
        return uploaded;
    if (!scheduled) {
        Outcome restarted = RunCommand(target, "reset " + slot, nullptr, "再起動に失敗しました。");
        if (restarted.done())
            sleep_(timings_.configRestartWait);
        return restarted;
    }
    return RunCommand(target,
                      ScheduledConfigCommand(IsGatedModel(identity), target.scheduleTime, slot),
                      nullptr, "構成定義のスケジュール反映に失敗しました。");
}

FirmwareChoice RouterMaintenance::ChooseFirmware(const DeviceIdentity& device) const {
    FirmwareChoice choice;
    std::error_code error;
    const std::vector<FolderImage> images =
        ExamineImageFolder(cp932::ToPath(app_.settings().firmDir), error);
    if (error) {
        choice.verdict = FirmwareChoice::Verdict::kFolderUnreadable;
        choice.reason = FileReason(app_.settings().firmDir, error.value());
        return choice;
    }
    // Model names are compared without their dashes.  Among equal versions
    // the first image by name stays.
    DeviceIdentity working = device;
    working.model = WithoutDashes(device.model);
    working.major = 0;
    working.minor = 0;
    for (const FolderImage& image : images) {
        if (image.fault != FirmwareImageFault::kNone ||
            SearchModel(image.identity.model) != working.model ||
            !Newer(image.identity.major, image.identity.minor, working))
            continue;
        choice.image = image.path;
        working.major = image.identity.major;
        working.minor = image.identity.minor;
    }
    choice.major = working.major;
    choice.minor = working.minor;
    const std::string converted = LookUpConversion(app_.conversionTable(), working.model);
    if (!converted.empty())
        working.model = converted;

    const std::string best = FormatVersion(working.major, working.minor);
    if (choice.image.empty()) {
        choice.verdict = FirmwareChoice::Verdict::kNoImage;
        choice.reason = NoImageReason(device.model, app_.settings().firmDir, images);
    } else if (IsGatedModelWithoutDashes(working)) {
        // The working model has lost its dashes for the search and keeps
        // them only when the conversion table wrote them back, so the gate
        // recognises the legacy models with or without dashes.
        choice.verdict = FirmwareChoice::Verdict::kGated;
        // Named as the router reports it; the table's name too when it
        // is the one that made the model a legacy one.
        std::string model = device.model;
        if (!converted.empty() && WithoutDashes(converted) != WithoutDashes(device.model))
            model += cp932::Jp(" (変換表では ") + converted + ")";
        choice.reason = model +
                        cp932::Jp(
                            " は旧機種のため V30.00 未満のソフトウェアに更新しません (最新の"
                            "ソフトウェアは ") +
                        best + ")";
    } else if (working.major == device.major && working.minor == device.minor) {
        choice.verdict = FirmwareChoice::Verdict::kSameVersion;
        choice.reason = cp932::Jp("既に最新のソフトウェア ") + best + " (" +
                        cp932::FromPath(choice.image.filename()) + cp932::Jp(") で稼働しています");
    } else {
        choice.verdict = FirmwareChoice::Verdict::kUpdate;
        choice.downgrade = Newer(device.major, device.minor, working);
    }
    return choice;
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
                                   choice.reason);
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
            RunCommand(target, SoftwareRestartCommand(gated), nullptr, "再起動に失敗しました。");
        if (restarted.done())
            sleep_(timings_.firmwareRestartWait);
        return restarted;
    }
    return RunCommand(target, ScheduledSoftwareCommand(gated, target.scheduleTime), nullptr,
                      "ソフトウェアのスケジュール実行に失敗しました。");
}

Outcome RouterMaintenance::CollectLog(const OperationContext& context) {
    const MaintenanceTarget& target = context.target;
    DeviceIdentity identity;
    if (Outcome identified = Identify(target, identity); !identified.done())
        return identified;
    CommandOutput output;
    const char* command = IsGatedModel(identity) ? "tech-support" : "show tech-support";
    if (Outcome collected = RunCommand(target, command, &output, "ログ採取に失敗しました。");
        !collected.done())
        return collected;
    const std::string stamp = FormatLocalTime(CurrentClock().Now(), "%Y%m%d%H%M%S");
    const std::string path =
        app_.settings().logDir + "/" + LogFileStem(target.name) + "-" + stamp + ".log";
    // The bytes as received: the router's CR LF lines stay CR LF.  A second
    // collection within the same second replaces the first.
    if (!ReplaceFile(cp932::ToPath(path), output.text))
        return Outcome::Failed("ログ採取結果の書込みに失敗しました。", FileReason(path, errno));
    return {};
}

}  // namespace quellin::console
