// "装置インベントリ": the fleet's inventory as a window.  The table fills in
// the background as the devices answer; the window binds the logic's rows,
// progress, sort order and export to its widgets.
#pragma once

#include "inventory_window_logic.h"

#include <QAbstractTableModel>
#include <QDialog>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace Ui {
class CInventoryDlg;
}

namespace quellin {
class FileDialogs;
}  // namespace quellin

namespace quellin::console {

class Reporter;

class InventoryModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    InventoryModel(InventoryWindowLogic& logic, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

    // After the logic's rows changed.
    void reload();

private:
    InventoryWindowLogic& logic_;
};

class CInventoryDlg final : public QDialog {
    Q_OBJECT
public:
    // openMaintenance: opens the maintenance dialog on the device of that
    // name (CP932).
    CInventoryDlg(std::unique_ptr<InventoryWindowLogic> logic, FileDialogs& files,
                  Reporter& reporter, std::function<void(const std::string&)> openMaintenance,
                  QWidget* parent = nullptr);
    ~CInventoryDlg() override;

    InventoryWindowLogic& logic() { return *logic_; }

public slots:
    void onStart();
    void onStop();
    void onExport();
    void onMaintenance();

private:
    void Notify();
    void TakeArrived();
    void ShowState();

    std::unique_ptr<InventoryWindowLogic> logic_;
    FileDialogs& files_;
    Reporter& reporter_;
    std::function<void(const std::string&)> openMaintenance_;
    std::unique_ptr<Ui::CInventoryDlg> ui_;
    InventoryModel* model_ = nullptr;
    std::atomic<bool> pending_{false};
};

}  // namespace quellin::console
