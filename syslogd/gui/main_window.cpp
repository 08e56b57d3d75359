#include "main_window.h"

#include "codec.h"
#include "colors.h"
#include "installation_layout.h"
#include "log_file.h"
#include "popup_window.h"
#include "program_folder.h"
#include "qt_message_boxes.h"
#include "qt_text.h"
#include "ui_main_window.h"
#include "version_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <exception>

namespace quellin::syslogd {
namespace {

constexpr int kColumnTwips[LogListModel::kColumnCount] = {1400, 1400, 900, 1200, 5000};
constexpr int kMinWindowWidthTwips = 10470;
constexpr int kMinWindowHeightTwips = 6660;

// Popup text with line breaks as the label shows them.
QString LabelText(const std::string& cp932) {
    QString text = FromCp932(cp932);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

std::filesystem::path PathFromDialog(const QString& fileName) {
    return std::filesystem::path(fileName.toStdString());
}

QIcon ProgramIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x20, 0x60, 0xA0));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(1, 1, 30, 30), 5, 5);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(22);
    painter.setFont(font);
    painter.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, QStringLiteral("S"));
    return QIcon(pixmap);
}

template <typename Step>
void IgnoringFailure(Step&& step) {
    try {
        step();
    } catch (const std::exception&) {
        // A failing step must not keep the next one from running.
    }
}

}  // namespace

MainWindow::MainWindow(SyslogdSettings& settings, ReceivePipeline& pipeline, Services services,
                       QWidget* parent)
    : QMainWindow(parent),
      ui_(std::make_unique<Ui::Main>()),
      settings_(settings),
      services_(std::move(services)),
      pipeline_(pipeline),
      model_(new LogListModel(this)) {
    if (services_.sound == nullptr) {
        ownSound_ = std::make_unique<QtSoundPlayer>();
        services_.sound = ownSound_.get();
    }
    if (services_.messageBoxes == nullptr) {
        ownBoxes_ = std::make_unique<QtMessageBoxes>();
        services_.messageBoxes = ownBoxes_.get();
    }
    if (services_.fileDialogs == nullptr) {
        ownFileDialogs_ = std::make_unique<QtListFileDialogs>();
        services_.fileDialogs = ownFileDialogs_.get();
    }
    if (services_.mail == nullptr)
        services_.mail = &noMail_;
    if (!services_.openHelp) {
        services_.openHelp = [](const QString& path) {
            QDesktopServices::openUrl(QUrl::fromLocalFile(path));
        };
    }
    if (!services_.quit)
        services_.quit = [] { QCoreApplication::quit(); };

    ui_->setupUi(this);
    setWindowIcon(ProgramIcon());
    ui_->LogList->setModel(model_);
    ConnectMenus();
    LayOutList();
    notice_ = new QLabel(this);
    notice_->setObjectName(QStringLiteral("id104"));
    statusBar()->addWidget(notice_, 1);
    statusBar()->hide();

    // Mail over TLS or with a login that cannot go out says why, once.
    services_.mail->SetStatusListener([this](bool failing, const std::string& reason) {
        presenter_.SetMailFailure(failing, cp932::FromUtf8Lossy(reason));
        UpdateNotice();
    });

    // The reception thread wakes the window once for whatever it hands over
    // until the window has taken it.
    pipeline_.queue().SetWaker([this] {
        QMetaObject::invokeMethod(this, &MainWindow::DeliverPending, Qt::QueuedConnection);
    });

    setMinimumSize(TwipsToPixels(this, kMinWindowWidthTwips),
                   TwipsToPixels(this, kMinWindowHeightTwips));
    resize(minimumSize());
}

MainWindow::~MainWindow() {
    pipeline_.queue().SetWaker({});
    services_.mail->SetStatusListener({});
    if (popup_)
        delete popup_.data();
}

QTableView* MainWindow::list() const {
    return ui_->LogList;
}

