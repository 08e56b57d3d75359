#include "multi_maintenance_dialog.h"

#include "clock.h"
#include "maintenance_dialog.h"
#include "ui_multi_maintenance_dialog.h"

#include <QDateTime>

namespace quellin::console {

CMainteDlgMulti::CMainteDlgMulti(MultiMaintenanceLogic& logic, QWidget* parent)
    : QDialog(parent), logic_(logic), ui_(std::make_unique<Ui::CMainteDlgMulti>()) {
    ui_->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    const QDateTime now = QDateTime::fromSecsSinceEpoch(CurrentClock().Now());
    for (QDateEdit* date : {ui_->id1021, ui_->id1029})
        date->setDate(now.date());
    for (QTimeEdit* time : {ui_->id1022, ui_->id1030}) {
        time->setDisplayFormat(QStringLiteral("HH:mm"));
        time->setTime(now.time());
    }
    FillChoices(ui_->id1034, LogIntervalTable, 6);
    FillChoices(ui_->id1035, LogCountTable, 10);

    connect(ui_->id1020, &QPushButton::clicked, this,
            [this] { run(MaintenanceAction::kApplyNow); });
    connect(ui_->id1023, &QPushButton::clicked, this,
            [this] { run(MaintenanceAction::kApplyScheduled); });
    connect(ui_->id1024, &QPushButton::clicked, this,
            [this] { run(MaintenanceAction::kUpdateNow); });
    connect(ui_->id1036, &QPushButton::clicked, this,
            [this] { run(MaintenanceAction::kUpdateScheduled); });
    connect(ui_->id1025, &QPushButton::clicked, this,
            [this] { run(MaintenanceAction::kCollectNow); });
    connect(ui_->id1037, &QPushButton::clicked, this, [this] {
        logic_.RegisterSchedule(ui_->id1034->currentText().toStdString(),
                                ui_->id1035->currentText().toStdString());
    });
    connect(ui_->id1038, &QPushButton::clicked, this, [this] { logic_.DeleteSchedule(); });
    connect(ui_->id2, &QPushButton::clicked, this, &QDialog::accept);
}

CMainteDlgMulti::~CMainteDlgMulti() = default;

void CMainteDlgMulti::run(MaintenanceAction action) {
    std::string time;
    if (action == MaintenanceAction::kApplyScheduled ||
        action == MaintenanceAction::kUpdateScheduled) {
        const bool config = action == MaintenanceAction::kApplyScheduled;
        const QDate date = (config ? ui_->id1021 : ui_->id1029)->date();
        const QTime clock = (config ? ui_->id1022 : ui_->id1030)->time();
        time = ScheduleDigits(date.year(), date.month(), date.day(), clock.hour(), clock.minute());
    }
    logic_.Run(action, time);
}

}  // namespace quellin::console
