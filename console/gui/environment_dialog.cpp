#include "environment_dialog.h"

#include "file_dialogs.h"
#include "qt_text.h"
#include "ui_environment_dialog.h"

namespace quellin::console {

CConfigDlg::CConfigDlg(EnvironmentSettingsLogic& logic, const ConsoleSettings& settings,
                       FileDialogs& files, QWidget* parent)
    : QDialog(parent),
      logic_(logic),
      files_(files),
      ui_(std::make_unique<Ui::CConfigDlg>()),
      firmDir_(FromCp932(settings.firmDir)),
      logDir_(FromCp932(settings.logDir)) {
    ui_->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    showFolders();
    connect(ui_->id1011, &QPushButton::clicked, this,
            [this] { browse("ソフトウェア格納フォルダを選択してください", firmDir_); });
    connect(ui_->id1013, &QPushButton::clicked, this,
            [this] { browse("ログファイル格納フォルダを選択してください", logDir_); });
    connect(ui_->id3, &QPushButton::clicked, this, [this] {
        logic_.Apply(ToCp932Lossy(ui_->id1010->text()), ToCp932Lossy(ui_->id1012->text()));
    });
    connect(ui_->id1, &QPushButton::clicked, this, [this] {
        if (logic_.Ok(ToCp932Lossy(ui_->id1010->text()), ToCp932Lossy(ui_->id1012->text())))
            accept();
    });
    connect(ui_->id2, &QPushButton::clicked, this, &QDialog::reject);
}

CConfigDlg::~CConfigDlg() = default;

void CConfigDlg::showFolders() {
    ui_->id1010->setText(firmDir_);
    ui_->id1012->setText(logDir_);
}

void CConfigDlg::browse(const char* title, QString& folder) {
    if (auto chosen = files_.ChooseFolder(this, Tr(title), folder))
        folder = *chosen;
    showFolders();
}

}  // namespace quellin::console
