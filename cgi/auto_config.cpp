#include "auto_config.h"

#include "codec.h"
#include "conversion_table.h"
#include "device_registry.h"
#include "firmware_image.h"
#include "image_folder.h"
#include "md5.h"
#include "operation_log.h"
#include "restart_program.h"
#include "settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>
#include <tuple>
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

bool IsHigher(const DeviceIdentity& a, const DeviceIdentity& b) {
    return std::tie(a.major, a.minor) > std::tie(b.major, b.minor);
}

bool SameVersion(const DeviceIdentity& a, const DeviceIdentity& b) {
    return a.major == b.major && a.minor == b.minor;
}

// Longest model name a device identity holds.
constexpr std::size_t kMaxModelLength = 31;

// "ソフトウェアをAAA版からBBB版へ更新しますXXX。しばらくお待ちください ･･･"
std::string UpdateMessage(const DeviceIdentity& device, const DeviceIdentity& image) {
    const bool downgrade = IsHigher(device, image);
    return cp932::Jp("ソフトウェアを") + FormatVersion(device.major, device.minor) +
           cp932::Jp("版から") + FormatVersion(image.major, image.minor) +
           cp932::Jp("版へ更新します") + (downgrade ? cp932::Jp("(ダウングレード)") : "") +
           cp932::Jp("。しばらくお待ちください ･･･");
}

}  // namespace

std::optional<FirmwareCandidate> FindBestFirmware(const std::filesystem::path& folder,
                                                  const std::string& model,
                                                  FirmwareFolderError& error) {
    error = FirmwareFolderError::kNone;
    std::error_code failure;
    const std::vector<FolderImage> images = ExamineImageFolder(folder, failure);
    if (failure) {
        error = FirmwareFolderError::kUnreadable;
        return std::nullopt;
    }
    std::optional<FirmwareCandidate> best;
    DeviceIdentity bestIdentity;  // V00.00: never chosen
    for (const FolderImage& image : images) {
        if (image.fault != FirmwareImageFault::kNone || image.identity.model != model ||
            !IsHigher(image.identity, bestIdentity))
            continue;
        bestIdentity = image.identity;
        best = FirmwareCandidate{image.path, image.identity};
    }
    return best;
}

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

bool CAutoConfig::Run() {
    if (!CheckRequest())
        return false;
    constexpr unsigned kBoth = MSG_LOG | MSG_PAGE;
    Message(cp932::Jp("設定を開始しました。"), MSG_LOG);
    if (!UpdateFirmware())
        return false;
    Message(cp932::Jp("構成定義を更新します。しばらくお待ちください ･･･"), kBoth);
    if (ConvertNewlines(configFile_) != 0) {
        Message(cp932::Jp("構成定義ファイルの改行変換に失敗しました。"), kBoth);
        return false;
    }
    if (!PutFile(configFile_, "config1"))
        return false;
    Message(cp932::Jp("構成定義を更新しました。"), kBoth);
    if (!StartRestartProgram()) {
        Message(cp932::Jp("再起動に失敗しました。"), kBoth);
        return false;
    }
    Message(cp932::Jp("設定が正常に終了しました。"), kBoth);
    return true;
}

bool CAutoConfig::UpdateFirmware() {
    constexpr unsigned kBoth = MSG_LOG | MSG_PAGE;
    const NetprovSettings settings = ReadNetprovSettings(layout_.settingsFile());
    CList<CFirmifConversionInfo> table;
    // A missing table converts nothing.
    LoadConversionTable(cp932::ToPath(layout_.conversionTable()), table);

    DeviceIdentity device;
    TelnetOptions telnet = options_.telnet;
    telnet.deadline = std::chrono::seconds(settings.telnetDeadline);
    const int identified = QuerySystemInformation(remoteAddress_, settings.loginId, "", device,
                                                  SystemInformationRules::kNetprov, telnet);
    if (identified == -1) {
        Message(cp932::Jp("装置情報の取得に失敗しました。"), kBoth);
        return false;
    }
    if (identified != 0) {
        Message(cp932::Jp("装置情報の確認に失敗しました。"), kBoth);
        return false;
    }

    const std::string folderWrong = cp932::Jp("ソフトウェア格納フォルダの設定に誤りがあります。");
    if (settings.firmDir.empty()) {
        Message(folderWrong, kBoth);
        return false;
    }
    // Images are matched against the name the device reported.
    FirmwareFolderError folderError = FirmwareFolderError::kNone;
    const auto candidate =
        FindBestFirmware(cp932::ToPath(settings.firmDir), device.model, folderError);
    if (folderError != FirmwareFolderError::kNone) {
        Message(folderWrong, kBoth);
        return false;
    }

    // The gate applies to the name the images use for this device.  A table
    // value too long to be a model name converts nothing.
    DeviceIdentity working = device;
    const std::string converted = LookUpConversion(table, device.model);
    if (!converted.empty() && converted.size() <= kMaxModelLength)
        working.model = converted;

    bool due = false;
    if (candidate) {
        working.major = candidate->identity.major;
        working.minor = candidate->identity.minor;
        due = !IsGatedModel(working) && !SameVersion(candidate->identity, device);
    }
    if (!due) {
        Message(cp932::Jp("新しいソフトウェアファイルはありません。"), kBoth);
        return true;
    }
    Message(UpdateMessage(device, candidate->identity), kBoth);
    if (!PutFile(cp932::FromPath(candidate->path), "firmware"))
        return false;
    Message(cp932::Jp("ソフトウェアを更新しました。"), kBoth);
    return true;
}

bool CAutoConfig::PutFile(const std::string& localPath, const std::string& remoteName) {
    // Active mode: the device opens the data connection back to us.
    if (UploadByFtp(remoteAddress_, kFtpUser, "", localPath, remoteName, options_.ftpPort, false,
                    nullptr, options_.ftp))
        return true;
    Message(cp932::Jp("ファイル転送中にエラーが発生しました。"), MSG_LOG | MSG_PAGE);
    return false;
}

bool CAutoConfig::StartRestartProgram() {
    // The parameters were always one unquoted text "ADDRESS NAME"; its blanks
    // separate the arguments and nothing else in it has a meaning.
    const std::vector<std::string> arguments = SplitAtBlanks(remoteAddress_ + " " + deviceName_);
    return StartDetached(
               InstallationLayout(options_.restartFolder).Path(InstallationLayout::kRestartProgram),
               arguments, options_.restartFolder)
        .started;
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
