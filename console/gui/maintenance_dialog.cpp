#include "maintenance_dialog.h"

#include "clock.h"
#include "qt_text.h"
#include "ui_maintenance_dialog.h"

#include <QDateTime>

namespace quellin::console {

void FillChoices(QComboBox* list, const ListChoice* table, int count) {
    list->clear();
    for (int i = 0; i < count; ++i)
        list->addItem(Tr(table[i].text));
}

CMainteDlg::CMainteDlg(MaintenanceDialogLogic& logic, QWidget* parent)
    : QDialog(parent), logic_(logic), ui_(std::make_unique<Ui::CMainteDlg>()) {
    ui_->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowTitle(FromCp932(logic_.Caption()));

    const QDateTime now = QDateTime::fromSecsSinceEpoch(CurrentClock().Now());
    for (QDateEdit* date : {ui_->id1021, ui_->id1029})
        date->setDate(now.date());
    for (QTimeEdit* time : {ui_->id1022, ui_->id1030}) {
        time->setDisplayFormat(QStringLiteral("HH:mm"));
        time->setTime(now.time());
    }
    showTimes();
    FillChoices(ui_->id1034, LogIntervalTable, 6);
    FillChoices(ui_->id1035, LogCountTable, 10);
    showSchedule();

    using Action = MaintenanceDialogLogic::Action;
    connect(ui_->id1020, &QPushButton::clicked, this, [this] { run(Action::kApplyNow); });
    connect(ui_->id1023, &QPushButton::clicked, this, [this] { run(Action::kApplyScheduled); });
    connect(ui_->id1024, &QPushButton::clicked, this, [this] { run(Action::kUpdateNow); });
    connect(ui_->id1036, &QPushButton::clicked, this, [this] { run(Action::kUpdateScheduled); });
    connect(ui_->id1025, &QPushButton::clicked, this, [this] { run(Action::kCollectNow); });
    connect(ui_->id1037, &QPushButton::clicked, this, [this] {
        logic_.ToggleSchedule(ui_->id1034->currentText().toStdString(),
                              ui_->id1035->currentText().toStdString());
        showSchedule();
    });
    connect(ui_->id2, &QPushButton::clicked, this, &QDialog::accept);
    logic_.setStampDisplay([this] { showTimes(); });
}

CMainteDlg::~CMainteDlg() {
    logic_.setStampDisplay(nullptr);
}

void CMainteDlg::showTimes() {
    const CBase& d = logic_.device();
    ui_->id1026->setText(FromCp932(MaintenanceTimeText(d.lastConfigTransfer)));
    ui_->id1027->setText(FromCp932(MaintenanceTimeText(d.lastFirmwareUpdate)));
    ui_->id1028->setText(FromCp932(MaintenanceTimeText(d.lastLogCollection)));
}

void CMainteDlg::showSchedule() {
    if (auto i = logic_.intervalIndex())
        ui_->id1034->setCurrentIndex(*i);
    if (auto i = logic_.countIndex())
        ui_->id1035->setCurrentIndex(*i);
    ui_->id1031->setText(FromCp932(logic_.nextRunText()));
    ui_->id1037->setText(FromCp932(logic_.scheduleButtonText()));
}

std::string CMainteDlg::plannedTime(MaintenanceDialogLogic::Action action) const {
    using Action = MaintenanceDialogLogic::Action;
    const bool config = action == Action::kApplyScheduled;
    const QDate date = (config ? ui_->id1021 : ui_->id1029)->date();
    const QTime time = (config ? ui_->id1022 : ui_->id1030)->time();
    return ScheduleDigits(date.year(), date.month(), date.day(), time.hour(), time.minute());
}

void CMainteDlg::run(MaintenanceDialogLogic::Action action) {
    using Action = MaintenanceDialogLogic::Action;
    const bool scheduled = action == Action::kApplyScheduled || action == Action::kUpdateScheduled;
    logic_.Run(action, scheduled ? plannedTime(action) : std::string());
}

}  // namespace quellin::console
