#include "main_window.h"

#include "about_dialog.h"
#include "app_icon.h"
#include "clock.h"
#include "codec.h"
#include "device_list_model.h"
#include "device_settings_dialog.h"
#include "environment_dialog.h"
#include "fleet_state.h"
#include "inventory_window.h"
#include "maintenance_dialog.h"
#include "multi_maintenance_dialog.h"
#include "notices.h"
#include "qt_text.h"
#include "ui_main_window.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QHeaderView>
#include <QMenuBar>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace quellin::console {

CNEXORADlg::CNEXORADlg(ConsoleSession& session, FileDialogs& files, QWidget* parent)
    : QDialog(parent), session_(session), files_(files), ui_(std::make_unique<Ui::CNEXORADlg>()) {
    ui_->setupUi(this);
    setWindowIcon(AppIcon());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowMinimizeButtonHint, true);
    buildMenu();
    openHelp_ = [](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };

    connect(ui_->id1006, &QPushButton::clicked, this, &CNEXORADlg::onSettings);
    connect(ui_->id1007, &QPushButton::clicked, this, &CNEXORADlg::onMaintenance);
    connect(ui_->id2, &QPushButton::clicked, this, &CNEXORADlg::onExit);
    connect(ui_->id1004, &QAbstractItemView::doubleClicked, this, &CNEXORADlg::onSettings);

    showDeviceList();
    setStatusFont();
    RefreshSyslogStatus();
    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("timer1"));
    connect(timer_, &QTimer::timeout, this, &CNEXORADlg::onTimer);
    timer_->start(1000);
}

void CNEXORADlg::onTimer() {
    RefreshSyslogStatus();
    session_.scheduler().RunDueLogCollections();
}

void CNEXORADlg::RefreshSyslogStatus() {
    SyslogControl& syslog = session_.syslog();
    syslog.RefreshSyslogStatus();
    const bool running = syslog.running();
    menuAction(kCmdStartSyslog)->setEnabled(!running);
    menuAction(kCmdStopSyslog)->setEnabled(running);
    ui_->id1031->setText(FromCp932(syslog.statusText()));
    QPalette palette = ui_->id1031->palette();
    palette.setColor(QPalette::WindowText, running ? QColor(0, 0, 255) : QColor(0, 0, 0));
    ui_->id1031->setPalette(palette);
}

void CNEXORADlg::onStartSyslog() {
    if (!isPlainEnabled(kCmdStartSyslog))
        return;
    session_.syslog().StartSyslogServer();
    menuAction(kCmdStartSyslog)->setEnabled(!session_.syslog().running());
    menuAction(kCmdStopSyslog)->setEnabled(session_.syslog().running());
}

void CNEXORADlg::onStopSyslog() {
    if (!isPlainEnabled(kCmdStopSyslog))
        return;
    if (session_.syslog().StopSyslogServer()) {
        menuAction(kCmdStopSyslog)->setEnabled(false);
        menuAction(kCmdStartSyslog)->setEnabled(true);
    }
}

void CNEXORADlg::onSessionEnd() {
    if (exiting_)
        return;
    exiting_ = true;
    session_.EndOfDesktopSession();
    done(QDialog::Accepted);
}

CNEXORADlg::~CNEXORADlg() = default;

