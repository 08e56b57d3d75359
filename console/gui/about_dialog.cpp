#include "about_dialog.h"

#include "app_icon.h"
#include "ui_about_dialog.h"

namespace quellin::console {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::CAboutDlg>()) {
    ui_->setupUi(this);
    ui_->iconLabel->setPixmap(AppIcon().pixmap(32, 32));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
}

CAboutDlg::~CAboutDlg() = default;

}  // namespace quellin::console
