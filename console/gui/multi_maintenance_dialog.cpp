#include "multi_maintenance_dialog.h"

#include "maintenance_dialog.h"
#include "ui_multi_maintenance_dialog.h"

namespace quellin::console {

CMainteDlgMulti::CMainteDlgMulti(MultiMaintenanceLogic& logic, QWidget* parent)
    : QDialog(parent), logic_(logic), ui_(std::make_unique<Ui::CMainteDlgMulti>()) {
    ui_->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    SetUpOperationControls(this, *ui_, [this](Operation operation, const std::string& time) {
        logic_.Run(operation, time);
    });
    connect(ui_->id1037, &QPushButton::clicked, this, [this] {
        logic_.RegisterSchedule(ui_->id1034->currentText().toStdString(),
                                ui_->id1035->currentText().toStdString());
    });
    connect(ui_->id1038, &QPushButton::clicked, this, [this] { logic_.DeleteSchedule(); });
    connect(ui_->id2, &QPushButton::clicked, this, &QDialog::accept);
}

CMainteDlgMulti::~CMainteDlgMulti() = default;

}  // namespace quellin::console
