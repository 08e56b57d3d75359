// frmSearch: the search of the syslog store.  The window only binds the
// form to SearchForm and shows what the SearchSession answers: the results
// page by page (sorted by a column's header, more as the list is scrolled),
// the count and time range of the matches, and a chart of the messages per
// minute, hour or day by level.
#pragma once

#include "clock.h"
#include "dialog_seams.h"
#include "message_box.h"
#include "syslog_search.h"

#include <QDialog>

#include <filesystem>
#include <memory>

class QChart;
class QChartView;

namespace Ui {
class frmSearch;
}

namespace quellin::syslogd {

class SearchResultModel;

class SearchWindow final : public QDialog {
    Q_OBJECT

public:
    // `store` is the database Syslogd writes; `baseDb` the installation's
    // device registry, for routers given by name.
    SearchWindow(std::filesystem::path store, std::filesystem::path baseDb, MessageBoxes& boxes,
                 ListFileDialogs& files, const Clock& clock, QWidget* parent = nullptr);
    ~SearchWindow() override;

    // The form as the operator filled it in.
    SearchForm Form() const;
    void Search();
    void ExportCsv();
    void ShowMessage(int row);

    // What the window shows; tests wait on `searching`.
    bool searching() const { return searching_; }
    int rowCount() const;
    QString summary() const;
    QChart* chart() const { return chart_; }

private:
    void Restart();
    void OnEvent(SearchSession::Event event);
    void ShowCounts(const std::vector<syslogstore::CountBucket>& buckets);

    std::unique_ptr<Ui::frmSearch> ui_;
    std::filesystem::path baseDb_;
    MessageBoxes& boxes_;
    ListFileDialogs& files_;
    const Clock& clock_;
    SearchResultModel* model_;
    QChart* chart_;
    QChartView* chartView_;
    syslogstore::Query query_;
    syslogstore::BucketUnit unit_ = syslogstore::BucketUnit::kMinute;
    std::uint64_t search_ = 0;
    bool searching_ = false;
    std::unique_ptr<SearchSession> session_;
};

}  // namespace quellin::syslogd
