// The rows of the message list: five CP932 columns per received message,
// oldest first.  Texts stay CP932 so that a saved list carries the bytes the
// routers sent; they become Unicode only for display.
#pragma once

#include "received_message.h"

#include <QAbstractTableModel>

#include <deque>
#include <vector>

namespace quellin::syslogd {

class LogListModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    static constexpr int kColumnCount = 5;

    explicit LogListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void AppendRow(ListRow row);
    void RemoveOldest();
    void Clear();
    // Replaces every row (a file opened into the list).
    void Replace(std::vector<ListRow> rows);

    const ListRow& Row(int index) const { return rows_[static_cast<std::size_t>(index)]; }
    std::vector<ListRow> Rows() const { return {rows_.begin(), rows_.end()}; }

private:
    std::deque<ListRow> rows_;
};

}  // namespace quellin::syslogd
