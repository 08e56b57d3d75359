// frmSetting: every Syslogd setting on four tabs.  OK checks the entries,
// applies them to the running program and writes Syslogd.ini; キャンセル
// discards every edit.
#pragma once

#include "dialog_seams.h"
#include "message_box.h"
#include "settings_form.h"

#include <QDialog>

#include <array>
#include <filesystem>
#include <functional>
#include <memory>

class QCheckBox;
class QTreeWidgetItem;

namespace Ui {
class frmSetting;
}

namespace quellin::syslogd {

// The tabs, as the 設定 menu opens them; the mail transport and forwarding
// tabs follow and are reached from the window.
enum class SettingsTab {
    Operation = 0,
    Screen = 1,
    Log = 2,
    DisplayFilter = 3,
    Mail = 4,
    Forwarding = 5
};

class SettingsWindow final : public QDialog {
    Q_OBJECT

public:
    struct Services {
        MessageBoxes* messageBoxes = nullptr;
        ListFileDialogs* fileDialogs = nullptr;
        std::filesystem::path settingsFile;
        // Called once the new colours are in the settings.
        std::function<void()> colorsChanged;
    };

    SettingsWindow(SyslogdSettings& settings, Services services, SettingsTab tab,
                   QWidget* parent = nullptr);
    ~SettingsWindow() override;

    const SettingsForm& form() const { return form_; }
    ColorWindow colorWindow() const;
    QCheckBox* levelBox(int index) const { return levelBoxes_.at(static_cast<std::size_t>(index)); }
    QCheckBox* facilityBox(int index) const {
        return facilityBoxes_.at(static_cast<std::size_t>(index));
    }
    QCheckBox* allLevelsBox() const;
    QCheckBox* allFacilitiesBox() const;

private:
    void Fill(SettingsTab tab);
    void ConnectControls();
    // Each check box and radio button writes its field of the form.
    void ConnectToggles();
    void Refresh();
    void RefreshColors();
    void FillRows();
    int CurrentRow() const;
    void AddRow();
    void EditRow();
    void DeleteRow();
    void PickColor(bool background);
    void ChooseWaveFile();
    void ChooseLogFile();
    void ChooseCAFile();
    void OnOk();

    std::unique_ptr<Ui::frmSetting> ui_;
    SyslogdSettings& settings_;
    Services services_;
    SettingsForm form_;
    std::size_t maxRows_;
    int shownTab_ = 0;
    std::array<QCheckBox*, kLevelCount> levelBoxes_{};
    std::array<QCheckBox*, kFacilityCount> facilityBoxes_{};
};

}  // namespace quellin::syslogd
