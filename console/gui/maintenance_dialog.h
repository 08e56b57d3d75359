#pragma once

#include "clock.h"
#include "maintenance_dialog_logic.h"
#include "qt_text.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDialog>
#include <QPushButton>
#include <QTimeEdit>

#include <memory>
#include <utility>

namespace Ui {
class CMainteDlg;
}

namespace quellin::console {

// The maintenance dialog of one registered device.
class CMainteDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CMainteDlg(MaintenanceDialogLogic& logic, QWidget* parent = nullptr);
    ~CMainteDlg() override;

private:
    void showTimes();
    void showSchedule();

    MaintenanceDialogLogic& logic_;
    std::unique_ptr<Ui::CMainteDlg> ui_;
};

// What both maintenance dialogs share: the date pickers start at today, the
// time pickers ("HH:mm") at the current time, the two lists hold the
// schedule tables, and the five operation buttons call
// run(operation, planned time) with the time of their group's pickers.
template <typename Ui, typename Run>
void SetUpOperationControls(QDialog* dialog, Ui& ui, Run run) {
    const QDateTime now = QDateTime::fromSecsSinceEpoch(CurrentClock().Now());
    for (QDateEdit* date : {ui.id1021, ui.id1029})
        date->setDate(now.date());
    for (QTimeEdit* time : {ui.id1022, ui.id1030}) {
        time->setDisplayFormat(QStringLiteral("HH:mm"));
        time->setTime(now.time());
    }
    for (const ListChoice& choice : LogIntervalTable)
        ui.id1034->addItem(Tr(choice.text));
    for (const ListChoice& choice : LogCountTable)
        ui.id1035->addItem(Tr(choice.text));
    const std::pair<QPushButton*, Operation> buttons[] = {{ui.id1020, Operation::kApplyConfig},
                                                          {ui.id1023, Operation::kApplyConfigAt},
                                                          {ui.id1024, Operation::kUpdateFirmware},
                                                          {ui.id1036, Operation::kUpdateFirmwareAt},
                                                          {ui.id1025, Operation::kCollectLog}};
    for (const auto& [button, operation] : buttons) {
        QObject::connect(button, &QPushButton::clicked, dialog, [&ui, run, operation = operation] {
            std::string time;
            if (RowOf(operation).scheduled) {
                const bool config = operation == Operation::kApplyConfigAt;
                const QDate date = (config ? ui.id1021 : ui.id1029)->date();
                const QTime clock = (config ? ui.id1022 : ui.id1030)->time();
                time = ScheduleDigits(date.year(), date.month(), date.day(), clock.hour(),
                                      clock.minute());
            }
            run(operation, time);
        });
    }
}

}  // namespace quellin::console
