#include "setup_windows.h"

#include "codec.h"
#include "file_dialogs.h"
#include "license_text.h"
#include "message_box.h"
#include "qt_text.h"
#include "ui_form1.h"
#include "ui_form2.h"
#include "ui_frmlisense.h"

#include <QApplication>
#include <QCloseEvent>

namespace quellin::setup {

void SetupWindow::closeByButton() {
    closingByButton_ = true;
    close();
}

void SetupWindow::closeEvent(QCloseEvent* event) {
    if (closingByButton_)
        event->accept();
    else
        event->ignore();
}

Form1::Form1(QWidget* parent) : SetupWindow(parent), ui_(std::make_unique<Ui::Form1>()) {
    ui_->setupUi(this);
    connect(ui_->Command2, &QPushButton::clicked, this, &Form1::nextClicked);
    connect(ui_->Command1, &QPushButton::clicked, this, &Form1::cancelClicked);
}

Form1::~Form1() = default;

frmlisense::frmlisense(const std::string& text, QWidget* parent)
    : SetupWindow(parent), ui_(std::make_unique<Ui::frmlisense>()) {
    ui_->setupUi(this);
    QString shown = FromCp932(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    ui_->Text1->setPlainText(shown);
    connect(ui_->Command2, &QPushButton::clicked, this, &frmlisense::acceptClicked);
    connect(ui_->Command1, &QPushButton::clicked, this, &frmlisense::declineClicked);
    connect(ui_->Command3, &QPushButton::clicked, this, &frmlisense::backClicked);
}

frmlisense::~frmlisense() = default;

Form2::Form2(QWidget* parent) : SetupWindow(parent), ui_(std::make_unique<Ui::Form2>()) {
    ui_->setupUi(this);
    ui_->lbl_wait->setVisible(false);
    ui_->txt_setupPath->setText(QString::fromUtf8(kDefaultFolder));
    connect(ui_->Command3, &QPushButton::clicked, this, &Form2::browseClicked);
    connect(ui_->Command2, &QPushButton::clicked, this, &Form2::startClicked);
    connect(ui_->Command1, &QPushButton::clicked, this, &Form2::cancelClicked);
}

Form2::~Form2() = default;

QString Form2::folderText() const {
    return ui_->txt_setupPath->text();
}

void Form2::setFolderText(const QString& text) {
    ui_->txt_setupPath->setText(text);
}

void Form2::setBusy(bool busy) {
    ui_->lbl_wait->setVisible(busy);
    for (QWidget* control :
         {static_cast<QWidget*>(ui_->Command1), static_cast<QWidget*>(ui_->Command2),
          static_cast<QWidget*>(ui_->Command3), static_cast<QWidget*>(ui_->txt_setupPath)})
        control->setEnabled(!busy);
    if (busy) {
        ui_->lbl_wait->repaint();
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

SetupWizard::SetupWizard(std::filesystem::path mediumFolder, CInstaller& installer,
                         MessageBoxes& boxes, FileDialogs& files, QObject* parent)
    : QObject(parent),
      medium_(std::move(mediumFolder)),
      installer_(installer),
      boxes_(boxes),
      files_(files) {}

SetupWizard::~SetupWizard() {
    for (QWidget* window : {static_cast<QWidget*>(welcome_), static_cast<QWidget*>(license_),
                            static_cast<QWidget*>(folder_)})
        delete window;
}

void SetupWizard::start() {
    showWelcome();
}

MsgAnswer SetupWizard::show(const SetupMessage& message, MsgButtons buttons,
                            MsgAnswer defaultButton) {
    return boxes_.Show({cp932::Jp(kCaption), message.text, message.icon, buttons, defaultButton});
}

bool SetupWizard::confirmCancel(QWidget* owner) {
    owner->activateWindow();
    return show({cp932::Jp(kCancelQuestion), MsgIcon::Exclamation}, MsgButtons::YesNo,
                MsgAnswer::No) == MsgAnswer::Yes;
}

void SetupWizard::closeWindow(SetupWindow*& window) {
    if (window == nullptr)
        return;
    window->closeByButton();
    window->deleteLater();
    window = nullptr;
}

void SetupWizard::showWelcome() {
    if (welcome_ == nullptr) {
        welcome_ = new Form1();
        connect(welcome_, &Form1::nextClicked, this, [this] {
            welcome_->hide();
            showLicense();
        });
        connect(welcome_, &Form1::cancelClicked, this, [this] {
            if (confirmCancel(welcome_))
                emit finished();
        });
    }
    welcome_->show();
}

void SetupWizard::showLicense() {
    LicenseText text = ReadLicenseText(medium_);
    license_ = new frmlisense(text.text);
    connect(license_, &frmlisense::acceptClicked, this, [this] {
        showFolder();
        SetupWindow* welcome = welcome_;
        SetupWindow* license = license_;
        welcome_ = nullptr;
        license_ = nullptr;
        closeWindow(welcome);
        closeWindow(license);
    });
    connect(license_, &frmlisense::declineClicked, this, [this] {
        show({cp932::Jp(kLicenseDeclined), MsgIcon::Exclamation});
    });
    connect(license_, &frmlisense::backClicked, this, [this] {
        showWelcome();
        SetupWindow* license = license_;
        license_ = nullptr;
        closeWindow(license);
    });
    license_->show();
    if (!text.error.empty())
        show({text.error, MsgIcon::Exclamation});
}

void SetupWizard::showFolder() {
    folder_ = new Form2();
    connect(folder_, &Form2::browseClicked, this, &SetupWizard::browse);
    connect(folder_, &Form2::startClicked, this, &SetupWizard::install);
    connect(folder_, &Form2::cancelClicked, this, [this] {
        if (confirmCancel(folder_))
            emit finished();
    });
    folder_->show();
}

void SetupWizard::browse() {
    std::optional<QString> chosen =
        files_.ChooseFolder(folder_, Tr(kBrowseTitle), folder_->folderText());
    if (chosen)
        folder_->setFolderText(*chosen);
}

void SetupWizard::install() {
    // A character without a CP932 form cannot be part of an installation
    // folder that the settings file names.
    std::optional<std::string> text = ToCp932(folder_->folderText());
    std::optional<SetupMessage> failure =
        text ? installer_.PrepareFolder(*text) : SetupMessage{cp932::Jp(kFolderWrong)};
    if (failure) {
        show(*failure);
        return;
    }
    folder_->setBusy(true);
    failure = installer_.CopyAndConfigure();
    folder_->setBusy(false);
    if (failure) {
        // The controls come back so that the user can name another folder
        // or end Setup with its cancel button.
        show(*failure);
        return;
    }
    folder_->hide();
    show({cp932::Jp(kCompleted), MsgIcon::Information});
    SetupWindow* folder = folder_;
    folder_ = nullptr;
    closeWindow(folder);
    emit finished();
}

}  // namespace quellin::setup
