#include "search_window.h"

#include "codec.h"
#include "file_replacement.h"
#include "qt_text.h"
#include "store_text.h"
#include "ui_search_window.h"

#include <QAbstractTableModel>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QHeaderView>
#include <QStackedBarSeries>
#include <QValueAxis>

namespace quellin::syslogd {

namespace store = syslogstore;

namespace {

// Levels drawn in the chart, from the most severe: each stack shows where
// the errors are.
const QColor kLevelColors[8] = {QColor(0x80, 0x00, 0x00), QColor(0xB0, 0x00, 0x00),
                                QColor(0xE0, 0x20, 0x20), QColor(0xF0, 0x60, 0x20),
                                QColor(0xF0, 0xC0, 0x20), QColor(0x40, 0x90, 0xD0),
                                QColor(0x60, 0xB0, 0x60), QColor(0xA0, 0xA0, 0xA0)};

constexpr store::SortColumn kSortColumns[] = {store::SortColumn::kTime, store::SortColumn::kSource,
                                              store::SortColumn::kFacility,
                                              store::SortColumn::kLevel, store::SortColumn::kText};

}  // namespace

// The rows found so far; scrolling to the end asks for the next page.
class SearchResultModel final : public QAbstractTableModel {
public:
    SearchResultModel(QObject* parent, std::function<void()> fetch)
        : QAbstractTableModel(parent), fetch_(std::move(fetch)) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : 5;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid())
            return {};
        const store::StoredMessage& m = rows_[static_cast<std::size_t>(index.row())];
        switch (index.column()) {
            case 0:
                return QString::fromStdString(LocalTimeText(m.receivedAt));
            case 1:
                return QString::fromStdString(m.source);
            case 2:
                return QString::fromStdString(std::string(store::FacilityName(m.facility)));
            case 3:
                return QString::fromStdString(std::string(store::LevelName(m.level)));
            default:
                return QString::fromStdString(m.text);
        }
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        static const char* headings[] = {"時刻", "送信元IPアドレス", "Facility", "Level",
                                         "Message"};
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section > 4)
            return {};
        return QString::fromUtf8(headings[section]);
    }
    bool canFetchMore(const QModelIndex& parent) const override {
        return !parent.isValid() && more_;
    }
    void fetchMore(const QModelIndex&) override {
        more_ = false;  // until the page comes
        fetch_();
    }
    // The header's click starts a new search: the store sorts, not the model.
    void sort(int, Qt::SortOrder) override {}

    void Clear() {
        beginResetModel();
        rows_.clear();
        more_ = false;
        endResetModel();
    }
    void Append(std::vector<store::StoredMessage>&& rows, bool more) {
        if (!rows.empty()) {
            const int first = rowCount();
            beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
            std::move(rows.begin(), rows.end(), std::back_inserter(rows_));
            endInsertRows();
        }
        more_ = more;
    }
    const std::vector<store::StoredMessage>& rows() const { return rows_; }

private:
    std::function<void()> fetch_;
    std::vector<store::StoredMessage> rows_;
    bool more_ = false;
};

