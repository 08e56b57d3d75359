#pragma once

#include "maintenance_dialog_logic.h"

#include <QDialog>

#include <memory>

class QComboBox;

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
    void run(MaintenanceDialogLogic::Action action);
    std::string plannedTime(MaintenanceDialogLogic::Action action) const;

    MaintenanceDialogLogic& logic_;
    std::unique_ptr<Ui::CMainteDlg> ui_;
};

// Fills a drop-down list from one of the schedule tables.
void FillChoices(QComboBox* list, const ListChoice* table, int count);

}  // namespace quellin::console
