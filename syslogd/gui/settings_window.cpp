#include "settings_window.h"

#include "codec.h"
#include "color_dialog.h"
#include "colors.h"
#include "form_binding.h"
#include "qt_text.h"
#include "search_input_dialog.h"
#include "ui_settings_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include <initializer_list>

namespace quellin::syslogd {
namespace {

constexpr int kHiddenColumn = 0;

void SetEnabled(std::initializer_list<QWidget*> widgets, bool enabled) {
    for (QWidget* w : widgets)
        w->setEnabled(enabled);
}

void SetChecked(QAbstractButton* button, bool checked) {
    // Showing a value is not an edit.
    QSignalBlocker blocker(button);
    button->setChecked(checked);
}

void Paint(QWidget* widget, std::int32_t background, std::int32_t text) {
    QPalette p = widget->palette();
    p.setColor(QPalette::Window, ColorFromSetting(background));
    p.setColor(QPalette::WindowText, ColorFromSetting(text));
    widget->setPalette(p);
}

}  // namespace

SettingsWindow::SettingsWindow(SyslogdSettings& settings, Services services, SettingsTab tab,
                               QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::frmSetting>()),
      settings_(settings),
      services_(std::move(services)),
      form_(FormFromSettings(settings)),
      maxRows_(SearchTableSize(settings.searchMaxKensu)) {
    ui_->setupUi(this);
    levelBoxes_ = {ui_->id360, ui_->id361, ui_->id362, ui_->id363,
                   ui_->id364, ui_->id365, ui_->id366, ui_->id367};
    facilityBoxes_ = {ui_->id371, ui_->id372, ui_->id373, ui_->id374, ui_->id375, ui_->id376,
                      ui_->id377, ui_->id378, ui_->id379, ui_->id380, ui_->id381, ui_->id382,
                      ui_->id383, ui_->id384, ui_->id385, ui_->id386, ui_->id387, ui_->id388,
                      ui_->id389, ui_->id390, ui_->id391, ui_->id392, ui_->id393};
    Fill(tab);
    ConnectControls();
    Refresh();
    RefreshColors();
}

SettingsWindow::~SettingsWindow() = default;

QCheckBox* SettingsWindow::allLevelsBox() const {
    return ui_->id353;
}

QCheckBox* SettingsWindow::allFacilitiesBox() const {
    return ui_->id370;
}

ColorWindow SettingsWindow::colorWindow() const {
    return ui_->cmb_select->currentIndex() == 1 ? ColorWindow::Main : ColorWindow::Popup;
}

void SettingsWindow::Fill(SettingsTab tab) {
    BindText(ui_->txt_DispCNT, form_.dispCount);

    QTreeWidget* list = ui_->lst_search;
    list->setColumnHidden(kHiddenColumn, true);
    list->setColumnWidth(1, TwipsToPixels(this, 1500));
    list->setColumnWidth(2, TwipsToPixels(this, 3500));
    list->setColumnWidth(3, TwipsToPixels(this, 1000));
    list->headerItem()->setTextAlignment(3, Qt::AlignCenter);
    FillRows();

    ui_->chk_MailSend->setChecked(form_.mailSend);
    BindText(ui_->txt_SMTP_Srv, form_.smtpServer);
    BindText(ui_->txt_SMTP_Port, form_.smtpPort);
    BindText(ui_->txt_ClientMailAddress, form_.clientMailAddress);

    ui_->opt1->setChecked(form_.soundOption == 1);
    ui_->opt2->setChecked(form_.soundOption == 2);
    ui_->opt3->setChecked(form_.soundOption == 3);
    BindText(ui_->txt_wav, form_.wavPath);

    ui_->cmb_select->setCurrentIndex(0);

    ui_->chk_log->setChecked(form_.logWrite);
    BindText(ui_->txt_save, form_.logPath);

    BindText(ui_->txt_AlertHold, form_.alertHold);
    ui_->cmb_SMTP_Security->setCurrentIndex(form_.smtpSecurity);
    ui_->chk_SMTP_Auth->setChecked(form_.smtpAuth);
    BindText(ui_->txt_SMTP_User, form_.smtpUser);
    // Shown as dots only; the box lets nothing be copied out of it.
    ui_->txt_SMTP_Password->setEchoMode(QLineEdit::Password);
    BindText(ui_->txt_SMTP_Password, form_.smtpPassword);
    BindText(ui_->txt_SMTP_CAFile, form_.smtpCAFile);
    ui_->opt_RotateNone->setChecked(form_.rotateType == kRotateNone);
    ui_->opt_RotateDaily->setChecked(form_.rotateType == kRotateDaily);
    ui_->opt_RotateSize->setChecked(form_.rotateType == kRotateBySize);
    BindText(ui_->txt_RotateSize, form_.rotateSizeMB);
    BindText(ui_->txt_KeepCount, form_.keepCount);
    ui_->chk_Forward->setChecked(form_.forward);
    BindText(ui_->txt_UdpPort, form_.udpPort);
    BindText(ui_->txt_UdpAddress, form_.udpAddress);
    ui_->chk_Tcp->setChecked(form_.tcp);
    BindText(ui_->txt_TcpPort, form_.tcpPort);
    ui_->chk_Tls->setChecked(form_.tls);
    BindText(ui_->txt_TlsPort, form_.tlsPort);
    BindText(ui_->txt_TlsCertFile, form_.tlsCertFile);
    BindText(ui_->txt_TlsKeyFile, form_.tlsKeyFile);
    BindText(ui_->txt_TlsCAFile, form_.tlsCAFile);
    BindText(ui_->txt_ForwardHost, form_.forwardHost);
    BindText(ui_->txt_ForwardPort, form_.forwardPort);
    ui_->opt_ForwardUdp->setChecked(form_.forwardProtocol != kForwardTcp);
    ui_->opt_ForwardTcp->setChecked(form_.forwardProtocol == kForwardTcp);
    ui_->cmb_ForwardFormat->setCurrentIndex(form_.forwardFormat);

    ui_->DispNoFil->setChecked(form_.filterMode == FilterMode::NoFilter);
    ui_->DispFilDisp->setChecked(form_.filterMode == FilterMode::ShowMatching);
    ui_->DispFilNoDisp->setChecked(form_.filterMode == FilterMode::HideMatching);
    ui_->FilType_Lel->setChecked(form_.levelChecked);
    ui_->FilType_Fac->setChecked(form_.facilityChecked);

    // The display-filter tab is reached from its own menu item only.
    const int index = static_cast<int>(tab);
    ui_->id300->setTabVisible(static_cast<int>(SettingsTab::DisplayFilter),
                              tab == SettingsTab::DisplayFilter);
    ui_->id300->setCurrentIndex(index);
    shownTab_ = index;
}

void SettingsWindow::ConnectToggles() {
    auto onToggle = [this](QAbstractButton* button, auto apply) {
        connect(button, &QAbstractButton::toggled, this, [this, apply](bool on) {
            apply(on);
            Refresh();
        });
    };
    onToggle(ui_->chk_MailSend, [this](bool on) { form_.mailSend = on; });
    onToggle(ui_->chk_log, [this](bool on) { form_.logWrite = on; });
    int option = 1;
    for (QRadioButton* opt : {ui_->opt1, ui_->opt2, ui_->opt3}) {
        onToggle(opt, [this, option](bool on) {
            if (on)
                form_.soundOption = option;
        });
        ++option;
    }
    const std::pair<QRadioButton*, FilterMode> modes[] = {
        {ui_->DispNoFil, FilterMode::NoFilter},
        {ui_->DispFilDisp, FilterMode::ShowMatching},
        {ui_->DispFilNoDisp, FilterMode::HideMatching}};
    for (auto [button, mode] : modes) {
        onToggle(button, [this, mode = mode](bool on) {
            if (on)
                form_.filterMode = mode;
        });
    }
    onToggle(ui_->chk_SMTP_Auth, [this](bool on) { form_.smtpAuth = on; });
    onToggle(ui_->chk_Forward, [this](bool on) { form_.forward = on; });
    onToggle(ui_->chk_Tcp, [this](bool on) { form_.tcp = on; });
    onToggle(ui_->chk_Tls, [this](bool on) { form_.tls = on; });
    const std::pair<QRadioButton*, int> rotations[] = {{ui_->opt_RotateNone, kRotateNone},
                                                       {ui_->opt_RotateDaily, kRotateDaily},
                                                       {ui_->opt_RotateSize, kRotateBySize}};
    for (auto [button, type] : rotations) {
        onToggle(button, [this, type = type](bool on) {
            if (on)
                form_.rotateType = type;
        });
    }
    onToggle(ui_->opt_ForwardUdp, [this](bool on) {
        if (on)
            form_.forwardProtocol = kForwardUdp;
    });
    onToggle(ui_->opt_ForwardTcp, [this](bool on) {
        if (on)
            form_.forwardProtocol = kForwardTcp;
    });
    onToggle(ui_->FilType_Lel, [this](bool on) { form_.levelChecked = on; });
    onToggle(ui_->FilType_Fac, [this](bool on) { form_.facilityChecked = on; });
    onToggle(ui_->id353, [this](bool on) { SetAllLevels(form_, on); });
    onToggle(ui_->id370, [this](bool on) { SetAllFacilities(form_, on); });
    for (int i = 0; i < kLevelCount; ++i)
        onToggle(levelBox(i), [this, i](bool on) { SetLevel(form_, i, on); });
    for (int i = 0; i < kFacilityCount; ++i)
        onToggle(facilityBox(i), [this, i](bool on) { SetFacility(form_, i, on); });
}

void SettingsWindow::ConnectControls() {
    ConnectToggles();
    connect(ui_->cmb_SMTP_Security, &QComboBox::currentIndexChanged, this,
            [this](int index) { form_.smtpSecurity = index; });
    connect(ui_->cmb_ForwardFormat, &QComboBox::currentIndexChanged, this,
            [this](int index) { form_.forwardFormat = index; });
    connect(ui_->cmd_CAFile, &QPushButton::clicked, this, &SettingsWindow::ChooseCAFile);
    connect(ui_->cmd_Add, &QPushButton::clicked, this, &SettingsWindow::AddRow);
    connect(ui_->cmd_Edit_Search, &QPushButton::clicked, this, &SettingsWindow::EditRow);
    connect(ui_->cmd_Del, &QPushButton::clicked, this, &SettingsWindow::DeleteRow);
    connect(ui_->lst_search, &QTreeWidget::itemDoubleClicked, this, &SettingsWindow::EditRow);
    connect(ui_->cmd_wav, &QPushButton::clicked, this, &SettingsWindow::ChooseWaveFile);
    connect(ui_->cmd_Ref, &QPushButton::clicked, this, &SettingsWindow::ChooseLogFile);

    connect(ui_->cmb_select, &QComboBox::currentIndexChanged, this, &SettingsWindow::RefreshColors);
    connect(ui_->cmd_Edit, &QPushButton::clicked, this, [this] { PickColor(true); });
    connect(ui_->id332, &QPushButton::clicked, this, [this] { PickColor(false); });
    connect(ui_->cmd_Default, &QPushButton::clicked, this, [this] {
        RestoreDefaultColors(form_);
        RefreshColors();
    });

    // Ctrl+Tab passes a hidden tab by, in the direction it was going.
    connect(ui_->id300, &QTabWidget::currentChanged, this, [this](int index) {
        QTabWidget* tabs = ui_->id300;
        if (index >= 0 && !tabs->isTabVisible(index)) {
            const int step = index == (shownTab_ + 1) % tabs->count() ? 1 : -1;
            tabs->setCurrentIndex((index + step + tabs->count()) % tabs->count());
            return;
        }
        shownTab_ = index;
    });

    connect(ui_->cmdOK, &QPushButton::clicked, this, &SettingsWindow::OnOk);
    connect(ui_->cmdExit, &QPushButton::clicked, this, &QDialog::reject);
}

void SettingsWindow::Refresh() {
    const SettingsEnabling e = EnablingOf(form_, maxRows_);
    ui_->cmd_Add->setEnabled(e.addRow);
    SetEnabled({ui_->cmd_Del, ui_->cmd_Edit_Search}, e.deleteOrEditRow);
    SetEnabled({ui_->txt_SMTP_Srv, ui_->txt_SMTP_Port, ui_->txt_ClientMailAddress, ui_->id320,
                ui_->id321, ui_->id322},
               e.mailFields);
    SetEnabled({ui_->txt_wav, ui_->cmd_wav, ui_->id323}, e.wavFile);
    SetEnabled({ui_->txt_save, ui_->cmd_Ref, ui_->id340}, e.logPath);
    SetEnabled({ui_->cmb_SMTP_Security, ui_->chk_SMTP_Auth, ui_->txt_SMTP_CAFile, ui_->cmd_CAFile,
                ui_->id955, ui_->id958},
               e.mailTransport);
    SetEnabled({ui_->txt_SMTP_User, ui_->txt_SMTP_Password, ui_->id956, ui_->id957}, e.login);
    SetEnabled({ui_->opt_RotateNone, ui_->opt_RotateDaily, ui_->opt_RotateSize}, e.rotation);
    SetEnabled({ui_->txt_RotateSize, ui_->id971}, e.rotateSize);
    SetEnabled({ui_->txt_KeepCount, ui_->id972, ui_->id973}, e.keepCount);
    SetEnabled(
        {ui_->txt_ForwardHost, ui_->txt_ForwardPort, ui_->opt_ForwardUdp, ui_->opt_ForwardTcp,
         ui_->id966, ui_->id967, ui_->id968, ui_->id979, ui_->cmb_ForwardFormat},
        e.forwardFields);
    SetEnabled({ui_->txt_TcpPort, ui_->id1107}, e.tcpFields);
    SetEnabled({ui_->txt_TlsPort, ui_->txt_TlsCertFile, ui_->txt_TlsKeyFile, ui_->txt_TlsCAFile,
                ui_->id1109, ui_->id1110, ui_->id1111, ui_->id1112},
               e.tlsFields);

    ui_->id350->setEnabled(e.filterConditions);
    ui_->id351->setEnabled(e.levelFrame);
    ui_->id352->setEnabled(e.facilityFrame);
    SetChecked(ui_->id353, form_.allLevels);
    SetChecked(ui_->id370, form_.allFacilities);
    for (int i = 0; i < kLevelCount; ++i) {
        SetChecked(levelBox(i), HasLevel(form_, i));
        levelBox(i)->setEnabled(e.singleLevels);
    }
    for (int i = 0; i < kFacilityCount; ++i) {
        SetChecked(facilityBox(i), HasFacility(form_, i));
        facilityBox(i)->setEnabled(e.singleFacilities);
    }
}

void SettingsWindow::RefreshColors() {
    const ColorWindow window = colorWindow();
    const std::int32_t back = BackColor(form_, window);
    const std::int32_t fore = ForeColor(form_, window);
    Paint(ui_->id330, back, back);
    Paint(ui_->id331, fore, fore);
    Paint(ui_->id333, back, fore);
}

void SettingsWindow::FillRows() {
    QTreeWidget* list = ui_->lst_search;
    list->clear();
    for (const SearchEntry& row : form_.rows) {
        auto* item = new QTreeWidgetItem(list);
        item->setText(1, FromCp932(row.keyStr));
        item->setText(2, FromCp932(row.dispStr));
        item->setText(3, row.mailFlag ? Tr("有り") : Tr("無し"));
        item->setTextAlignment(3, Qt::AlignCenter);
    }
}

int SettingsWindow::CurrentRow() const {
    QTreeWidgetItem* item = ui_->lst_search->currentItem();
    if (item == nullptr)
        return form_.rows.empty() ? -1 : 0;
    return ui_->lst_search->indexOfTopLevelItem(item);
}

void SettingsWindow::AddRow() {
    if (form_.rows.size() >= maxRows_)
        return;
    SearchInputDialog dialog(*services_.messageBoxes, SearchEntry{}, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    form_.rows.push_back(dialog.entry());
    FillRows();
    ui_->lst_search->setCurrentItem(
        ui_->lst_search->topLevelItem(static_cast<int>(form_.rows.size()) - 1));
    Refresh();
}

void SettingsWindow::EditRow() {
    const int row = CurrentRow();
    if (row < 0)
        return;
    SearchInputDialog dialog(*services_.messageBoxes, form_.rows[static_cast<std::size_t>(row)],
                             this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    form_.rows[static_cast<std::size_t>(row)] = dialog.entry();
    FillRows();
    ui_->lst_search->setCurrentItem(ui_->lst_search->topLevelItem(row));
}

void SettingsWindow::DeleteRow() {
    const int row = CurrentRow();
    if (row < 0)
        return;
    form_.rows.erase(form_.rows.begin() + row);
    FillRows();
    if (!form_.rows.empty()) {
        const int next = std::min(row, static_cast<int>(form_.rows.size()) - 1);
        ui_->lst_search->setCurrentItem(ui_->lst_search->topLevelItem(next));
    }
    Refresh();
}

void SettingsWindow::PickColor(bool background) {
    const ColorWindow window = colorWindow();
    std::int32_t& color = background ? BackColor(form_, window) : ForeColor(form_, window);
    ColorDialog dialog(color, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    color = dialog.selection();
    RefreshColors();
}

void SettingsWindow::ChooseWaveFile() {
    FileDialogRequest request{Tr("ファイルの指定"), ProgramFolderText(), Tr("wavﾌｧｲﾙ (*.wav)")};
    QString fileName = services_.fileDialogs->OpenFileName(this, request);
    if (!fileName.isEmpty())
        ui_->txt_wav->setText(fileName);
}

void SettingsWindow::ChooseLogFile() {
    FileDialogRequest request{Tr("保存先の指定"), ProgramFolderText(), AllFilesFilter()};
    request.mustExist = false;
    QString fileName = services_.fileDialogs->OpenFileName(this, request);
    if (!fileName.isEmpty())
        ui_->txt_save->setText(fileName);
}

void SettingsWindow::ChooseCAFile() {
    FileDialogRequest request{Tr("CA証明書ファイルの指定"), ProgramFolderText(),
                              Tr("証明書ﾌｧｲﾙ (*.pem *.crt);;") + AllFilesFilter()};
    QString fileName = services_.fileDialogs->OpenFileName(this, request);
    if (!fileName.isEmpty())
        ui_->txt_SMTP_CAFile->setText(fileName);
}

void SettingsWindow::OnOk() {
    const std::string caption = ToCp932Lossy(windowTitle());
    if (auto warning = CheckSettingsForm(form_)) {
        services_.messageBoxes->Show({caption, *warning, MsgIcon::Exclamation});
        return;
    }
    ApplySettingsForm(form_, settings_);
    if (services_.colorsChanged)
        services_.colorsChanged();
    // The settings are in use already; a file that cannot be written is
    // reported so that the loss at the next start is no surprise.
    if (!SaveSettings(services_.settingsFile, settings_))
        services_.messageBoxes->Show(
            {caption, cp932::Jp("保存処理に失敗しました。"), MsgIcon::Exclamation});
    accept();
}

}  // namespace quellin::syslogd
