// The main window's device list: MAXROWS rows of "No.", "装置名" and
// "IPアドレス", backed by the registry list so that large registries stay
// fast (no widget item per cell).
#pragma once

#include "device_registry.h"

#include <QAbstractTableModel>
#include <QStringList>

namespace quellin::console {

class DeviceListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { NumberColumn, NameColumn, AddressColumn, ColumnCount };

    explicit DeviceListModel(const CList<CBase>& devices, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Re-reads the given rows (after a dialog changed their devices).
    void refreshRows(const std::vector<int>& rows);

private:
    void cacheRow(int row);

    const CList<CBase>& devices_;
    QStringList names_;
    QStringList addresses_;
};

}  // namespace quellin::console
