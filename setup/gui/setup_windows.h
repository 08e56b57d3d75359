// The three windows of Setup: welcome (Form1), licence (frmlisense) and
// folder (Form2), and the wizard that leads from one to the next.
#pragma once

#include "installer.h"

#include <QWidget>

#include <filesystem>
#include <memory>

class QCloseEvent;

namespace Ui {
class Form1;
class frmlisense;
class Form2;
}  // namespace Ui

namespace quellin {
class FileDialogs;
class MessageBoxes;
}  // namespace quellin

namespace quellin::setup {

// A window that only its own buttons may close: the title-bar close and
// Alt+F4 are refused without a word.
class SetupWindow : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    // Closes the window on behalf of one of its buttons.
    void closeByButton();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool closingByButton_ = false;
};

class Form1 final : public SetupWindow {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

signals:
    void nextClicked();
    void cancelClicked();

private:
    std::unique_ptr<Ui::Form1> ui_;
};

class frmlisense final : public SetupWindow {
    Q_OBJECT
public:
    // text: the licence text (CP932, lines ending in CR LF).
    explicit frmlisense(const std::string& text, QWidget* parent = nullptr);
    ~frmlisense() override;

signals:
    void acceptClicked();
    void declineClicked();
    void backClicked();

private:
    std::unique_ptr<Ui::frmlisense> ui_;
};

class Form2 final : public SetupWindow {
    Q_OBJECT
public:
    explicit Form2(QWidget* parent = nullptr);
    ~Form2() override;

    QString folderText() const;
    void setFolderText(const QString& text);
    // The wait label, the hourglass and the locked controls of the copy.
    void setBusy(bool busy);

signals:
    void browseClicked();
    void startClicked();
    void cancelClicked();

private:
    std::unique_ptr<Ui::Form2> ui_;
};

// Leads through the windows and runs the installation; emits finished()
// when Setup is to end.
class SetupWizard final : public QObject {
    Q_OBJECT
public:
    SetupWizard(std::filesystem::path mediumFolder, CInstaller& installer, MessageBoxes& boxes,
                FileDialogs& files, QObject* parent = nullptr);
    ~SetupWizard() override;

    void start();

    Form1* welcomeWindow() const { return welcome_; }
    frmlisense* licenseWindow() const { return license_; }
    Form2* folderWindow() const { return folder_; }

signals:
    void finished();

private:
    void showWelcome();
    void showLicense();
    void showFolder();
    bool confirmCancel(QWidget* owner);
    void browse();
    void install();
    void closeWindow(SetupWindow*& window);
    MsgAnswer show(const SetupMessage& message, MsgButtons buttons = MsgButtons::Ok,
                   MsgAnswer defaultButton = MsgAnswer::Ok);

    std::filesystem::path medium_;
    CInstaller& installer_;
    MessageBoxes& boxes_;
    FileDialogs& files_;
    Form1* welcome_ = nullptr;
    frmlisense* license_ = nullptr;
    Form2* folder_ = nullptr;
};

}  // namespace quellin::setup
