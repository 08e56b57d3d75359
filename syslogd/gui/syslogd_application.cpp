#include "syslogd_application.h"

#include "codec.h"
#include "program_folder.h"
#include "qt_message_boxes.h"

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

namespace quellin::syslogd {
namespace {

constexpr char kInstanceName[] = "Syslogd";

// Self-pipe for SIGTERM: the handler only writes a byte; the window thread
// picks it up through a socket notifier.
int g_signalFds[2] = {-1, -1};

void OnSignal(int) {
    char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalFds[0], &byte, 1);
}

}  // namespace

SyslogdApplication::SyslogdApplication(quint16 port, MessageBoxes& boxes,
                                       MainWindow::Services services)
    : port_(port), boxes_(boxes), services_(std::move(services)) {}

SyslogdApplication::~SyslogdApplication() {
    // Reception ends first: its last batch is logged and the file closed.
    receiver_.reset();
    window_.reset();
    pipeline_.reset();
}

void SyslogdApplication::Fail() {
    boxes_.Show({"Syslogd", cp932::Jp("起動処理に失敗しました。"), MsgIcon::Error});
}

void SyslogdApplication::AdoptInstanceLock(std::unique_ptr<SingleInstanceLock> lock) {
    lock_ = std::move(lock);
}

std::unique_ptr<SingleInstanceLock> TakeInstanceLock() {
    auto lock = std::make_unique<SingleInstanceLock>(kInstanceName);
    if (!lock->acquired())
        return nullptr;
    return lock;
}

SyslogdApplication::StartResult SyslogdApplication::Start() {
    if (!lock_)
        lock_ = std::make_unique<SingleInstanceLock>(kInstanceName);
    if (!lock_->acquired())
        return StartResult::AlreadyRunning;

    SettingsLoad load = LoadSettings(SettingsFilePath(GetProgramFolder()));
    if (!load.ok()) {
        Fail();
        return StartResult::Failed;
    }
    settings_ = std::move(load.settings);

    if (services_.mail == nullptr) {
        mail_ = std::make_unique<SmtpClient>();
        services_.mail = mail_.get();
    }
    ReceivePipeline::Options options;
    options.forward.ownUdpPort = port_;
    pipeline_ = std::make_unique<ReceivePipeline>(
        clock_, std::make_shared<const SyslogdSettings>(settings_), queue_, options);
    window_ = std::make_unique<MainWindow>(settings_, *pipeline_, services_);
    window_->InstallTrayIcon();

    receiver_ = std::make_unique<UdpReceiver>(*pipeline_);
    if (!receiver_->Bind(port_)) {
        Fail();
        return StartResult::Failed;
    }
    receiver_->Start();

    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        // The desktop session ending closes the program like 終了.
        connect(gui, &QGuiApplication::commitDataRequest, this,
                [this](QSessionManager&) { window_->ExitProgram(); });
    }
    window_->show();
    running_ = true;
    return StartResult::Running;
}

bool SyslogdApplication::InstallTerminationHandler(SyslogdApplication* app) {
    if (g_signalFds[0] < 0 &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalFds) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGTERM, &action, nullptr) != 0)
        return false;
    app->signalNotifier_ = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, app);
    connect(app->signalNotifier_, &QSocketNotifier::activated, app,
            &SyslogdApplication::OnTerminationSignal);
    return true;
}

void SyslogdApplication::OnTerminationSignal() {
    char buffer[16];
    while (::read(g_signalFds[1], buffer, sizeof buffer) > 0) {
    }
    if (running_) {
        window_->ExitProgram();
        return;
    }
    // Start-up has not finished: the only event loop that can be running is
    // that of the failure message.  Closing it lets Start return.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog != nullptr && dialog->isVisible())
            dialog->reject();
    }
}

int RunSyslogd(std::unique_ptr<SingleInstanceLock> lock) {
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("Syslogd"));
    QtMessageBoxes boxes;
    SyslogdApplication app(kSyslogPort, boxes);
    if (lock)
        app.AdoptInstanceLock(std::move(lock));
    SyslogdApplication::InstallTerminationHandler(&app);
    switch (app.Start()) {
        case SyslogdApplication::StartResult::AlreadyRunning:
            return 0;
        case SyslogdApplication::StartResult::Failed:
            return 1;
        case SyslogdApplication::StartResult::Running:
            break;
    }
    return QApplication::exec();
}

}  // namespace quellin::syslogd
