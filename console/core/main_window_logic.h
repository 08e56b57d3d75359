// What the console's main window does, without widgets: the checks of its
// buttons on the selected rows of the device list.
#pragma once

#include "device_book.h"
#include "report.h"

#include <optional>
#include <vector>

namespace quellin::console {

class MainWindowLogic {
public:
    MainWindowLogic(DeviceBook& book, Reporter& reporter) : book_(book), reporter_(reporter) {}

    // Button 設定 (or a double click): the row whose device settings open,
    // or nothing after telling the operator why.
    std::optional<int> RowForSettings(const std::vector<int>& selectedRows);

    // Button メンテナンス: the rows to maintain in list order (one row: the
    // maintenance dialog, several: the multi-device dialog), or none after
    // telling the operator why.
    std::vector<int> RowsForMaintenance(std::vector<int> selectedRows);

    // The exit routine's log line.
    void LogExit();

private:
    DeviceBook& book_;
    Reporter& reporter_;
};

}  // namespace quellin::console
