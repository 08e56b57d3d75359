#pragma once

#include "environment_settings.h"

#include <QDialog>

#include <memory>

namespace Ui {
class CConfigDlg;
}

namespace quellin {
class FileDialogs;
}

namespace quellin::console {

// "環境設定": the software and log folders.
class CConfigDlg final : public QDialog {
    Q_OBJECT
public:
    CConfigDlg(EnvironmentSettingsLogic& logic, const ConsoleSettings& settings, FileDialogs& files,
               QWidget* parent = nullptr);
    ~CConfigDlg() override;

private:
    // The folder picker starts at the current folder; a cancelled one
    // leaves it.
    void browse(const char* title, QString& folder);
    void showFolders();

    EnvironmentSettingsLogic& logic_;
    FileDialogs& files_;
    std::unique_ptr<Ui::CConfigDlg> ui_;
    QString firmDir_;
    QString logDir_;
};

}  // namespace quellin::console
