#include "unattended.h"

#include "codec.h"
#include "installer.h"

namespace quellin::setup {

UnattendedOptions ParseUnattendedOptions(const std::vector<std::string>& arguments) {
    UnattendedOptions options;
    options.folder = kDefaultFolder;
    std::string unknown;
    std::string ownUnknown;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--accept-license") {
            options.requested = true;
            options.acceptLicense = true;
        } else if (argument == "--folder") {
            options.requested = true;
            if (i + 1 >= arguments.size()) {
                options.error = "--folder needs a folder";
                return options;
            }
            options.folder = arguments[++i];
        } else if (argument.rfind("--folder=", 0) == 0) {
            options.requested = true;
            options.folder = argument.substr(9);
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument.rfind("--", 0) == 0 && ownUnknown.empty()) {
            ownUnknown = argument;
        } else if (unknown.empty()) {
            unknown = argument;
        }
    }
    // Without the options of this form the single-dash arguments belong to
    // the windowed form (Qt's own, such as -platform).
    if (!ownUnknown.empty())
        options.error = "unknown argument: " + ownUnknown;
    else if (options.requested && !unknown.empty())
        options.error = "unknown argument: " + unknown;
    return options;
}

std::optional<int> AnswerUsage(const UnattendedOptions& options, std::ostream& out,
                               std::ostream& err) {
    if (options.help) {
        out << kSetupUsage;
        return 0;
    }
    if (!options.error.empty()) {
        err << options.error << "\n" << kSetupUsage;
        return 2;
    }
    return std::nullopt;
}

int RunUnattended(const UnattendedOptions& options, const std::filesystem::path& mediumFolder,
                  ProcessLauncher& launcher,
                  const std::optional<std::filesystem::path>& desktopFolder, std::ostream& out,
                  std::ostream& err, InstallationRights* rights) {
    if (std::optional<int> answered = AnswerUsage(options, out, err))
        return *answered;
    if (!options.acceptLicense) {
        err << kLicenseDeclined << "\n";
        return 1;
    }
    CInstaller installer(mediumFolder, launcher, desktopFolder, rights);
    // A folder without a CP932 form cannot be named in the settings file.
    const std::optional<std::string> folder = cp932::FromUtf8(options.folder);
    std::optional<SetupMessage> failure =
        folder ? installer.PrepareFolder(*folder) : SetupMessage{cp932::Jp(kFolderWrong)};
    if (!failure)
        failure = installer.CopyAndConfigure();
    if (failure) {
        err << cp932::ToUtf8Lossy(failure->text) << "\n";
        return 1;
    }
    if (installer.patcherPid() > 0) {
        const std::optional<int> status = launcher.Wait(installer.patcherPid());
        if (status != 0) {
            err << kPatcherProgram << ": "
                << (status ? "exit status " + std::to_string(*status) : std::string("lost"))
                << "\n";
            return 1;
        }
    }
    if (rights != nullptr && !rights->notice().empty())
        err << rights->notice() << "\n";
    out << kCompleted << "\n";
    return 0;
}

}  // namespace quellin::setup
