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

constexpr Qt::WindowFlags kNoCloseButton =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;

void Repaint(QWidget* window) {
    window->repaint();
}

}  // namespace

CWaitDlg::CWaitDlg(QWidget* owner)
    : QDialog(owner, kNoCloseButton), ui_(std::make_unique<Ui::CWaitDlg>()) {
    ui_->setupUi(this);
    ui_->idStatic->setText(Tr("しばらくお待ちください ･･･"));
    // Shown while an operation runs on a worker thread: nothing else may be
    // started meanwhile.
    setWindowModality(Qt::ApplicationModal);
}

CWaitDlg::~CWaitDlg() = default;

void CWaitDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
}

void CWaitDlg::keyPressEvent(QKeyEvent* event) {
    event->ignore();
}

CWaitPluralDlg::CWaitPluralDlg(QWidget* owner)
    : QDialog(owner, kNoCloseButton), ui_(std::make_unique<Ui::CWaitPluralDlg>()) {
    ui_->setupUi(this);
    ui_->id1032->setText(Tr("対象装置名 :"));
    setWindowModality(Qt::ApplicationModal);
}

CWaitPluralDlg::~CWaitPluralDlg() = default;

void CWaitPluralDlg::setTexts(const QString& deviceName, const QString& message) {
    ui_->id1031->setText(deviceName);
    ui_->idMessage->setText(message);
}

void CWaitPluralDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
}

void CWaitPluralDlg::keyPressEvent(QKeyEvent* event) {
    event->ignore();
}

void ShowWaitDialog(QWidget* owner) {
    CloseWaitDialog();
    g_wait = new CWaitDlg(owner);
    g_wait->setAttribute(Qt::WA_DeleteOnClose, false);
    g_wait->show();
    Repaint(g_wait);
}

void CloseWaitDialog() {
    if (g_wait)
        delete g_wait.data();
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
    Repaint(g_deviceWait);
}

void CloseDeviceWaitDialog() {
    if (g_deviceWait)
        delete g_deviceWait.data();
}

CWaitDlg* CurrentWaitDialog() {
    return g_wait.data();
}
CWaitPluralDlg* CurrentDeviceWaitDialog() {
    return g_deviceWait.data();
}

}  // namespace quellin::console
