// Setup: installs Quellin Server from the medium folder it is started from.
//   Setup                                   the installation wizard
//   Setup [--folder DIR] --accept-license   the same installation without windows
//   Setup --help                            the usage
#include "codec.h"
#include "desktop_entry.h"
#include "file_dialogs.h"
#include "installation_rights.h"
#include "installer.h"
#include "process_launcher.h"
#include "program_folder.h"
#include "qt_message_boxes.h"
#include "qt_translations.h"
#include "setup_windows.h"
#include "single_instance.h"
#include "unattended.h"

#include <QApplication>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    using namespace quellin::setup;
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const UnattendedOptions options = ParseUnattendedOptions(arguments);
    // Without a display QApplication would abort: the usage comes first.
    if (std::optional<int> answered = AnswerUsage(options, std::cout, std::cerr))
        return *answered;
    const std::filesystem::path medium = quellin::cp932::ToPath(quellin::GetProgramFolder());
    quellin::SingleInstanceLock instance(kSetupProgram);
    PosixProcessLauncher launcher;
    const auto desktop = DesktopFolder(ProcessEnvironment());
    SystemInstallationRights rights(launcher, ProcessEnvironment());

    if (options.requested) {
        if (!instance.acquired()) {
            std::cerr << kSetupProgram << " is already running\n";
            return 1;
        }
        return RunUnattended(options, medium, launcher, desktop, std::cout, std::cerr, &rights);
    }

    QApplication application(argc, argv);
    if (!instance.acquired())
        return 0;
    quellin::InstallQtJapaneseTranslation();
    QApplication::setQuitOnLastWindowClosed(false);
    quellin::QtMessageBoxes boxes;
    quellin::QtFileDialogs files;
    CInstaller installer(medium, launcher, desktop, &rights);
    SetupWizard wizard(medium, installer, boxes, files);
    // Setup ends at once, with its windows still open when it is cancelled.
    // QApplication::quit() would first ask every window to close, and the
    // windows refuse every close that is not one of their own buttons.
    QObject::connect(
        &wizard, &SetupWizard::finished, &application, [] { QCoreApplication::exit(0); },
        Qt::QueuedConnection);
    wizard.start();
    return QApplication::exec();
}
