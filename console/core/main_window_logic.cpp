#include "main_window_logic.h"

#include "codec.h"

#include <algorithm>

namespace quellin::console {

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
        if (book_.device(row).name.empty()) {
            reporter_.Report("", cp932::Jp("未設定の装置が選択されています。"), MSG_BOX);
            return {};
        }
    }
    return selectedRows;
}

void MainWindowLogic::LogExit() {
    reporter_.Report(kToolName, cp932::Jp("ツールを終了しました。"), MSG_LOG);
}

}  // namespace quellin::console