void CNEXORADlg::buildMenu() {
    menuBar_ = new QMenuBar(this);
    menuBar_->setObjectName(QStringLiteral("id133"));
    layout()->setMenuBar(menuBar_);
    auto add = [this](QMenu* menu, const char* text, int id, auto slot) {
        QAction* action = menu->addAction(Tr(text));
        action->setObjectName(QStringLiteral("cmd%1").arg(id));
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    QMenu* file = menuBar_->addMenu(Tr("ファイル(&F)"));
    add(file, "終了(&X)", kCmdExit, &CNEXORADlg::onExit);
    QMenu* settings = menuBar_->addMenu(Tr("設定(&C)"));
    add(settings, "環境設定(&E)", kCmdEnvironment, &CNEXORADlg::onEnvironment);
    QMenu* tools = menuBar_->addMenu(Tr("ツール(&T)"));
    add(tools, "システムログ起動(&L)", kCmdStartSyslog, &CNEXORADlg::onStartSyslog);
    add(tools, "システムログ停止(&K)", kCmdStopSyslog, &CNEXORADlg::onStopSyslog)
        ->setEnabled(false);
    tools->addSeparator();
    add(tools, "装置インベントリ(&I)...", kCmdInventory, &CNEXORADlg::onInventory);
    QMenu* help = menuBar_->addMenu(Tr("ヘルプ(&H)"));
    add(help, "ヘルプ(&H)", kCmdHelp, &CNEXORADlg::onHelp);
    add(help, "バージョン情報(&A)", kCmdAbout, &CNEXORADlg::onAbout);
}

QAction* CNEXORADlg::menuAction(int commandId) const {
    return findChild<QAction*>(QStringLiteral("cmd%1").arg(commandId));
}

bool CNEXORADlg::isPlainEnabled(int commandId) const {
    QAction* action = menuAction(commandId);
    return action != nullptr && action->isEnabled();
}

void CNEXORADlg::showDeviceList() {
    auto* oldModel = model_;
    model_ = new DeviceListModel(session_.book().devices(), this);
    ui_->id1004->setModel(model_);
    delete oldModel;

    QHeaderView* header = ui_->id1004->horizontalHeader();
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->resizeSection(DeviceListModel::NumberColumn, 40);
    header->resizeSection(DeviceListModel::NameColumn, 300);
    header->resizeSection(DeviceListModel::AddressColumn, 90);
    QHeaderView* rows = ui_->id1004->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(fontMetrics().height() + 6);

    if (model_->rowCount() > 0) {
        ui_->id1004->selectRow(0);
        ui_->id1004->setCurrentIndex(model_->index(0, 0));
    }
    ui_->id1004->setFocus();
}

void CNEXORADlg::setStatusFont() {
    QFont font = ui_->id1031->font();
    font.setFamilies({QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAGothic"),
                      QStringLiteral("VL Gothic"), QStringLiteral("TakaoGothic")});
    font.setBold(true);
    ui_->id1029->setFont(font);
    ui_->id1031->setFont(font);
    QPalette palette = ui_->id1031->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    ui_->id1031->setPalette(palette);
}

std::vector<int> CNEXORADlg::selectedRows() const {
    std::vector<int> rows;
    if (auto* selection = ui_->id1004->selectionModel()) {
        for (const QModelIndex& index : selection->selectedRows())
            rows.push_back(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CNEXORADlg::selectRows(const std::vector<int>& rows) {
    ui_->id1004->clearSelection();
    auto* selection = ui_->id1004->selectionModel();
    for (int row : rows) {
        selection->select(model_->index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

void CNEXORADlg::SaveAndRefreshSelection() {
    model_->refreshRows(selectedRows());
    session_.book().Save();
}

void CNEXORADlg::setHelpOpener(std::function<void(const QString&)> opener) {
    openHelp_ = std::move(opener);
}

void CNEXORADlg::onSettings() {
    if (auto row = session_.RowForSettings(selectedRows()))
        openDeviceSettings(*row);
}

void CNEXORADlg::openDeviceSettings(int row) {
    emit deviceSettingsRequested(row);
    DeviceSettingsLogic settings(session_.book().device(row), session_.book(), session_.reporter(),
                                 session_.questions(), [this] { SaveAndRefreshSelection(); });
    CBaseDlg dialog(settings, files_, this);
    dialog.exec();
}

void CNEXORADlg::onEnvironment() {
    ConsoleApp& app = session_.app();
    EnvironmentSettingsLogic environment(app.settings(), app.programFolder(), session_.reporter());
    CConfigDlg dialog(environment, app.settings(), files_, this);
    dialog.exec();
}

void CNEXORADlg::onMaintenance() {
    auto rows = session_.RowsForMaintenance(selectedRows());
    if (rows.empty())
        return;
    emit maintenanceRequested(rows);
    if (rows.size() == 1) {
        openMaintenance(rows.front());
        return;
    }
    std::vector<CBase*> devices;
    for (int row : rows)
        devices.push_back(&session_.book().device(row));
    MultiMaintenanceLogic multi(std::move(devices), session_.runner(), session_.questions(),
                                session_.reporter(), session_.busy(),
                                [this] { SaveAndRefreshSelection(); });
    CMainteDlgMulti dialog(multi, this);
    dialog.exec();
}

void CNEXORADlg::openMaintenance(int row) {
    MaintenanceDialogLogic logic(session_.book().device(row), session_.runner(),
                                 session_.questions(), session_.reporter(), session_.busy(),
                                 [this] { SaveAndRefreshSelection(); });
    CMainteDlg dialog(logic, this);
    dialog.exec();
}

void CNEXORADlg::onInventory() {
    if (inventory_ == nullptr) {
        std::vector<CBase> devices;
        for (const CBase& device : session_.book().devices())
            if (!device.name.empty())
                devices.push_back(device);
        // Each run reads the settings on its workers while the environment
        // dialog may change them here: it works on a copy of its own.
        auto logic = std::make_unique<InventoryWindowLogic>(
            std::move(devices), kInventoryJobs,
            [this]() -> InventoryProbe {
                auto app = std::make_shared<const ConsoleApp>(session_.app());
                auto router =
                    std::make_shared<const RouterMaintenance>(*app, session_.router().timings());
                return [app, router](const CBase& device, std::stop_token stop) {
                    InventoryRow row = ProbeDevice(device, *router, std::move(stop));
                    // Kept for the web view; a failure there is not the run's.
                    (void)FleetState(app->programFolder())
                        .RecordInventory({row}, CurrentClock().Now());
                    return row;
                };
            },
            [this](const std::vector<InventoryRow>& rows) {
                // Failures, recoveries and updates told as quellin inventory
                // tells them; a notice that cannot go is logged there.
                const InstallationLayout& layout = session_.installation().layout();
                if (!ReadNoticeSettings(cp932::ToPath(layout.settingsFile())).any())
                    return;
                (void)TellRun(
                    layout,
                    [&](NoticeStates& states) {
                        return InventoryNotices(rows, states, CurrentClock().Now());
                    },
                    {}, session_.reporter());
            });
        inventory_ = new CInventoryDlg(
            std::move(logic), files_, session_.reporter(),
            [this](const std::string& name) { openMaintenanceOf(name); }, this);
        inventory_->setObjectName(QStringLiteral("CInventoryDlg"));
        inventory_->onStart();
    }
    inventory_->show();
    inventory_->raise();
    inventory_->activateWindow();
}

void CNEXORADlg::openMaintenanceOf(const std::string& name) {
    const std::optional<int> row = session_.book().Find(name);
    if (!row)
        return;
    selectRows({*row});
    ui_->id1004->scrollTo(model_->index(*row, 0));
    emit maintenanceRequested({*row});
    openMaintenance(*row);
}

void CNEXORADlg::onHelp() {
    if (!isPlainEnabled(kCmdHelp))
        return;
    openHelp_(FromCp932(session_.app().layout().helpPage()));
}

void CNEXORADlg::onAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CNEXORADlg::onExit() {
    if (exiting_)
        return;
    exiting_ = true;
    session_.Exit();
    done(QDialog::Accepted);
}

void CNEXORADlg::reject() {
    onExit();
}

void CNEXORADlg::closeEvent(QCloseEvent* event) {
    onExit();
    event->accept();
}

}  // namespace quellin::console
