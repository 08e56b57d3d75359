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

class CInventoryDlg;
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
    // The inventory window, once opened.
    CInventoryDlg* inventoryWindow() const { return inventory_; }
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
    // The inventory window: opened on the first use, shown again after.
    void onInventory();
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
    void openMaintenanceOf(const std::string& name);
    void onTimer();
    void RefreshSyslogStatus();

    ConsoleSession& session_;
    FileDialogs& files_;
    std::unique_ptr<Ui::CNEXORADlg> ui_;
    DeviceListModel* model_ = nullptr;
    QMenuBar* menuBar_ = nullptr;
    QTimer* timer_ = nullptr;
    CInventoryDlg* inventory_ = nullptr;
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
    // Beyond the original menu: the fleet's inventory (ツール).
    kCmdInventory = 32772,
};

// Devices the inventory window asks at once.
inline constexpr int kInventoryJobs = 16;

}  // namespace quellin::console
