#include "device_settings_dialog.h"

#include "file_dialogs.h"
#include "ipv4_validator.h"
#include "qt_text.h"
#include "ui_device_settings_dialog.h"

namespace quellin::console {

CBaseDlg::CBaseDlg(DeviceSettingsLogic& logic, FileDialogs& files, QWidget* parent)
    : QDialog(parent), logic_(logic), files_(files), ui_(std::make_unique<Ui::CBaseDlg>()) {
    ui_->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    ui_->id1018->setValidator(new Ipv4Validator(ui_->id1018));
    showFields(logic_.initialFields());

    connect(ui_->id1017, &QPushButton::clicked, this, &CBaseDlg::onBrowse);
    connect(ui_->id4, &QPushButton::clicked, this, &CBaseDlg::onInitialize);
    connect(ui_->id3, &QPushButton::clicked, this, &CBaseDlg::onApply);
    connect(ui_->id1, &QPushButton::clicked, this, &CBaseDlg::onOk);
    connect(ui_->id2, &QPushButton::clicked, this, &QDialog::reject);
}

CBaseDlg::~CBaseDlg() = default;

void CBaseDlg::showFields(const DeviceFields& f) {
    ui_->id1016->setText(FromCp932(f.name));
    ui_->id1018->setText(FromCp932(f.address));
    ui_->id1021->setText(FromCp932(f.password));
    ui_->id1019->setText(FromCp932(f.accessId));
    ui_->id1020->setText(FromCp932(f.accessPassword));
    configFile_ = FromCp932(f.configFile);
    ui_->id1008->setText(configFile_);
}

DeviceFields CBaseDlg::fields() const {
    DeviceFields f;
    f.name = ToCp932Lossy(ui_->id1016->text());
    f.address = IpControlText(ui_->id1018->text().toStdString());
    f.password = ToCp932Lossy(ui_->id1021->text());
    f.accessId = ToCp932Lossy(ui_->id1019->text());
    f.accessPassword = ToCp932Lossy(ui_->id1020->text());
    f.configFile = ToCp932Lossy(ui_->id1008->text());
    return f;
}

void CBaseDlg::onBrowse() {
    if (auto path = files_.OpenFile(this, QString(), Tr("全てのファイル(*.*) (*)"))) {
        configFile_ = *path;
    }
    ui_->id1008->setText(configFile_);
}

void CBaseDlg::onInitialize() {
    for (QLineEdit* edit :
         {ui_->id1016, ui_->id1018, ui_->id1021, ui_->id1019, ui_->id1020, ui_->id1008}) {
        edit->clear();
    }
}

void CBaseDlg::onApply() {
    logic_.Apply(fields());
}

void CBaseDlg::onOk() {
    DeviceFields f = fields();
    if (logic_.Ok(f) == DeviceSettingsLogic::OkResult::StayOpen) {
        // A refused deletion leaves the typed texts; a confirmed one empties them.
        return;
    }
    showFields(f);
    accept();
}

}  // namespace quellin::console
