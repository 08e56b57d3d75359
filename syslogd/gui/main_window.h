// Main: the message list window.  It shows the rows and carries out the
// alerts (popup, sound, mail) that the receive pipeline hands it, owns the
// popup and the tray icon, and runs the file menu and the one exit routine
// of the program.  Reception, decoding and the log file are the pipeline's,
// on a thread of their own.
#pragma once

#include "dialog_seams.h"
#include "log_list_model.h"
#include "mail_notifier.h"
#include "message_box.h"
#include "popup_window.h"
#include "receive_pipeline.h"
#include "search_window.h"
#include "settings_window.h"
#include "syslog_presenter.h"
#include "syslogd_settings.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>

class QLabel;
class QSystemTrayIcon;
class QTableView;

namespace Ui {
class Main;
}

namespace quellin::syslogd {

class MainWindow final : public QMainWindow {
    Q_OBJECT

public:
    // What the window reaches the world through; every pointer must outlive
    // the window.  Empty functions get the program's own behaviour.
    struct Services {
        SoundPlayer* sound = nullptr;
        MessageBoxes* messageBoxes = nullptr;
        ListFileDialogs* fileDialogs = nullptr;
        MailNotifier* mail = nullptr;
        std::function<void(const QString& path)> openHelp;
        std::function<void()> quit;
    };

    // What reception says of its listeners, in the status area (CP932).
    void SetReceptionNotice(const std::string& text) {
        presenter_.SetReceptionNotice(text);
        UpdateNotice();
    }

    // Items delivered in one turn of the event loop; more wait for the next
    // turn, so that painting and input keep their place.
    static constexpr std::size_t kItemsPerTurn = 200;

    // `settings` is the window thread's copy, which the settings window
    // edits; the pipeline gets a snapshot of it whenever it changes.
    MainWindow(SyslogdSettings& settings, ReceivePipeline& pipeline, Services services,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    // Takes what the pipeline has left for the window and carries out what
    // the presenter makes of it: rows, then alerts, then what the status
    // area has to say.  Called when the pipeline signals; tests call it to
    // deliver at once.
    void DeliverPending();
    // The settings changed on this thread: colours now, and a new snapshot
    // for the pipeline.
    void SettingsApplied();

    // Adds the tray icon when the desktop has a tray; without one, the
    // close box and Esc minimise instead of hiding, so the window stays
    // reachable.
    void InstallTrayIcon();
    bool hidesToTray() const { return hidesToTray_; }
    void SetHidesToTray(bool hides) { hidesToTray_ = hides; }

    void RestoreWindow();
    void HideWindow();
    // 終了: hides the window, removes the tray icon, closes the mail session
    // and the popup, then quits.  Session end and SIGTERM come here too.
    void ExitProgram();

    void StopDisplay();
    void RestartDisplay();
    void ClearList();
    void OpenListFile();
    void SaveListFile();
    void ShowVersion();
    void OpenHelp();
    // 検索: the search window over the syslog store, one at a time.
    void OpenSearch();
    SearchWindow* searchWindow() const { return search_; }

    // Colours from the settings, for the list and an open popup; the
    // settings window calls this after changing them.
    void ApplyColors();
    // The settings window, opened on a tab by the 設定 menu; tests replace
    // it.
    void OpenSettings(SettingsTab tab);
    void SetSettingsWindowOpener(std::function<void(SettingsTab)> opener);

    LogListModel* model() const { return model_; }
    QTableView* list() const;
    PopupWindow* popup() const { return popup_; }
    bool popupShown() const;
    bool displayRunning() const { return pipeline_.displayRunning(); }
    QSystemTrayIcon* trayIcon() const { return tray_; }
    // What the status area at the foot of the window says; empty (and the
    // area hidden) when there is nothing to say.
    QString notice() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ConnectMenus();
    void LayOutList();
    void AddRows(std::vector<ListRow>& rows);
    void ShowPopup(const std::string& text);
    MsgAnswer Ask(const MessageBoxRequest& request);
    void UpdateNotice();

    std::unique_ptr<Ui::Main> ui_;
    SyslogdSettings& settings_;
    Services services_;
    ReceivePipeline& pipeline_;
    NoMailNotifier noMail_;
    std::unique_ptr<QtSoundPlayer> ownSound_;
    std::unique_ptr<MessageBoxes> ownBoxes_;
    std::unique_ptr<QtListFileDialogs> ownFileDialogs_;
    LogListModel* model_;
    QPointer<PopupWindow> popup_;
    QSystemTrayIcon* tray_ = nullptr;
    bool hidesToTray_ = false;
    QLabel* notice_ = nullptr;
    SyslogPresenter presenter_;
    bool deliveryScheduled_ = false;
    bool exiting_ = false;
    std::function<void(SettingsTab)> openSettings_;
    QPointer<SearchWindow> search_;
};

}  // namespace quellin::syslogd
