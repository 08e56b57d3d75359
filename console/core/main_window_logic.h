// What the console's main window does, without widgets: the device list and
// the checks of its buttons.
#pragma once

#include "console_app.h"
#include "device_registry.h"
#include "operation_waiter.h"
#include "report.h"

#include <optional>
#include <string>
#include <vector>

namespace quellin::console {

class MainWindowLogic {
public:
    MainWindowLogic(ConsoleApp& app, Reporter& reporter) : app_(app), reporter_(reporter) {}

    // Pads base.db to MAXROWS rows and loads it.  The list always ends up with
    // MAXROWS devices numbered 1..MAXROWS, even when the file cannot be read.
    // Devices in rows beyond MAXROWS are kept for the saves, not shown; the
    // operator is told so, and told when MAXROWS was above the limit.
    void LoadDeviceList();

    int rowCount() const { return static_cast<int>(devices_.size()); }
    const CList<CBase>& devices() const { return devices_; }
    CBase& device(int index) { return devices_.at(static_cast<std::size_t>(index)); }

    // Button 設定 (or a double click): the row whose device settings open,
    // or nothing after telling the operator why.
    std::optional<int> RowForSettings(const std::vector<int>& selectedRows);

    // Button メンテナンス: the rows to maintain in list order (one row: the
    // maintenance dialog, several: the multi-device dialog), or none after
    // telling the operator why.
    std::vector<int> RowsForMaintenance(std::vector<int> selectedRows);

    // Writes the whole list back to base.db, and after it the rows beyond
    // MAXROWS that hold a device, unchanged; false when it failed.
    bool SaveDevices();

    // The exit routine's log line.
    void LogExit();

    ConsoleApp& app() { return app_; }
    Reporter& reporter() { return reporter_; }
    CList<CBase>& mutableDevices() { return devices_; }
    BusyFlag& busy() { return busy_; }

private:
    ConsoleApp& app_;
    Reporter& reporter_;
    CList<CBase> devices_;
    std::vector<std::string> rowsBeyond_;  // as they stand in base.db
    BusyFlag busy_;
};

}  // namespace quellin::console