SearchWindow::SearchWindow(std::filesystem::path storePath, std::filesystem::path baseDb,
                           MessageBoxes& boxes, ListFileDialogs& files, const Clock& clock,
                           QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::frmSearch>()),
      baseDb_(std::move(baseDb)),
      boxes_(boxes),
      files_(files),
      clock_(clock),
      model_(new SearchResultModel(this,
                                   [this] {
                                       if (session_)
                                           session_->NextPage();
                                   })),
      chart_(new QChart()),
      chartView_(new QChartView(chart_)) {
    ui_->setupUi(this);
    ui_->cmbFacility->addItem(QString::fromUtf8("すべて"), -1);
    for (int facility = 0; facility < 24; ++facility) {
        if (auto name = store::FacilityName(facility); !name.empty())
            ui_->cmbFacility->addItem(QString::fromStdString(std::string(name)), facility);
    }
    const QDateTime now = QDateTime::fromSecsSinceEpoch(clock_.Now());
    ui_->dtpDate->setDate(now.date());
    connect(ui_->cmbRange, &QComboBox::currentIndexChanged, this, [this](int index) {
        ui_->dtpDate->setEnabled(index == static_cast<int>(SearchRange::kDate));
    });
    ui_->lstResult->setModel(model_);
    ui_->lstResult->horizontalHeader()->resizeSection(
        0, fontMetrics().horizontalAdvance(QStringLiteral("0000/00/00 00:00:00")) + 24);
    ui_->lstResult->horizontalHeader()->setSortIndicator(0, Qt::DescendingOrder);
    connect(ui_->lstResult->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
            [this](int column, Qt::SortOrder order) {
                if (column < 0 || column > 4)
                    return;
                query_.sort = kSortColumns[column];
                query_.descending = order == Qt::DescendingOrder;
                if (search_ != 0)
                    Restart();
            });
    connect(ui_->lstResult, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { ShowMessage(index.row()); });
    connect(ui_->cmdSearch, &QPushButton::clicked, this, &SearchWindow::Search);
    connect(ui_->txtText, &QLineEdit::returnPressed, this, &SearchWindow::Search);
    connect(ui_->txtRouter, &QLineEdit::returnPressed, this, &SearchWindow::Search);
    connect(ui_->cmdExport, &QPushButton::clicked, this, &SearchWindow::ExportCsv);
    connect(ui_->cmdExit, &QPushButton::clicked, this, &QDialog::close);
    ui_->cmdSearch->setDefault(true);

    chart_->legend()->setAlignment(Qt::AlignRight);
    chart_->setMargins(QMargins(2, 2, 2, 2));
    chartView_->setObjectName(QStringLiteral("chtCountView"));
    chartView_->setRenderHint(QPainter::Antialiasing);
    ui_->chtCount->layout()->addWidget(chartView_);

    session_ =
        std::make_unique<SearchSession>(std::move(storePath), [this](SearchSession::Event e) {
            QMetaObject::invokeMethod(
                this, [this, e = std::move(e)]() mutable { OnEvent(std::move(e)); },
                Qt::QueuedConnection);
        });
}

SearchWindow::~SearchWindow() {
    // The session's thread ends before the window it reports to.
    session_.reset();
}

SearchForm SearchWindow::Form() const {
    SearchForm form;
    form.range = static_cast<SearchRange>(ui_->cmbRange->currentIndex());
    const QDate date = ui_->dtpDate->date();
    form.year = date.year();
    form.month = date.month();
    form.day = date.day();
    form.routers = ui_->txtRouter->text().toStdString();
    const int level = ui_->cmbLevel->currentIndex();
    form.levels =
        level <= 0 ? store::kAllLevels : static_cast<std::uint8_t>((2u << (level - 1)) - 1);
    const int facility = ui_->cmbFacility->currentData().toInt();
    form.facilities = facility < 0 ? store::kAllFacilities : 1u << facility;
    form.text = ui_->txtText->text().toStdString();
    form.regex = ui_->chkRegex->isChecked();
    return form;
}

void SearchWindow::Search() {
    auto query = BuildQuery(Form(), clock_, LoadDeviceAddresses(baseDb_));
    if (!query) {
        boxes_.Show({"Syslogd", query.error().detail, MsgIcon::Exclamation});
        return;
    }
    const store::SortColumn sort = query_.sort;
    const bool descending = query_.descending;
    query_ = std::move(*query);
    query_.sort = sort;
    query_.descending = descending;
    unit_ = ChartUnit(query_, clock_);
    Restart();
}

void SearchWindow::Restart() {
    model_->Clear();
    chart_->removeAllSeries();
    for (QAbstractAxis* axis : chart_->axes())
        chart_->removeAxis(axis);
    ui_->lblSummary->setText(QString::fromUtf8("検索しています..."));
    searching_ = true;
    search_ = session_->Start(query_, unit_);
}

