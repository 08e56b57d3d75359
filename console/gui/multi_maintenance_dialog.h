#pragma once

#include "multi_maintenance_logic.h"

#include <QDialog>

#include <memory>

namespace Ui {
class CMainteDlgMulti;
}

namespace quellin::console {

// "複数装置メンテナンス": one operation or schedule on every selected device.
class CMainteDlgMulti final : public QDialog {
    Q_OBJECT
public:
    explicit CMainteDlgMulti(MultiMaintenanceLogic& logic, QWidget* parent = nullptr);
    ~CMainteDlgMulti() override;

private:
    MultiMaintenanceLogic& logic_;
    std::unique_ptr<Ui::CMainteDlgMulti> ui_;
};

}  // namespace quellin::console
