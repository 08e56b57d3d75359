#include "maintenance_dialog.h"

#include "qt_text.h"
#include "ui_maintenance_dialog.h"

namespace quellin::console {

CMainteDlg::CMainteDlg(MaintenanceDialogLogic& logic, QWidget* parent)
    : QDialog(parent), logic_(logic), ui_(std::make_unique<Ui::CMainteDlg>()) {
    ui_->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowTitle(FromCp932(logic_.Caption()));
    showTimes();
    SetUpOperationControls(this, *ui_, [this](Operation operation, const std::string& time) {
        logic_.Run(operation, time);
    });
    showSchedule();
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

}  // namespace quellin::console