void SearchWindow::OnEvent(SearchSession::Event event) {
    if (event.search != search_)
        return;  // a search that was replaced
    if (event.failure) {
        searching_ = false;
        ui_->lblSummary->setText(QString::fromUtf8("検索できません: ") +
                                 FromCp932(event.failure->detail));
        return;
    }
    if (event.summary) {
        searching_ = false;
        const store::MatchSummary& s = *event.summary;
        QString text = QString::fromUtf8("%1 件").arg(s.count);
        if (s.count != 0) {
            text += QString::fromUtf8(" (%1 〜 %2)")
                        .arg(QString::fromStdString(LocalTimeText(s.first)),
                             QString::fromStdString(LocalTimeText(s.last)));
        }
        ui_->lblSummary->setText(text);
    }
    if (event.counts)
        ShowCounts(*event.counts);
    if (!event.summary)
        model_->Append(std::move(event.rows), event.more);
}

void SearchWindow::ShowCounts(const std::vector<store::CountBucket>& buckets) {
    // One stacked bar per bucket; at most a few hundred are drawn, the
    // latest ones, so that a month by minute stays readable.
    constexpr std::size_t kMaxBars = 400;
    const std::size_t first = buckets.size() > kMaxBars ? buckets.size() - kMaxBars : 0;
    const char* format = unit_ == store::BucketUnit::kMinute ? "HH:mm"
                         : unit_ == store::BucketUnit::kHour ? "MM/dd HH時"
                                                             : "MM/dd";
    auto* series = new QStackedBarSeries();
    QStringList categories;
    QBarSet* sets[8];
    for (int level = 0; level < 8; ++level) {
        sets[level] = new QBarSet(QString::fromStdString(std::string(store::LevelName(level))));
        sets[level]->setColor(kLevelColors[level]);
        sets[level]->setBorderColor(kLevelColors[level]);
    }
    std::uint64_t highest = 0;
    for (std::size_t i = first; i < buckets.size(); ++i) {
        categories
            << QDateTime::fromSecsSinceEpoch(buckets[i].start).toString(QString::fromUtf8(format));
        for (int level = 0; level < 8; ++level)
            *sets[level] << static_cast<qreal>(buckets[i].levels[static_cast<std::size_t>(level)]);
        highest = std::max(highest, buckets[i].Total());
    }
    for (QBarSet* set : sets)
        series->append(set);
    series->setBarWidth(1.0);
    chart_->addSeries(series);
    auto* x = new QBarCategoryAxis();
    x->append(categories);
    x->setLabelsAngle(-60);
    chart_->addAxis(x, Qt::AlignBottom);
    series->attachAxis(x);
    auto* y = new QValueAxis();
    y->setRange(0, static_cast<qreal>(std::max<std::uint64_t>(highest, 1)));
    y->setLabelFormat(QStringLiteral("%d"));
    chart_->addAxis(y, Qt::AlignLeft);
    series->attachAxis(y);
}

void SearchWindow::ExportCsv() {
    const QString name = files_.SaveFileName(
        this, {QString::fromUtf8("CSV出力"), QString(), QString::fromUtf8("CSV (*.csv)"), false});
    if (name.isEmpty())
        return;
    const CsvEncoding encoding =
        ui_->cmbEncoding->currentIndex() == 1 ? CsvEncoding::kUtf8WithBom : CsvEncoding::kShiftJis;
    auto written = ReplaceFile(std::filesystem::path(name.toStdString()),
                               CsvOf(model_->rows(), encoding), {.mode = 0644});
    if (!written) {
        boxes_.Show({"Syslogd", cp932::Jp("CSVファイルを書き込めません: ") + written.error().detail,
                     MsgIcon::Exclamation});
    }
}

void SearchWindow::ShowMessage(int row) {
    if (row < 0 || row >= model_->rowCount())
        return;
    const store::StoredMessage& m = model_->rows()[static_cast<std::size_t>(row)];
    boxes_.Show({"Syslogd",
                 LocalTimeText(m.receivedAt) + "   From " + m.source + "  " +
                     std::string(store::FacilityName(m.facility)) + "." +
                     std::string(store::LevelName(m.level)) + "\r\n" + cp932::FromUtf8Lossy(m.text),
                 MsgIcon::Information});
}

int SearchWindow::rowCount() const {
    return model_->rowCount();
}

QString SearchWindow::summary() const {
    return ui_->lblSummary->text();
}

}  // namespace quellin::syslogd
