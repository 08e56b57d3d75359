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

// The folder picker of the environment dialog: starts at the current folder
// and answers nothing when cancelled.
class CBrowseFolderDialog {
public:
    CBrowseFolderDialog(FileDialogs& files, QString title)
        : files_(files), title_(std::move(title)) {}
    // 1 chosen, 2 cancelled (the chosen path is then empty).
    int Run(QWidget* owner, const QString& initialFolder);
    const QString& chosenPath() const { return chosen_; }

private:
    FileDialogs& files_;
    QString title_;
    QString chosen_;
};

// "環境設定": the software and log folders.
class CConfigDlg final : public QDialog {
    Q_OBJECT
public:
    CConfigDlg(EnvironmentSettingsLogic& logic, const ConsoleSettings& settings, FileDialogs& files,
               QWidget* parent = nullptr);
    ~CConfigDlg() override;

private:
    void browse(const char* title, QString& folder);
    void showFolders();

    EnvironmentSettingsLogic& logic_;
    FileDialogs& files_;
    std::unique_ptr<Ui::CConfigDlg> ui_;
    QString firmDir_;
    QString logDir_;
};

}  // namespace quellin::console
