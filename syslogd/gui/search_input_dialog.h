// frmInput: edits one entry of the search table for the settings window.
#pragma once

#include "message_box.h"
#include "settings_form.h"

#include <QDialog>

#include <memory>

namespace Ui {
class frmInput;
}

namespace quellin::syslogd {

class SearchInputDialog final : public QDialog {
    Q_OBJECT

public:
    // Empty for 追加; filled from the selected row for 変更.
    SearchInputDialog(MessageBoxes& boxes, const SearchEntry& initial, QWidget* parent = nullptr);
    ~SearchInputDialog() override;

    // The entry as stored once the dialog was accepted.
    SearchEntry entry() const { return EntryFromForm(form_); }

private:
    void Fill();
    void Refresh();
    void OnOk();

    std::unique_ptr<Ui::frmInput> ui_;
    MessageBoxes& boxes_;
    SearchInputForm form_;
};

}  // namespace quellin::syslogd
