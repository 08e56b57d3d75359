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

    connect(ui_->id1017, &QPushButton::clicked, this, [this] {
        if (auto path = files_.OpenFile(this, QString(), Tr("全てのファイル(*.*) (*)")))
            configFile_ = *path;
        ui_->id1008->setText(configFile_);
    });
    connect(ui_->id4, &QPushButton::clicked, this, [this] {
        for (QLineEdit* edit :
             {ui_->id1016, ui_->id1018, ui_->id1021, ui_->id1019, ui_->id1020, ui_->id1008})
            edit->clear();
    });
    // The passwords are typed unseen, and shown only on request.
    connect(ui_->id1058, &QCheckBox::toggled, this, [this](bool shown) {
        for (QLineEdit* edit : {ui_->id1021, ui_->id1020})
            edit->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
    });
    connect(ui_->id3, &QPushButton::clicked, this, [this] { logic_.Apply(fields()); });
    connect(ui_->id1, &QPushButton::clicked, this, [this] {
        DeviceFields f = fields();
        // A refused deletion leaves the typed texts; a confirmed one empties them.
        if (logic_.Ok(f) == DeviceSettingsLogic::OkResult::StayOpen)
            return;
        showFields(f);
        accept();
    });
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
    return {.name = ToCp932Lossy(ui_->id1016->text()),
            .address = IpControlText(ui_->id1018->text().toStdString()),
            .password = ToCp932Lossy(ui_->id1021->text()),
            .accessId = ToCp932Lossy(ui_->id1019->text()),
            .accessPassword = ToCp932Lossy(ui_->id1020->text()),
            .configFile = ToCp932Lossy(ui_->id1008->text())};
}

}  // namespace quellin::console
