// The console's main window "Quellin Server": the device list, its buttons,
// the menu and the syslog-server status line.
#pragma once

#include "console_session.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <vector>

class QAction;
class QMenuBar;
class QTimer;

namespace Ui {
class CNEXORADlg;
}

namespace quellin {
class FileDialogs;
}

namespace quellin::console {

class DeviceListModel;

class CNEXORADlg final : public QDialog {
    Q_OBJECT
public:
    // The session has been started.
    CNEXORADlg(ConsoleSession& session, FileDialogs& files, QWidget* parent = nullptr);
    ~CNEXORADlg() override;

    // Rows selected in the list, in list order.
    std::vector<int> selectedRows() const;
    void selectRows(const std::vector<int>& rows);

    // After a dialog changed the selected devices: redraws their rows and
    // writes base.db.
    void SaveAndRefreshSelection();

    // Opens the help page; tests replace it.
    void setHelpOpener(std::function<void(const QString& path)> opener);

    DeviceListModel* deviceModel() const { return model_; }
    QAction* menuAction(int commandId) const;

signals:
    // Emitted before the dialog opens.
    void deviceSettingsRequested(int row);
    void maintenanceRequested(const std::vector<int>& rows);

public slots:
    void onSettings();
    void onMaintenance();
    void onEnvironment();
    void onStartSyslog();
    void onStopSyslog();
    void onHelp();
    void onAbout();
    void onExit();
    // The desktop session is ending or the console was asked to terminate:
    // Syslogd is stopped and the web-server service removed; the window
    // does not log its own exit.
    void onSessionEnd();

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenu();
    void showDeviceList();
    void setStatusFont();
    bool isPlainEnabled(int commandId) const;

    void openDeviceSettings(int row);
    void openMaintenance(int row);
    void onTimer();
    void RefreshSyslogStatus();

    ConsoleSession& session_;
    FileDialogs& files_;
    std::unique_ptr<Ui::CNEXORADlg> ui_;
    DeviceListModel* model_ = nullptr;
    QMenuBar* menuBar_ = nullptr;
    QTimer* timer_ = nullptr;
    std::function<void(const QString&)> openHelp_;
    bool exiting_ = false;
};

// Menu command ids of the main window.
enum MainMenuCommand {
    kCmdEnvironment = 134,
    kCmdStartSyslog = 137,
    kCmdStopSyslog = 138,
    kCmdAbout = 140,
    kCmdExit = 142,
    kCmdHelp = 32771,
};

}  // namespace quellin::console
