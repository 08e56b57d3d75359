#include "maintenance.h"

#include "clock.h"
#include "codec.h"
#include "file_descriptor.h"
#include "firmware_image.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

namespace quellin::console {
namespace {

constexpr char kFtpUser[] = "ftp-admin";

std::string WithoutDashes(std::string text) {
    std::erase(text, '-');
    return text;
}

bool Newer(const DeviceIdentity& a, const DeviceIdentity& b) {
    return a.major > b.major || (a.major == b.major && a.minor > b.minor);
}

// Writes the bytes as received: the router's CR LF lines stay CR LF.
bool WriteWholeFile(const std::filesystem::path& path, const std::string& bytes) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd.valid())
        return false;
    const bool written = WriteAll(fd.get(), bytes);
    return fd.Close() && written;
}

}  // namespace

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

RouterMaintenance::RouterMaintenance(ConsoleApp& app, Reporter& reporter, RouterTimings timings)
    : app_(app),
      reporter_(reporter),
      timings_(timings),
      sleep_([](std::chrono::milliseconds wait) { std::this_thread::sleep_for(wait); }) {
    timings_.telnet.deadline = std::chrono::seconds(app.settings().telnetDeadline);
}

void RouterMaintenance::Notice(const MaintenanceTarget& target, const char* message,
                               bool unattended) {
    reporter_.Report(target.name, cp932::Jp(message), unattended ? MSG_LOG : MSG_LOG | MSG_BOX);
}

bool RouterMaintenance::CheckAddress(const MaintenanceTarget& target, bool unattended) {
    if (!target.address.empty())
        return true;
    reporter_.Report(target.name, cp932::Jp("IPアドレスが設定されていません。"),
                     unattended ? MSG_LOG : MSG_BOX);
    return false;
}

bool RouterMaintenance::CheckConfigFile(const MaintenanceTarget& target, bool unattended) {
    if (!target.configFile.empty()) {
        std::ifstream file(cp932::ToPath(target.configFile));
        std::error_code ec;
        if (file && !std::filesystem::is_directory(cp932::ToPath(target.configFile), ec))
            return true;
    }
    reporter_.Report(target.name, cp932::Jp("構成定義ファイルが見つかりません。"),
                     unattended ? MSG_LOG : MSG_BOX);
    return false;
}

bool RouterMaintenance::Identify(const MaintenanceTarget& target, DeviceIdentity& identity,
                                 bool unattended) {
    int result =
        QuerySystemInformation(target.address, app_.telnetUser(), target.password, identity,
                               SystemInformationRules::kConsole, timings_.telnet);
    if (result == -1) {
        Notice(target, "装置情報の取得に失敗しました。", unattended);
        return false;
    }
    if (result != 0) {
        Notice(target, "装置情報の確認に失敗しました。", unattended);
        return false;
    }
    return true;
}

int RouterMaintenance::RunCommand(const MaintenanceTarget& target, const std::string& command,
                                  CommandOutput* output) {
    CTelnetSession session(timings_.telnet);
    return session.RunCommand(target.address, app_.telnetUser(), target.password, command, output,
                              0);
}

bool RouterMaintenance::ApplyConfig(const MaintenanceTarget& target, bool scheduled,
                                    bool unattended) {
    DeviceIdentity identity;
    if (!Identify(target, identity, unattended))
        return false;
    const bool startsFromConfig1 =
        identity.startupConfig.size() > 6 && identity.startupConfig[6] == '1';
    const std::string slot = startsFromConfig1 ? "config2" : "config1";

    if (ConvertNewlines(target.configFile) != 0) {
        Notice(target, "構成定義ファイルの改行変換に失敗しました。", unattended);
        return false;
    }
    if (!UploadByFtp(target.address, kFtpUser, target.password, target.configFile, slot,
                     timings_.ftpPort, true, nullptr, timings_.ftp)) {
        Notice(target, "構成定義ファイルの転送に失敗しました。", unattended);
        return false;
    }
    if (!scheduled) {
        if (RunCommand(target, "reset " + slot, nullptr) < 0) {
            Notice(target, "再起動に失敗しました。", unattended);
            return false;
        }
        sleep_(timings_.configRestartWait);
        return true;
    }
    const std::string command =
        ScheduledConfigCommand(IsGatedModel(identity), target.scheduleTime, slot);
    if (RunCommand(target, command, nullptr) < 0) {
        Notice(target, "構成定義のスケジュール反映に失敗しました。", unattended);
        return false;
    }
    return true;
}

