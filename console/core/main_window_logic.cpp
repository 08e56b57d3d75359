#include "main_window_logic.h"

#include "codec.h"
#include "file_replacement.h"

#include <algorithm>

namespace quellin::console {

void MainWindowLogic::LoadDeviceList() {
    const int rows = app_.settings().maxRows;
    auto path = cp932::ToPath(app_.registryPath());
    devices_.clear();
    rowsBeyond_.clear();
    // What a save killed half-way left beside the registry.
    RemoveStaleReplacements(path);
    EnsureRowCount(path, rows);
    LoadDevices(path, devices_, rows, &rowsBeyond_);
    // A registry that could not be read or written still gives a full list,
    // so every row can be shown and registered.
    while (rowCount() < rows) {
        CBase empty;
        empty.row = rowCount() + 1;
        devices_.push_back(empty);
    }
    if (app_.maxRowsOverLimit()) {
        const std::string limit = std::to_string(kMaxRowsLimit);
        reporter_.Report(kToolName,
                         cp932::Jp("最大装置数(MAXROWS)が上限の") + limit +
                             cp932::Jp("を超えているため、") + limit +
                             cp932::Jp("として扱います。"),
                         MSG_LOG | MSG_BOX);
    }
    if (!rowsBeyond_.empty()) {
        reporter_.Report(kToolName,
                         cp932::Jp("最大装置数(MAXROWS)を超える行に登録された装置が") +
                             std::to_string(rowsBeyond_.size()) +
                             cp932::Jp("台あります。これらの装置は表示されませんが、"
                                       "登録は保持されます。"),
                         MSG_LOG | MSG_BOX);
    }
}

std::optional<int> MainWindowLogic::RowForSettings(const std::vector<int>& selectedRows) {
    if (selectedRows.empty()) {
        reporter_.Report("", cp932::Jp("装置が選択されていません。"), MSG_BOX);
        return std::nullopt;
    }
    if (selectedRows.size() > 1) {
        reporter_.Report("", cp932::Jp("複数の装置が選択されています。"), MSG_BOX);
        return std::nullopt;
    }
    return selectedRows.front();
}

std::vector<int> MainWindowLogic::RowsForMaintenance(std::vector<int> selectedRows) {
    if (selectedRows.empty()) {
        reporter_.Report("", cp932::Jp("装置が選択されていません。"), MSG_BOX);
        return {};
    }
    std::sort(selectedRows.begin(), selectedRows.end());
    for (int row : selectedRows) {
        if (device(row).name.empty()) {
            reporter_.Report("", cp932::Jp("未設定の装置が選択されています。"), MSG_BOX);
            return {};
        }
    }
    return selectedRows;
}

bool MainWindowLogic::SaveDevices() {
    return quellin::SaveDevices(cp932::ToPath(app_.registryPath()), devices_,
                                app_.settings().maxRows, rowsBeyond_);
}

void MainWindowLogic::LogExit() {
    reporter_.Report(kToolName, cp932::Jp("ツールを終了しました。"), MSG_LOG);
}

}  // namespace quellin::console