void MainWindow::ConnectMenus() {
    // Separators carry the names of the menu layout as well.
    const char* separatorNames[] = {"haihun", "haifun", "haihun2"};
    std::size_t next = 0;
    for (QAction* action : ui_->File->actions()) {
        if (action->isSeparator())
            action->setObjectName(QStringLiteral("haihun3"));
    }
    for (QMenu* menu : {ui_->Menu, ui_->Help}) {
        for (QAction* action : menu->actions()) {
            if (action->isSeparator() && next < std::size(separatorNames))
                action->setObjectName(QString::fromLatin1(separatorNames[next++]));
        }
    }

    connect(ui_->FileRead, &QAction::triggered, this, &MainWindow::OpenListFile);
    connect(ui_->FileSave, &QAction::triggered, this, &MainWindow::SaveListFile);
    connect(ui_->open, &QAction::triggered, this, &MainWindow::RestoreWindow);
    connect(ui_->end, &QAction::triggered, this, &MainWindow::ExitProgram);
    connect(ui_->DispRestart, &QAction::triggered, this, &MainWindow::RestartDisplay);
    connect(ui_->DispStop, &QAction::triggered, this, &MainWindow::StopDisplay);
    connect(ui_->DispClear, &QAction::triggered, this, &MainWindow::ClearList);
    connect(ui_->DispSearch, &QAction::triggered, this, &MainWindow::OpenSearch);
    auto settingsTab = [this](SettingsTab tab) { return [this, tab] { OpenSettings(tab); }; };
    connect(ui_->set_Operate, &QAction::triggered, this, settingsTab(SettingsTab::Operation));
    connect(ui_->set_Disp, &QAction::triggered, this, settingsTab(SettingsTab::Screen));
    connect(ui_->Log_Set, &QAction::triggered, this, settingsTab(SettingsTab::Log));
    connect(ui_->Disp_FilSet, &QAction::triggered, this, settingsTab(SettingsTab::DisplayFilter));
    connect(ui_->mokuji, &QAction::triggered, this, &MainWindow::OpenHelp);
    connect(ui_->Version, &QAction::triggered, this, &MainWindow::ShowVersion);

    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(esc, &QShortcut::activated, this, &MainWindow::HideWindow);
    for (auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* enter = new QShortcut(QKeySequence(key), this);
        connect(enter, &QShortcut::activated, this, &MainWindow::RestoreWindow);
    }
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, &MainWindow::OpenHelp);
}

void MainWindow::LayOutList() {
    QHeaderView* header = ui_->LogList->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int column = 0; column < LogListModel::kColumnCount; ++column)
        header->resizeSection(column, TwipsToPixels(this, kColumnTwips[column]));
    ApplyColors();
}

void MainWindow::ApplyColors() {
    const QColor back = ColorFromSetting(settings_.mainBackColor);
    const QColor fore = ColorFromSetting(settings_.mainForeColor);
    QPalette p = ui_->LogList->palette();
    p.setColor(QPalette::Base, back);
    p.setColor(QPalette::Window, back);
    p.setColor(QPalette::Text, fore);
    ui_->LogList->setPalette(p);
    if (popup_) {
        popup_->SetColors(ColorFromSetting(settings_.popBackColor),
                          ColorFromSetting(settings_.popForeColor));
    }
}

void MainWindow::OpenSettings(SettingsTab tab) {
    if (openSettings_) {
        openSettings_(tab);
        return;
    }
    SettingsWindow::Services services{services_.messageBoxes, services_.fileDialogs,
                                      SettingsFilePath(GetProgramFolder()),
                                      [this] { SettingsApplied(); }};
    SettingsWindow window(settings_, std::move(services), tab, this);
    window.exec();
}

void MainWindow::SetSettingsWindowOpener(std::function<void(SettingsTab)> opener) {
    openSettings_ = std::move(opener);
}

void MainWindow::SettingsApplied() {
    ApplyColors();
    pipeline_.SetSettings(std::make_shared<const SyslogdSettings>(settings_));
}

void MainWindow::DeliverPending() {
    SyslogPresenter::Turn turn =
        presenter_.Present(pipeline_.queue().Take(kItemsPerTurn), services_.mail->heldBack());
    IgnoringFailure([&] { AddRows(turn.rows); });
    for (const AlertOrder& mail : turn.mails)
        IgnoringFailure(
            [&] { services_.mail->Notify(*mail.settings, mail.entry(), mail.mailText); });
    if (turn.popupText)
        IgnoringFailure([&] { ShowPopup(*turn.popupText); });
    if (turn.sound)
        IgnoringFailure([&] { services_.sound->Play(turn.sound->kind, turn.sound->wavPath); });
    if (turn.noticeChanged)
        UpdateNotice();

    if (turn.more && !deliveryScheduled_) {
        // The rest comes in the next turn, after painting and input.
        deliveryScheduled_ = true;
        QTimer::singleShot(0, this, [this] {
            deliveryScheduled_ = false;
            DeliverPending();
        });
    }
}

void MainWindow::AddRows(std::vector<ListRow>& rows) {
    if (rows.empty())
        return;
    QTableView* view = ui_->LogList;
    QScrollBar* bar = view->verticalScrollBar();
    view->doItemsLayout();
    // The view follows new rows only while the newest row is in view; a
    // user who scrolled back keeps looking at the same rows.
    const bool following = bar->value() >= bar->maximum();
    const int top = bar->value();

    int trimmed = 0;
    for (ListRow& row : rows) {
        model_->AppendRow(std::move(row));
        // One row goes per row added, so a list made longer by opening a
        // file keeps its length.
        if (model_->rowCount() > settings_.maxLineCount) {
            model_->RemoveOldest();
            ++trimmed;
        }
    }
    view->doItemsLayout();
    if (following)
        view->scrollToBottom();
    else if (trimmed > 0)
        bar->setValue(std::max(0, top - trimmed));
}

void MainWindow::UpdateNotice() {
    const QString text = FromCp932(presenter_.notice());
    notice_->setText(text);
    statusBar()->setVisible(!text.isEmpty());
}

QString MainWindow::notice() const {
    return notice_->text();
}

