#include "syslogd_application.h"

#include "codec.h"
#include "program_folder.h"
#include "qt_message_boxes.h"
#include "system_error_text.h"

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>

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
    streams_.reset();
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
    udpPort_ = settings_.udpPort != SyslogdSettings{}.udpPort
                   ? static_cast<std::uint16_t>(settings_.udpPort)
                   : port_;
    ReceivePipeline::Options options;
    options.forward.ownUdpPort = udpPort_;
    pipeline_ = std::make_unique<ReceivePipeline>(
        clock_, std::make_shared<const SyslogdSettings>(settings_), queue_, options);
    window_ = std::make_unique<MainWindow>(settings_, *pipeline_, services_);
    window_->InstallTrayIcon();

    if (!Listen()) {
        Fail();
        return StartResult::Failed;
    }

    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        // The desktop session ending closes the program like 終了.
        connect(gui, &QGuiApplication::commitDataRequest, this,
                [this](QSessionManager&) { window_->ExitProgram(); });
    }
    window_->show();
    running_ = true;
    return StartResult::Running;
}

bool SyslogdApplication::Listen() {
    const bool streams = settings_.tcpFlag || settings_.tlsFlag;
    if (!streams) {
        // Only UDP, as it always was: a port that cannot be had ends start-up.
        receiver_ = std::make_unique<UdpReceiver>(*pipeline_);
        if (!receiver_->Bind(settings_.udpAddress, udpPort_))
            return false;
        receiver_->Start();
        return true;
    }
    // More than one listener: those that open run, and the status area
    // names the others and why.
    sharedSink_ = std::make_unique<SharedSink>(*pipeline_);
    receiver_ = std::make_unique<UdpReceiver>(*sharedSink_);
    streams_ = std::make_unique<StreamReceiver>(*sharedSink_);
    const std::string& address = settings_.udpAddress;
    int code = 0;
    if (!receiver_->Bind(address, udpPort_, nullptr, &code))
        unopened_.push_back({"UDP", udpPort_, SystemErrorText(code)});
    const auto tcpPort = static_cast<std::uint16_t>(settings_.tcpPort);
    if (settings_.tcpFlag && !streams_->ListenTcp(address, tcpPort, code))
        unopened_.push_back({"TCP", tcpPort, SystemErrorText(code)});
    const auto tlsPort = static_cast<std::uint16_t>(settings_.tlsPort);
    std::string reason;
    if (settings_.tlsFlag &&
        !streams_->ListenTls(address, tlsPort, settings_.tlsCertFile, settings_.tlsKeyFile,
                             settings_.tlsCAFile, reason, code))
        unopened_.push_back(
            {"TLS", tlsPort, code != 0 ? SystemErrorText(code) : cp932::FromUtf8Lossy(reason)});
    const bool udp = receiver_->localPort() != 0;
    if (!udp && !streams_->listening())
        return false;
    if (udp) {
        sharedSink_->AddReceiver();
        receiver_->Start();
    }
    if (streams_->listening()) {
        sharedSink_->AddReceiver();
        streams_->Start();
    }
    UpdateReceptionNotice();
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &SyslogdApplication::UpdateReceptionNotice);
    timer->start(2000);
    return true;
}

void SyslogdApplication::UpdateReceptionNotice() {
    std::string text = ReceptionNotice(unopened_, streams_->counts());
    if (text == receptionNotice_)
        return;
    receptionNotice_ = std::move(text);
    window_->SetReceptionNotice(receptionNotice_);
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
