#include "log_list_model.h"

#include "codec.h"

namespace quellin::syslogd {

LogListModel::LogListModel(QObject* parent) : QAbstractTableModel(parent) {}

int LogListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int LogListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant LogListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kColumnCount)
        return {};
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            return QString::fromStdString(cp932::ToUtf8Lossy(rows_[static_cast<std::size_t>(
                index.row())][static_cast<std::size_t>(index.column())]));
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        default:
            return {};
    }
}

QVariant LogListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    if (role != Qt::DisplayRole)
        return {};
    switch (section) {
        case 0:
            return QStringLiteral("時刻");
        case 1:
            return QStringLiteral("送信元IPアドレス");
        case 2:
            return QStringLiteral("Facility");
        case 3:
            return QStringLiteral("Level");
        case 4:
            return QStringLiteral("Message");
        default:
            return {};
    }
}

void LogListModel::AppendRow(ListRow row) {
    int at = rowCount();
    beginInsertRows(QModelIndex(), at, at);
    rows_.push_back(std::move(row));
    endInsertRows();
}

void LogListModel::RemoveOldest() {
    if (rows_.empty())
        return;
    beginRemoveRows(QModelIndex(), 0, 0);
    rows_.pop_front();
    endRemoveRows();
}

void LogListModel::Clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

void LogListModel::Replace(std::vector<ListRow> rows) {
    beginResetModel();
    rows_.assign(std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    endResetModel();
}

}  // namespace quellin::syslogd
