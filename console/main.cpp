// Quellin_tool: the management console.
#include "console_app.h"
#include "file_dialogs.h"
#include "instance_activation.h"
#include "main_window.h"
#include "main_window_logic.h"
#include "program_folder.h"
#include "qt_message_boxes.h"
#include "qt_operation_waiter.h"
#include "thread_safe_message_boxes.h"
#include "maintenance.h"
#include "report.h"
#include "single_instance.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quellin_tool"));

    quellin::SingleInstanceLock instance(quellin::GetProgramName());
    const QString activationPath = QString::fromStdString(instance.ActivationSocketPath());
    if (!instance.acquired()) {
        quellin::RequestActivation(activationPath);
        return 0;
    }
    quellin::ActivationServer activation(activationPath);

    quellin::console::ConsoleApp app(quellin::GetProgramFolder());
    quellin::QtMessageBoxes qtBoxes;
    quellin::ThreadSafeMessageBoxes boxes(qtBoxes);
    quellin::console::Reporter reporter(app.programFolder(), boxes);
    quellin::console::MainWindowLogic logic(app, reporter);
    quellin::console::RouterMaintenance maintenance(app, reporter);
    quellin::console::QtOperationWaiter waiter(nullptr);
    quellin::QtFileDialogs files;
    quellin::console::CNEXORADlg window(logic, files, maintenance, waiter);
    waiter.setOwner(&window);
    QObject::connect(&activation, &quellin::ActivationServer::activationRequested, &window,
                     [&window] {
                         window.showNormal();
                         window.raise();
                         window.activateWindow();
                         if (QWidget* popup = QApplication::activeModalWidget()) {
                             popup->raise();
                             popup->activateWindow();
                         }
                     });
    window.exec();
    return 0;
}
