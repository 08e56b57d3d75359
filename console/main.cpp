// Quellin_tool: the management console.
#include "codec.h"
#include "console_session.h"
#include "file_dialogs.h"
#include "instance_activation.h"
#include "main_window.h"
#include "program_folder.h"
#include "qt_message_boxes.h"
#include "qt_operation_waiter.h"
#include "qt_translations.h"
#include "single_instance.h"
#include "termination_signal.h"
#include "thread_safe_message_boxes.h"

#include <QApplication>
#include <QSessionManager>

#include <sys/stat.h>

int main(int argc, char* argv[]) {
    // The logs and files the console (and the Syslogd it starts) creates
    // stay writable for the installation's group, which Netprov shares.
    ::umask(002);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quellin_tool"));
    quellin::InstallQtJapaneseTranslation();

    quellin::SingleInstanceLock instance(quellin::GetProgramName());
    const QString activationPath = QString::fromStdString(instance.ActivationSocketPath());
    if (!instance.acquired()) {
        quellin::RequestActivation(activationPath);
        return 0;
    }
    quellin::ActivationServer activation(activationPath);

    quellin::QtMessageBoxes qtBoxes;
    quellin::ThreadSafeMessageBoxes boxes(qtBoxes);
    quellin::console::QtOperationWaiter waiter(nullptr);
    quellin::console::SystemProcessControl processes;
    quellin::console::SystemdServiceManager services;
    quellin::console::ConsoleSession session(quellin::GetProgramFolder(),
                                             {boxes, waiter, processes, services});
    // The command line rewrites base.db too: one of the two at a time.
    if (session.installation().state() == quellin::console::Installation::State::kBusy) {
        qtBoxes.Show(
            {"Quellin Server",
             quellin::cp932::Jp("コマンドラインの処理が実行中のため、ツールを起動できません。"),
             quellin::MsgIcon::Exclamation, quellin::MsgButtons::Ok, quellin::MsgAnswer::Ok});
        return 0;
    }
    session.Start();
    quellin::QtFileDialogs files;
    quellin::console::CNEXORADlg window(session, files);
    waiter.setOwner(&window);
    // The end of the desktop session, or SIGTERM, stops Syslogd and the
    // web-server service the way the session end always has.
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.onSessionEnd(); });
    quellin::TerminationSignal termination;
    QObject::connect(&termination, &quellin::TerminationSignal::received, &window,
                     &quellin::console::CNEXORADlg::onSessionEnd);
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
