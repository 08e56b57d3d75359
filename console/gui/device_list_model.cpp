#include "device_list_model.h"

#include "qt_text.h"

namespace quellin::console {

DeviceListModel::DeviceListModel(const CList<CBase>& devices, QObject* parent)
    : QAbstractTableModel(parent),
      devices_(devices),
      names_(static_cast<int>(devices.size()), QString()),
      addresses_(static_cast<int>(devices.size()), QString()) {
    for (int row = 0; row < names_.size(); ++row)
        cacheRow(row);
}

int DeviceListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(names_.size());
}

int DeviceListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DeviceListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= names_.size())
        return {};
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
        case NumberColumn:
            return QString::number(devices_[static_cast<std::size_t>(index.row())].row);
        case NameColumn:
            return names_[index.row()];
        case AddressColumn:
            return addresses_[index.row()];
        default:
            return {};
    }
}

QVariant DeviceListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    if (role != Qt::DisplayRole)
        return {};
    switch (section) {
        case NumberColumn:
            return QStringLiteral("No.");
        case NameColumn:
            return Tr("装置名");
        case AddressColumn:
            return Tr("IPアドレス");
        default:
            return {};
    }
}

void DeviceListModel::cacheRow(int row) {
    const CBase& device = devices_[static_cast<std::size_t>(row)];
    names_[row] = FromCp932(device.name);
    addresses_[row] = FromCp932(device.address);
}

void DeviceListModel::refreshRows(const std::vector<int>& rows) {
    for (int row : rows) {
        if (row < 0 || row >= names_.size())
            continue;
        cacheRow(row);
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
    }
}

}  // namespace quellin::console
