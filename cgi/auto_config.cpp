#include "auto_config.h"

#include "codec.h"
#include "conversion_table.h"
#include "device_identity.h"
#include "device_registry.h"
#include "firmware_policy.h"
#include "md5.h"
#include "operation_log.h"
#include "restart_program.h"
#include "settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace quellin::netprov {
namespace {

// True when the path names a file that can be opened for reading; a folder
// opens on this platform but is no file.
bool CanOpenFile(const std::string& path) {
    int fd = ::open(cp932::ToPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool isFile = ::fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode);
    ::close(fd);
    return isFile;
}

constexpr unsigned kBoth = MSG_LOG | MSG_PAGE;

}  // namespace

bool DigestsEqual(std::string_view expected, std::string_view given) {
    // Every byte of the expected digest is looked at whatever the given
    // text holds; only its length (chosen by the caller) shows.
    unsigned difference = expected.size() == given.size() ? 0u : 1u;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        unsigned char other = i < given.size() ? static_cast<unsigned char>(given[i]) : 0u;
        difference |= static_cast<unsigned char>(expected[i]) ^ other;
    }
    return difference == 0;
}

CAutoConfig::CAutoConfig(CCgiRequest& request, const Environment& environment,
                         std::string baseFolder, ProvisioningOptions options)
    : request_(request),
      environment_(environment),
      layout_(std::move(baseFolder)),
      options_(std::move(options)) {}

void CAutoConfig::Message(const std::string& text, unsigned flags) {
    if (flags & MSG_LOG)
        WriteOperationLog(deviceName_, layout_.folder(), text);
    if (flags & MSG_PAGE)
        request_.WriteParagraph(text);
}

void CAutoConfig::LogReason(const Error& reason) {
    if (started_)
        Message(OneLineDetail(reason), MSG_LOG);
}

bool CAutoConfig::Fail(const std::string& message, const Error& reason) {
    Message(message, MSG_LOG);
    LogReason(reason);
    Message(message, MSG_PAGE);
    return false;
}

bool CAutoConfig::Run() {
    if (!CheckRequest())
        return false;
    started_ = true;
    Message(cp932::Jp("設定を開始しました。"), MSG_LOG);
    if (!UpdateFirmware())
        return false;
    Message(cp932::Jp("構成定義を更新します。しばらくお待ちください ･･･"), kBoth);
    if (Result<void> converted = ConvertNewlinesInPlace(configFile_); !converted)
        return Fail(cp932::Jp("構成定義ファイルの改行変換に失敗しました。"), converted.error());
    if (!PutFile(configFile_, "config1"))
        return false;
    Message(cp932::Jp("構成定義を更新しました。"), kBoth);
    if (Result<void> restarted = StartRestartProgram(); !restarted)
        return Fail(cp932::Jp("再起動に失敗しました。"), restarted.error());
    Message(cp932::Jp("設定が正常に終了しました。"), kBoth);
    return true;
}

bool CAutoConfig::UpdateFirmware() {
    const NetprovSettings settings = ReadNetprovSettings(layout_.settingsFile());
    CList<CFirmifConversionInfo> table;
    // A missing table converts nothing.
    LoadConversionTable(cp932::ToPath(layout_.conversionTable()), table);

    TelnetOptions telnet = options_.telnet;
    telnet.deadline = std::chrono::seconds(settings.telnetDeadline);
    const Result<DeviceIdentity> device = IdentifyDevice(remoteAddress_, settings.loginId, "",
                                                         SystemInformationRules::kNetprov, telnet);
    if (!device)
        return Fail(
            cp932::Jp(device.error().code == ErrorCode::kFormat ? "装置情報の確認に失敗しました。"
                                                                : "装置情報の取得に失敗しました。"),
            device.error());

    const FirmwareChoice choice =
        ChooseFirmware(settings.firmDir, *device, table, kNetprovFirmwareRules);
    if (choice.verdict == FirmwareChoice::Verdict::kFolderUnreadable)
        return Fail(cp932::Jp("ソフトウェア格納フォルダの設定に誤りがあります。"),
                    choice.FolderError());
    if (choice.verdict != FirmwareChoice::Verdict::kUpdate) {
        Message(cp932::Jp("新しいソフトウェアファイルはありません。"), kBoth);
        return true;
    }
    Message(
        FirmwareUpdateMessage(kNetprovFirmwareRules, FormatVersion(device->major, device->minor),
                              FormatVersion(choice.major, choice.minor), choice.downgrade),
        kBoth);
    if (!PutFile(cp932::FromPath(choice.image), "firmware"))
        return false;
    Message(cp932::Jp("ソフトウェアを更新しました。"), kBoth);
    return true;
}

bool CAutoConfig::PutFile(const std::string& localPath, const std::string& remoteName) {
    // Active mode: the device opens the data connection back to us.
    const Result<void> uploaded = UploadFile(remoteAddress_, kFtpUser, "", localPath, remoteName,
                                             options_.ftpPort, false, options_.ftp);
    if (uploaded)
        return true;
    return Fail(cp932::Jp("ファイル転送中にエラーが発生しました。"), uploaded.error());
}

Result<void> CAutoConfig::StartRestartProgram() {
    // The parameters were always one unquoted text "ADDRESS NAME"; its blanks
    // separate the arguments and nothing else in it has a meaning.
    const std::vector<std::string> arguments = SplitAtBlanks(remoteAddress_ + " " + deviceName_);
    return StartDetached(
        InstallationLayout(options_.restartFolder).Path(InstallationLayout::kRestartProgram),
        arguments, options_.restartFolder);
}

bool CAutoConfig::CheckRequest() {
    // The checks answer on the page only: nothing reaches a device's log
    // before the request has proved to come from it.
    const std::string invalidParameter = cp932::Jp("パラメタが不正です。");
    if (!request_.GetParam("accessid", accessId_)) {
        Message(invalidParameter, MSG_PAGE);
        return false;
    }
    if (!request_.GetParam("accesspass", accessPassword_)) {
        Message(invalidParameter, MSG_PAGE);
        return false;
    }
    remoteAddress_ = GetVariable(environment_, "REMOTE_ADDR").value_or("");
    if (remoteAddress_.empty()) {
        Message(invalidParameter, MSG_PAGE);
        return false;
    }

    const std::string registry = layout_.registry();
    // An unreadable registry is not the caller's wrong access ID: say so.
    if (!CanOpenFile(registry)) {
        Message(cp932::Jp("装置登録ファイル(base.db)を読み込めません。"), MSG_PAGE);
        return false;
    }
    CBase device;
    if (!FindDeviceByAccessId(cp932::ToPath(registry), accessId_, device)) {
        Message(cp932::Jp("アクセスIDに誤りがあります。"), MSG_PAGE);
        return false;
    }
    deviceName_ = device.name;

    // The stored password is a C string to the digest: it ends at a NUL.
    const std::string expected = Md5Hex(std::string_view(device.accessPassword.c_str()));
    if (!DigestsEqual(expected, accessPassword_)) {
        Message(cp932::Jp("パスワードに誤りがあります。"), MSG_PAGE);
        return false;
    }

    if (!CanOpenFile(device.configFile)) {
        Message(cp932::Jp("構成定義ファイルが見つかりません。"), MSG_PAGE);
        return false;
    }
    configFile_ = device.configFile;
    return true;
}

}  // namespace quellin::netprov
