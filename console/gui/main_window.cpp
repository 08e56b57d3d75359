#include "main_window.h"

#include "about_dialog.h"
#include "app_icon.h"
#include "codec.h"
#include "device_list_model.h"
#include "device_settings_dialog.h"
#include "environment_dialog.h"
#include "maintenance_dialog.h"
#include "multi_maintenance_dialog.h"
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

CNEXORADlg::CNEXORADlg(MainWindowLogic& logic, FileDialogs& files, Maintenance& maintenance,
                       OperationWaiter& waiter, SyslogControl& syslog, QWidget* parent)
    : QDialog(parent),
      logic_(logic),
      files_(files),
      maintenance_(maintenance),
      waiter_(waiter),
      syslog_(syslog),
      ui_(std::make_unique<Ui::CNEXORADlg>()) {
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

    LoadDeviceList();
    syslog_.RemoveWebService(SyslogControl::ServiceCheck::kStartUp);
    setStatusFont();
    scheduler_ = std::make_unique<LogScheduler>(logic_.mutableDevices(), maintenance_,
                                                logic_.reporter(), waiter_, logic_.busy(),
                                                [this] { return logic_.SaveDevices(); });
    scheduler_->DropExpiredSchedules();
    RefreshSyslogStatus();
    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("timer1"));
    connect(timer_, &QTimer::timeout, this, &CNEXORADlg::onTimer);
    timer_->start(1000);
}

void CNEXORADlg::onTimer() {
    RefreshSyslogStatus();
    scheduler_->RunDueLogCollections();
}

void CNEXORADlg::RefreshSyslogStatus() {
    syslog_.RefreshSyslogStatus();
    const bool running = syslog_.running();
    menuAction(kCmdStartSyslog)->setEnabled(!running);
    menuAction(kCmdStopSyslog)->setEnabled(running);
    ui_->id1031->setText(FromCp932(syslog_.statusText()));
    QPalette palette = ui_->id1031->palette();
    palette.setColor(QPalette::WindowText, running ? QColor(0, 0, 255) : QColor(0, 0, 0));
    ui_->id1031->setPalette(palette);
}

void CNEXORADlg::onStartSyslog() {
    if (!isPlainEnabled(kCmdStartSyslog))
        return;
    syslog_.StartSyslogServer();
    menuAction(kCmdStartSyslog)->setEnabled(!syslog_.running());
    menuAction(kCmdStopSyslog)->setEnabled(syslog_.running());
}

void CNEXORADlg::onStopSyslog() {
    if (!isPlainEnabled(kCmdStopSyslog))
        return;
    if (syslog_.StopSyslogServer()) {
        menuAction(kCmdStopSyslog)->setEnabled(false);
        menuAction(kCmdStartSyslog)->setEnabled(true);
    }
}

void CNEXORADlg::onSessionEnd() {
    if (exiting_)
        return;
    exiting_ = true;
    syslog_.StopSyslogServer();
    syslog_.RemoveWebService(SyslogControl::ServiceCheck::kSessionEnd);
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

void CNEXORADlg::LoadDeviceList() {
    logic_.LoadDeviceList();
    auto* oldModel = model_;
    model_ = new DeviceListModel(logic_.devices(), this);
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
    logic_.SaveDevices();
}

void CNEXORADlg::setHelpOpener(std::function<void(const QString&)> opener) {
    openHelp_ = std::move(opener);
}

void CNEXORADlg::onSettings() {
    if (auto row = logic_.RowForSettings(selectedRows()))
        openDeviceSettings(*row);
}

void CNEXORADlg::openDeviceSettings(int row) {
    emit deviceSettingsRequested(row);
    DeviceSettingsLogic settings(logic_.device(row), logic_.reporter(), logic_.app().registryPath(),
                                 [this] { SaveAndRefreshSelection(); });
    CBaseDlg dialog(settings, files_, this);
    dialog.exec();
}

void CNEXORADlg::onEnvironment() {
    EnvironmentSettingsLogic environment(logic_.app().settings(), logic_.app().programFolder(),
                                         logic_.reporter());
    CConfigDlg dialog(environment, logic_.app().settings(), files_, this);
    dialog.exec();
}

void CNEXORADlg::onMaintenance() {
    auto rows = logic_.RowsForMaintenance(selectedRows());
    if (rows.empty())
        return;
    emit maintenanceRequested(rows);
    if (rows.size() == 1) {
        openMaintenance(rows.front());
        return;
    }
    std::vector<CBase*> devices;
    for (int row : rows)
        devices.push_back(&logic_.device(row));
    MultiMaintenanceLogic multi(std::move(devices), maintenance_, logic_.reporter(), waiter_,
                                logic_.busy(), [this] { SaveAndRefreshSelection(); });
    CMainteDlgMulti dialog(multi, this);
    dialog.exec();
}

void CNEXORADlg::openMaintenance(int row) {
    MaintenanceDialogLogic logic(logic_.device(row), maintenance_, logic_.reporter(), waiter_,
                                 logic_.busy(), [this] { SaveAndRefreshSelection(); });
    CMainteDlg dialog(logic, this);
    dialog.exec();
}

void CNEXORADlg::onHelp() {
    if (!isPlainEnabled(kCmdHelp))
        return;
    openHelp_(FromCp932(logic_.app().programFolder() + "/Quellin_tool.html"));
}

void CNEXORADlg::onAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CNEXORADlg::onExit() {
    if (exiting_)
        return;
    exiting_ = true;
    syslog_.StopSyslogServer();
    logic_.LogExit();
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
