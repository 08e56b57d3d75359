#include "environment_dialog.h"

#include "file_dialogs.h"
#include "qt_text.h"
#include "ui_environment_dialog.h"

namespace quellin::console {

int CBrowseFolderDialog::Run(QWidget* owner, const QString& initialFolder) {
    chosen_.clear();
    auto folder = files_.ChooseFolder(owner, title_, initialFolder);
    if (!folder)
        return 2;
    chosen_ = *folder;
    return 1;
}

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
    CBrowseFolderDialog browser(files_, Tr(title));
    if (browser.Run(this, folder) == 1)
        folder = browser.chosenPath();
    showFolders();
}

}  // namespace quellin::console