void MainWindow::ShowPopup(const std::string& text) {
    if (popup_) {
        popup_->close();
        delete popup_.data();
    }
    auto* popup = new PopupWindow(this);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->setModal(false);
    popup->SetText(LabelText(text));
    popup->SetColors(ColorFromSetting(settings_.popBackColor),
                     ColorFromSetting(settings_.popForeColor));
    popup_ = popup;
    popup->show();
}

bool MainWindow::popupShown() const {
    return popup_ && popup_->isVisible();
}

void MainWindow::InstallTrayIcon() {
    if (tray_ != nullptr || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    tray_ = new QSystemTrayIcon(windowIcon(), this);
    tray_->setToolTip(QStringLiteral("Syslogd"));
    tray_->setContextMenu(ui_->Menu);
    connect(tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    QApplication::beep();
                if (reason == QSystemTrayIcon::DoubleClick)
                    RestoreWindow();
            });
    tray_->show();
    hidesToTray_ = true;
}

void MainWindow::OpenSearch() {
    if (!search_) {
        // Syslogd lives in the installation's syslog folder, base.db one
        // folder up.
        const InstallationLayout installation(GetProgramFolder() + "../");
        search_ = new SearchWindow(StoreSettingsOf(settings_).path,
                                   cp932::ToPath(installation.registry()), *services_.messageBoxes,
                                   *services_.fileDialogs, CurrentClock(), this);
        search_->setAttribute(Qt::WA_DeleteOnClose);
    }
    search_->show();
    search_->raise();
    search_->activateWindow();
}

void MainWindow::RestoreWindow() {
    if (exiting_)
        return;
    resize(std::max(width(), minimumWidth()), std::max(height(), minimumHeight()));
    showNormal();
    raise();
    activateWindow();
    ui_->LogList->setFocus();
}

void MainWindow::HideWindow() {
    if (hidesToTray_)
        hide();
    else
        showMinimized();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (exiting_) {
        event->accept();
        return;
    }
    event->ignore();
    HideWindow();
}

void MainWindow::ExitProgram() {
    if (exiting_)
        return;
    exiting_ = true;
    hide();
    if (tray_ != nullptr)
        tray_->hide();
    services_.mail->Shutdown();
    if (popup_)
        popup_->close();
    services_.quit();
}

void MainWindow::StopDisplay() {
    pipeline_.SetDisplayRunning(false);
    ui_->DispStop->setChecked(true);
}

void MainWindow::RestartDisplay() {
    pipeline_.SetDisplayRunning(true);
    ui_->DispStop->setChecked(false);
}

void MainWindow::ClearList() {
    model_->Clear();
    ApplyColors();
}

MsgAnswer MainWindow::Ask(const MessageBoxRequest& request) {
    return services_.messageBoxes->Show(request);
}

void MainWindow::OpenListFile() {
    FileDialogRequest request{QString(), ProgramFolderText(), AllFilesFilter()};
    QString fileName = services_.fileDialogs->OpenFileName(this, request);
    if (fileName.isEmpty())
        return;

    const std::string caption = ToCp932Lossy(windowTitle());
    auto lines = ReadLines(PathFromDialog(fileName));
    if (!lines) {
        // Emptying the list for a file that cannot be read would only lose rows.
        Ask({caption, cp932::Jp("ファイルの読み込みに失敗しました。"), MsgIcon::Exclamation});
        return;
    }
    MessageBoxRequest confirm{"Syslogd",
                              cp932::Jp("表示するログデータ数は、") +
                                  std::to_string(lines->size()) + cp932::Jp(" 件です。") + "\r\n" +
                                  cp932::Jp("表示しますか？"),
                              MsgIcon::None, MsgButtons::OkCancel, MsgAnswer::Ok};
    if (Ask(confirm) != MsgAnswer::Ok)
        return;

    std::vector<ListRow> rows;
    rows.reserve(lines->size());
    for (const std::string& line : *lines)
        rows.push_back(SplitLogLine(line));
    model_->Replace(std::move(rows));
    ApplyColors();
}

void MainWindow::SaveListFile() {
    const std::string caption = ToCp932Lossy(windowTitle());
    if (model_->rowCount() == 0) {
        Ask({caption, cp932::Jp("現在、保存する対象がありません。"), MsgIcon::Exclamation});
        return;
    }
    FileDialogRequest request{QString(), ProgramFolderText(), AllFilesFilter()};
    QString fileName = services_.fileDialogs->SaveFileName(this, request);
    if (fileName.isEmpty())
        return;
    if (!WriteListFile(PathFromDialog(fileName), model_->Rows())) {
        Ask({caption, cp932::Jp("保存処理に失敗しました。"), MsgIcon::Exclamation});
        return;
    }
    Ask({caption, cp932::Jp("保存処理が終了しました。"), MsgIcon::Information});
}

void MainWindow::ShowVersion() {
    VersionDialog dialog(this);
    dialog.exec();
}

void MainWindow::OpenHelp() {
    services_.openHelp(ProgramFolderText() + QStringLiteral("syslogd.html"));
}

}  // namespace quellin::syslogd
