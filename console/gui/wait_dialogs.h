// The please-wait windows shown while a router operation runs.  Both are
// modeless, have no buttons and cannot be closed by the operator; at most one
// of each exists at a time.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class CWaitDlg;
class CWaitPluralDlg;
}  // namespace Ui

namespace quellin::console {

class CWaitDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CWaitDlg(QWidget* owner);
    ~CWaitDlg() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::unique_ptr<Ui::CWaitDlg> ui_;
};

class CWaitPluralDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CWaitPluralDlg(QWidget* owner);
    ~CWaitPluralDlg() override;

    void setTexts(const QString& deviceName, const QString& message);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

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
