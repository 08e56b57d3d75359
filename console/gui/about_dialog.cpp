#include "about_dialog.h"

#include "app_icon.h"
#include "ui_about_dialog.h"

namespace quellin::console {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    Ui::CAboutDlg ui;
    ui.setupUi(this);
    ui.iconLabel->setPixmap(AppIcon().pixmap(32, 32));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
}

}  // namespace quellin::console