int RouterMaintenance::UpdateSoftware(const MaintenanceTarget& target, bool scheduled,
                                      bool unattended) {
    DeviceIdentity own;
    if (!Identify(target, own, unattended))
        return kUpdateFailed;
    DeviceIdentity working = own;

    // The folder's files in name order, so that the choice between equal
    // versions does not depend on the file system's ordering.
    std::error_code ec;
    std::filesystem::directory_iterator folder(cp932::ToPath(app_.settings().firmDir), ec);
    if (ec) {
        Notice(target, "ソフトウェア格納フォルダの設定に誤りがあります。", unattended);
        return kUpdateFailed;
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : folder) {
        if (entry.is_regular_file(ec))
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());

    working.major = 0;
    working.minor = 0;
    std::filesystem::path chosen;
    for (const auto& path : files) {
        DeviceIdentity image;
        if (ReadFirmwareIdentity(path, image) != 0)
            continue;
        working.model = WithoutDashes(working.model);
        image.model = WithoutDashes(image.model);
        for (const ModelAlias& alias : ModelAliasTable) {
            if (image.model == WithoutDashes(alias.imageModel)) {
                image.model = WithoutDashes(alias.deviceModel);
                break;
            }
        }
        if (image.model == working.model && Newer(image, working)) {
            chosen = path;
            working.major = image.major;
            working.minor = image.minor;
        }
    }
    const std::string converted = LookUpConversion(app_.conversionTable(), working.model);
    if (!converted.empty())
        working.model = converted;

    // The working model has lost its dashes for the search and keeps them
    // only when the conversion table wrote them back, so the legacy models
    // are recognised with or without dashes: the gate must hold whether or
    // not the table names the model.
    if (chosen.empty() || IsGatedModelWithoutDashes(working) ||
        (working.major == own.major && working.minor == own.minor)) {
        Notice(target, "新しいソフトウェアファイルはありません。", unattended);
        return kUpdateNoNewer;
    }
    const bool downgrade = Newer(own, working);
    const std::string decided =
        FormatVersion(own.major, own.minor) + cp932::Jp("版から") +
        FormatVersion(working.major, working.minor) + cp932::Jp("版へソフトウェアを更新します") +
        (downgrade ? cp932::Jp("(ダウングレード)") : std::string()) + cp932::Jp("。");
    if (!unattended) {
        MsgAnswer answer = reporter_.Ask(decided + cp932::Jp("よろしいですか？"), MsgButtons::YesNo,
                                         MsgAnswer::No);
        if (answer != MsgAnswer::Yes) {
            reporter_.Report(target.name, cp932::Jp("ソフトウェア更新を中止しました。"),
                             MSG_LOG | MSG_BOX);
            return kUpdateCancelled;
        }
    }
    reporter_.Report(target.name, decided, MSG_LOG);

    if (!UploadByFtp(target.address, kFtpUser, target.password, cp932::FromPath(chosen), "firmware",
                     timings_.ftpPort, true, nullptr, timings_.ftp)) {
        Notice(target, "ソフトウェアファイルの転送に失敗しました。", unattended);
        return kUpdateFailed;
    }
    const bool gated = IsGatedModel(own);
    if (!scheduled) {
        if (RunCommand(target, SoftwareRestartCommand(gated), nullptr) < 0) {
            Notice(target, "再起動に失敗しました。", unattended);
            return kUpdateFailed;
        }
        sleep_(timings_.firmwareRestartWait);
        return kUpdateDone;
    }
    if (RunCommand(target, ScheduledSoftwareCommand(gated, target.scheduleTime), nullptr) < 0) {
        Notice(target, "ソフトウェアのスケジュール実行に失敗しました。", unattended);
        return kUpdateFailed;
    }
    return kUpdateDone;
}

bool RouterMaintenance::CollectLog(const MaintenanceTarget& target, bool unattended) {
    DeviceIdentity identity;
    if (!Identify(target, identity, unattended))
        return false;
    CommandOutput output;
    const char* command = IsGatedModel(identity) ? "tech-support" : "show tech-support";
    if (RunCommand(target, command, &output) < 0) {
        Notice(target, "ログ採取に失敗しました。", unattended);
        return false;
    }
    const std::string stamp = FormatLocalTime(CurrentClock().Now(), "%Y%m%d%H%M%S");
    const std::string path = app_.settings().logDir + "/" + target.name + "-" + stamp + ".log";
    if (!WriteWholeFile(cp932::ToPath(path), output.text)) {
        Notice(target, "ログ採取結果の書込みに失敗しました。", unattended);
        return false;
    }
    return true;
}

}  // namespace quellin::console
