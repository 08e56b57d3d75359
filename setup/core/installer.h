// The installation without windows: the folder checks, the copy of the
// medium, the settings and the desktop shortcut.  The windows and the
// unattended form both drive this class.
#pragma once

#include "installation_rights.h"
#include "message_box.h"
#include "process_launcher.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace quellin::setup {

// Texts of the installer (CP932 via cp932::Jp at the call sites).
inline constexpr const char* kCaption = "Quellin Server セットアップ";
inline constexpr const char* kFolderWrong = "フォルダの指定に誤りがあります。";
inline constexpr const char* kJapaneseInFolder = "入力された文字列に日本語が含まれています。";
inline constexpr const char* kCancelQuestion = "セットアップを中止します。よろしいですか？";
inline constexpr const char* kLicenseDeclined =
    "使用許諾条件に同意されない場合、Quellin Serverのセットアップは実行できません。";
inline constexpr const char* kCompleted = "セットアップが完了しました。";
inline constexpr const char* kBrowseTitle = "セットアップフォルダの指定";

// This platform's place for add-on software.
inline constexpr const char* kDefaultFolder = "/opt/Quellin_server";

// Programs of the medium that do not belong in an installation.
inline constexpr const char* kSetupProgram = "Setup";
inline constexpr const char* kPatcherProgram = "Webcfgpatch";
inline constexpr const char* kPatcherPort = "80";

struct SetupMessage {
    std::string text;  // CP932
    MsgIcon icon = MsgIcon::Exclamation;
};

// Creates one folder: 0, or the errno of the failure (EEXIST when it exists).
using MakeDirectoryFn = std::function<int(const std::filesystem::path&)>;
int MakeDirectory(const std::filesystem::path& folder);

// Creates the folder (CP932 text, "/" separators) with every missing
// parent, one level per pass from the top down.  Anything that exists
// under a name counts as created; any other failure ends the walk.
bool CreateFolderWithParents(std::string_view folder, const MakeDirectoryFn& makeDirectory);

// The settings file in the installation folder: "NEXORA.INI" as the console
// and Netprov read it, else the first other spelling of that name.
std::optional<std::filesystem::path> FindSettingsFile(const std::filesystem::path& folder);

// Copies the medium folder over the installation folder: files are
// replaced by new ones (never written through a link or into a file someone
// holds open), folders merged, symbolic links copied as links.  A folder of
// another user where root installs becomes root's first.
std::error_code CopyFolder(const std::filesystem::path& from, const std::filesystem::path& to);

// Makes every file and folder below (and including) the folder writable by
// its owner; links are left alone.  Failures are ignored.
void MakeOwnerWritable(const std::filesystem::path& folder);

class CInstaller {
public:
    // With rights, the copied tree is handed to the installation's group
    // before anything is configured in it.
    CInstaller(std::filesystem::path mediumFolder, ProcessLauncher& launcher,
               std::optional<std::filesystem::path> desktopFolder,
               InstallationRights* rights = nullptr, MakeDirectoryFn makeDirectory = MakeDirectory);

    // Checks the folder text (CP932) and creates the folder; nullopt when it
    // is ready for the copy, else the warning to show.
    std::optional<SetupMessage> PrepareFolder(std::string_view folderText);

    // Copies the medium, clears the way for the patcher, starts it, writes
    // the settings and the shortcut.  nullopt on success, else the error to
    // show; the remaining steps are skipped after an error.
    std::optional<SetupMessage> CopyAndConfigure();

    // The installation folder once PrepareFolder accepted it (CP932).
    const std::string& installFolder() const { return folder_; }
    // The started patcher, or -1.
    int patcherPid() const { return patcherPid_; }

private:
    std::filesystem::path medium_;
    ProcessLauncher& launcher_;
    std::optional<std::filesystem::path> desktop_;
    InstallationRights* rights_;
    MakeDirectoryFn makeDirectory_;
    std::string folder_;
    int patcherPid_ = -1;
};

}  // namespace quellin::setup
