#include "search_input_dialog.h"

#include "form_binding.h"
#include "ui_search_input_dialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace quellin::syslogd {
SearchInputDialog::SearchInputDialog(MessageBoxes& boxes, const SearchEntry& initial,
                                     QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::frmInput>()),
      boxes_(boxes),
      form_(FormFromEntry(initial)) {
    ui_->setupUi(this);
    Fill();
    connect(ui_->cmdOK, &QPushButton::clicked, this, &SearchInputDialog::OnOk);
    connect(ui_->cmdExit, &QPushButton::clicked, this, &QDialog::reject);
    Refresh();
}

SearchInputDialog::~SearchInputDialog() = default;

void SearchInputDialog::Fill() {
    BindText(ui_->txt_SearchStr, form_.searchStr);
    BindText(ui_->txt_DispStr, form_.dispStr);
    BindText(ui_->txt_Subject, form_.subject);
    BindText(ui_->txt_To, form_.to);
    BindText(ui_->txt_Data, form_.data);
    BindText(ui_->txt_From, form_.from);
    ui_->chk_Default->setChecked(form_.useMessageItself);
    ui_->chk_MailSend->setChecked(form_.mailSend);
    ui_->chk_NoPopMail->setChecked(form_.noPopup);
    connect(ui_->chk_Default, &QCheckBox::toggled, this, [this](bool on) {
        form_.useMessageItself = on;
        Refresh();
    });
    connect(ui_->chk_MailSend, &QCheckBox::toggled, this, [this](bool on) {
        form_.mailSend = on;
        Refresh();
    });
    connect(ui_->chk_NoPopMail, &QCheckBox::toggled, this, [this](bool on) { form_.noPopup = on; });
}

void SearchInputDialog::Refresh() {
    ui_->txt_DispStr->setEnabled(!form_.useMessageItself);
    ui_->id410->setEnabled(!form_.useMessageItself);
    const std::initializer_list<QWidget*> mailControls = {
        ui_->txt_Subject, ui_->txt_To, ui_->txt_Data, ui_->txt_From, ui_->chk_NoPopMail,
        ui_->id411,       ui_->id412,  ui_->id413,    ui_->id414};
    for (QWidget* w : mailControls)
        w->setEnabled(form_.mailSend);
}

void SearchInputDialog::OnOk() {
    if (auto warning = CheckSearchInput(form_)) {
        boxes_.Show({ToCp932Lossy(windowTitle()), *warning, MsgIcon::Exclamation});
        return;
    }
    accept();
}

}  // namespace quellin::syslogd
