#pragma once

#include "device_settings.h"

#include <QDialog>

#include <memory>

namespace Ui {
class CBaseDlg;
}

namespace quellin {
class FileDialogs;
}

namespace quellin::console {

// "装置設定": registers, changes or deletes the device of one list row.
class CBaseDlg final : public QDialog {
    Q_OBJECT
public:
    CBaseDlg(DeviceSettingsLogic& logic, FileDialogs& files, QWidget* parent = nullptr);
    ~CBaseDlg() override;

    DeviceFields fields() const;

private:
    void showFields(const DeviceFields& fields);

    DeviceSettingsLogic& logic_;
    FileDialogs& files_;
    std::unique_ptr<Ui::CBaseDlg> ui_;
    QString configFile_;
};

}  // namespace quellin::console
