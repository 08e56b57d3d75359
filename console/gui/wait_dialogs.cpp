#include "wait_dialogs.h"

#include "qt_text.h"
#include "ui_wait_dialog.h"
#include "ui_wait_plural_dialog.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPointer>

namespace quellin::console {
namespace {

QPointer<CWaitDlg> g_wait;
QPointer<CWaitPluralDlg> g_deviceWait;

}  // namespace

WaitWindow::WaitWindow(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    // Shown while an operation runs on a worker thread: nothing else may be
    // started meanwhile.
    setWindowModality(Qt::ApplicationModal);
}

void WaitWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
}

void WaitWindow::keyPressEvent(QKeyEvent* event) {
    event->ignore();
}

CWaitDlg::CWaitDlg(QWidget* owner) : WaitWindow(owner) {
    Ui::CWaitDlg ui;
    ui.setupUi(this);
    ui.idStatic->setText(Tr("しばらくお待ちください ･･･"));
}

CWaitPluralDlg::CWaitPluralDlg(QWidget* owner)
    : WaitWindow(owner), ui_(std::make_unique<Ui::CWaitPluralDlg>()) {
    ui_->setupUi(this);
    ui_->id1032->setText(Tr("対象装置名 :"));
}

CWaitPluralDlg::~CWaitPluralDlg() = default;

void CWaitPluralDlg::setTexts(const QString& deviceName, const QString& message) {
    ui_->id1031->setText(deviceName);
    ui_->idMessage->setText(message);
}

void ShowWaitDialog(QWidget* owner) {
    CloseWaitDialog();
    g_wait = new CWaitDlg(owner);
    g_wait->setAttribute(Qt::WA_DeleteOnClose, false);
    g_wait->show();
    g_wait->repaint();
}

void CloseWaitDialog() {
    delete g_wait.data();  // nullptr when none is open
}

void ShowDeviceWaitDialog(QWidget* owner, const QString& deviceName, const QString& message) {
    CloseDeviceWaitDialog();
    g_deviceWait = new CWaitPluralDlg(owner);
    g_deviceWait->show();
    UpdateDeviceWaitDialog(deviceName, message);
}

void UpdateDeviceWaitDialog(const QString& deviceName, const QString& message) {
    if (!g_deviceWait)
        return;
    g_deviceWait->setTexts(deviceName, message);
    g_deviceWait->repaint();
}

void CloseDeviceWaitDialog() {
    delete g_deviceWait.data();
}

CWaitDlg* CurrentWaitDialog() {
    return g_wait.data();
}
CWaitPluralDlg* CurrentDeviceWaitDialog() {
    return g_deviceWait.data();
}

}  // namespace quellin::console
