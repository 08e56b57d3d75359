// Start-up and shutdown of the Syslogd program: single instance, settings,
// window and tray icon, the listener, and the signals that end the program.
#pragma once

#include "main_window.h"
#include "message_box.h"
#include "receive_pipeline.h"
#include "single_instance.h"
#include "smtp_client.h"
#include "stream_receiver.h"
#include "syslogd_settings.h"
#include "udp_receiver.h"

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace quellin::syslogd {

inline constexpr quint16 kSyslogPort = 514;

class SyslogdApplication final : public QObject {
    Q_OBJECT

public:
    enum class StartResult { Running, AlreadyRunning, Failed };

    // `port` is the UDP port to listen on unless Syslogd.ini names one (UdpPort);
    // `boxes` answers the start-up failure message.
    SyslogdApplication(quint16 port, MessageBoxes& boxes, MainWindow::Services services = {});
    ~SyslogdApplication() override;

    // Runs the start-up steps in order: another instance ends this one at
    // once and silently; settings that cannot be read or a port that cannot
    // be bound show "起動処理に失敗しました。".
    StartResult Start();
    // The single-instance lock when it was taken before the application
    // object existed; Start takes it itself otherwise.
    void AdoptInstanceLock(std::unique_ptr<SingleInstanceLock> lock);

    MainWindow* window() const { return window_.get(); }
    UdpReceiver* receiver() const { return receiver_.get(); }
    SyslogdSettings& settings() { return settings_; }

    // SIGTERM runs the window's exit routine, like File > 終了; during
    // start-up it closes the failure message so that the program ends.
    static bool InstallTerminationHandler(SyslogdApplication* app);

private:
    void Fail();
    // Opens the listeners Syslogd.ini asks for; false when none could be had.
    bool Listen();
    void UpdateReceptionNotice();
    void OnTerminationSignal();

    quint16 port_;
    MessageBoxes& boxes_;
    MainWindow::Services services_;
    SyslogdSettings settings_;
    std::unique_ptr<SmtpClient> mail_;
    std::unique_ptr<SingleInstanceLock> lock_;
    SystemClock clock_;
    WindowQueue queue_;
    std::unique_ptr<ReceivePipeline> pipeline_;
    std::unique_ptr<MainWindow> window_;
    std::uint16_t udpPort_ = 0;
    std::unique_ptr<SharedSink> sharedSink_;  // UDP and TCP/TLS feeding one pipeline
    std::unique_ptr<UdpReceiver> receiver_;
    std::unique_ptr<StreamReceiver> streams_;
    std::vector<UnopenedListener> unopened_;
    std::string receptionNotice_;
    QSocketNotifier* signalNotifier_ = nullptr;
    bool running_ = false;
};

// The program's single-instance lock; nullptr when another instance holds it.
std::unique_ptr<SingleInstanceLock> TakeInstanceLock();

// The program: a QApplication is expected to exist.  `lock` is the one
// TakeInstanceLock gave, or nullptr to take it now.
int RunSyslogd(std::unique_ptr<SingleInstanceLock> lock = nullptr);

}  // namespace quellin::syslogd
