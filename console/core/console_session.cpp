#include "console_session.h"

#include "codec.h"

#include <algorithm>

namespace quellin::console {

ConsoleSession::ConsoleSession(const std::string& programFolder, ConsoleSeams seams,
                               RouterTimings timings)
    : app_(programFolder),
      reporter_(app_.programFolder(), seams.boxes),
      questions_(reporter_),
      book_(app_.registryPath(), app_.settings().maxRows),
      router_(app_, timings),
      runner_(router_, reporter_, questions_, seams.waiter),
      scheduler_(book_, runner_, busy_, [this] { return book_.Save(); }),
      syslog_(app_.layout().syslogProgram(), reporter_, seams.processes),
      webService_(app_.layout(), reporter_, seams.services) {}

void ConsoleSession::Start() {
    book_.Load(reporter_, app_.maxRowsOverLimit());
    webService_.RemoveLeftOver(WebServiceControl::When::kStartUp);
    scheduler_.DropExpiredSchedules();
}

void ConsoleSession::Exit() {
    syslog_.StopSyslogServer();
    reporter_.Report(kToolName, cp932::Jp("ツールを終了しました。"), MSG_LOG);
}

void ConsoleSession::EndOfDesktopSession() {
    syslog_.StopSyslogServer();
    webService_.RemoveLeftOver(WebServiceControl::When::kSessionEnd);
}

std::optional<int> ConsoleSession::RowForSettings(const std::vector<int>& selectedRows) {
    if (selectedRows.size() == 1)
        return selectedRows.front();
    reporter_.Report("",
                     cp932::Jp(selectedRows.empty() ? "装置が選択されていません。"
                                                    : "複数の装置が選択されています。"),
                     MSG_BOX);
    return std::nullopt;
}

std::vector<int> ConsoleSession::RowsForMaintenance(std::vector<int> selectedRows) {
    std::sort(selectedRows.begin(), selectedRows.end());
    const char* refusal = selectedRows.empty() ? "装置が選択されていません。" : nullptr;
    for (int row : selectedRows)
        if (book_.device(row).name.empty())
            refusal = "未設定の装置が選択されています。";
    if (refusal == nullptr)
        return selectedRows;
    reporter_.Report("", cp932::Jp(refusal), MSG_BOX);
    return {};
}

}  // namespace quellin::console
