// The please-wait windows shown while a router operation runs.  Both are
// modeless, have no buttons and cannot be closed by the operator; at most one
// of each exists at a time.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class CWaitPluralDlg;
}

namespace quellin::console {

// What both windows share: modal for the whole application, and neither the
// close box nor a key closes them.
class WaitWindow : public QDialog {
public:
    explicit WaitWindow(QWidget* owner);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

class CWaitDlg final : public WaitWindow {
    Q_OBJECT
public:
    explicit CWaitDlg(QWidget* owner);
};

class CWaitPluralDlg final : public WaitWindow {
    Q_OBJECT
public:
    explicit CWaitPluralDlg(QWidget* owner);
    ~CWaitPluralDlg() override;

    void setTexts(const QString& deviceName, const QString& message);

private:
    std::unique_ptr<Ui::CWaitPluralDlg> ui_;
};

// "しばらくお待ちください ･･･" in its own window.
void ShowWaitDialog(QWidget* owner);
void CloseWaitDialog();

// "対象装置名 :" with the device name and a message.
void ShowDeviceWaitDialog(QWidget* owner, const QString& deviceName, const QString& message);
void UpdateDeviceWaitDialog(const QString& deviceName, const QString& message);
void CloseDeviceWaitDialog();

// The open windows, or nullptr (for tests).
CWaitDlg* CurrentWaitDialog();
CWaitPluralDlg* CurrentDeviceWaitDialog();

}  // namespace quellin::console
