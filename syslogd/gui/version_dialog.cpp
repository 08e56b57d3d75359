#include "version_dialog.h"

#include "ui_version_dialog.h"

namespace quellin::syslogd {

QString ProgramVersion() {
    return QStringLiteral(QUELLIN_VERSION_TEXT);
}

VersionDialog::VersionDialog(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::frmVersion>()) {
    ui_->setupUi(this);
    ui_->id1002->setText(ui_->id1002->text() + ProgramVersion());
}

VersionDialog::~VersionDialog() = default;

}  // namespace quellin::syslogd
