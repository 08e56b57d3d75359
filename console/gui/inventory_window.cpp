#include "inventory_window.h"

#include "app_icon.h"
#include "codec.h"
#include "file_dialogs.h"
#include "qt_text.h"
#include "report.h"
#include "ui_inventory_window.h"

#include <QHeaderView>
#include <QItemSelectionModel>

namespace quellin::console {

InventoryModel::InventoryModel(InventoryWindowLogic& logic, QObject* parent)
    : QAbstractTableModel(parent), logic_(logic) {}

int InventoryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(logic_.rows().size());
}

int InventoryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kInventoryColumns;
}

QVariant InventoryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() ||
        (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    const InventoryRow& row = logic_.rows()[static_cast<std::size_t>(index.row())];
    QString text = FromCp932(CellText(row, static_cast<InventoryColumn>(index.column())));
    // The whole text on hovering; the cell shows it on one line.
    if (role == Qt::ToolTipRole)
        return text.isEmpty() ? QVariant() : QVariant(text);
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

QVariant InventoryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= kInventoryColumns)
        return {};
    return FromCp932(ColumnHeading(static_cast<InventoryColumn>(section)));
}

void InventoryModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= kInventoryColumns)
        return;
    beginResetModel();
    logic_.Sort(static_cast<InventoryColumn>(column), order == Qt::AscendingOrder);
    endResetModel();
}

void InventoryModel::reload() {
    beginResetModel();
    endResetModel();
}

CInventoryDlg::CInventoryDlg(std::unique_ptr<InventoryWindowLogic> logic, FileDialogs& files,
                             Reporter& reporter,
                             std::function<void(const std::string&)> openMaintenance,
                             QWidget* parent)
    : QDialog(parent),
      logic_(std::move(logic)),
      files_(files),
      reporter_(reporter),
      openMaintenance_(std::move(openMaintenance)),
      ui_(std::make_unique<Ui::CInventoryDlg>()) {
    ui_->setupUi(this);
    setWindowIcon(AppIcon());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowMinMaxButtonsHint, true);
    model_ = new InventoryModel(*logic_, this);
    ui_->id1050->setModel(model_);
    // The table starts in row order; a click on a heading sorts.
    ui_->id1050->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    ui_->id1050->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ui_->id1050->horizontalHeader()->setStretchLastSection(true);
    ui_->id1050->verticalHeader()->setVisible(false);
    const int widths[kInventoryColumns] = {130, 95, 85, 65, 65, 190, 140, 200};
    for (int c = 0; c < kInventoryColumns; ++c)
        ui_->id1050->setColumnWidth(c, widths[c]);

    connect(ui_->id1053, &QPushButton::clicked, this, &CInventoryDlg::onStop);
    connect(ui_->id1054, &QPushButton::clicked, this, &CInventoryDlg::onStart);
    connect(ui_->id1055, &QPushButton::clicked, this, &CInventoryDlg::onExport);
    connect(ui_->id1057, &QPushButton::clicked, this, &CInventoryDlg::onMaintenance);
    connect(ui_->id1050, &QAbstractItemView::doubleClicked, this, &CInventoryDlg::onMaintenance);
    connect(ui_->id2, &QPushButton::clicked, this, &QDialog::close);
    ShowState();
}

CInventoryDlg::~CInventoryDlg() {
    // The workers end before the window they report to.
    logic_.reset();
}

void CInventoryDlg::onStart() {
    if (logic_->running())
        return;
    logic_->Start([this] { Notify(); });
    model_->reload();
    ShowState();
}

void CInventoryDlg::onStop() {
    logic_->Stop();
    ShowState();
}

void CInventoryDlg::Notify() {
    // Called from the workers: one pending delivery at a time.
    if (pending_.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this, [this] { TakeArrived(); }, Qt::QueuedConnection);
}

void CInventoryDlg::TakeArrived() {
    pending_ = false;
    // The selected device stays selected wherever its row moves.
    std::optional<std::string> selected;
    if (auto* selection = ui_->id1050->selectionModel(); selection && selection->hasSelection())
        selected = logic_->DeviceAt(selection->selectedRows().value(0).row());
    if (!logic_->TakeArrived())
        return;
    model_->reload();
    if (selected) {
        const auto& rows = logic_->rows();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].name == *selected) {
                ui_->id1050->selectRow(static_cast<int>(i));
                break;
            }
        }
    }
    ShowState();
}

void CInventoryDlg::ShowState() {
    ui_->id1052->setText(FromCp932(logic_->ProgressText()));
    ui_->id1051->setMaximum(static_cast<int>(std::max<std::size_t>(logic_->total(), 1)));
    ui_->id1051->setValue(static_cast<int>(logic_->asked()));
    ui_->id1053->setEnabled(logic_->running() && !logic_->stopped());
    ui_->id1054->setEnabled(!logic_->running());
}

void CInventoryDlg::onExport() {
    auto chosen = files_.SaveFile(this, Tr("CSV出力"), Tr("CSV (*.csv);;すべてのファイル (*)"));
    if (!chosen)
        return;
    const CsvEncoding encoding =
        ui_->id1056->isChecked() ? CsvEncoding::kUtf8WithBom : CsvEncoding::kCp932;
    if (auto failure = logic_->Export(cp932::FromPath(chosen->toStdString()), encoding))
        reporter_.Report(kToolName, *failure, MSG_BOX);
}

void CInventoryDlg::onMaintenance() {
    auto* selection = ui_->id1050->selectionModel();
    std::optional<std::string> device;
    if (selection && selection->hasSelection())
        device = logic_->DeviceAt(selection->selectedRows().value(0).row());
    if (!device) {
        reporter_.Report(kToolName, cp932::Jp("装置が選択されていません。"), MSG_BOX);
        return;
    }
    if (openMaintenance_)
        openMaintenance_(*device);
}

}  // namespace quellin::console
