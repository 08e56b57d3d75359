#include "console_session.h"

#include "clock.h"
#include "codec.h"

#include <algorithm>

namespace quellin::console {

ConsoleSession::ConsoleSession(const std::string& programFolder, ConsoleSeams seams,
                               RouterTimings timings)
    : installation_(programFolder, Installation::Access::kWrite, seams.boxes,
                    ConsoleApp::StartLog::Write),
      questions_(reporter()),
      router_(app(), timings),
      runner_(router_, reporter(), questions_, seams.waiter),
      scheduler_(
          book(), runner_, busy_, [this] { return book().Save(); },
          [this](const CBase& device, const Outcome& outcome) { TellCollection(device, outcome); }),
      syslog_(app().layout().syslogProgram(), reporter(), seams.processes),
      webService_(app().layout(), reporter(), seams.services) {}

// A scheduled collection that starts failing, or recovers, is told as the
// quellin runs tell theirs, on the notice thread.
void ConsoleSession::TellCollection(const CBase& device, const Outcome& outcome) {
    const InstallationLayout& layout = app().layout();
    if (!ReadNoticeSettings(cp932::ToPath(layout.settingsFile())).any())
        return;
    notices_.Post([this, layout, device, outcome, time = CurrentClock().Now()] {
        (void)TellRun(
            layout,
            [&](NoticeStates& states) {
                return WorkNotices(NoticeWork::kCollection, device, outcome, states, time);
            },
            {}, reporter());
    });
}

void ConsoleSession::Start() {
    installation_.Load();
    webService_.RemoveLeftOver(WebServiceControl::When::kStartUp);
    scheduler_.DropExpiredSchedules();
}

void ConsoleSession::Exit() {
    syslog_.StopSyslogServer();
    reporter().Report(kToolName, cp932::Jp("ツールを終了しました。"), MSG_LOG);
}

void ConsoleSession::EndOfDesktopSession() {
    syslog_.StopSyslogServer();
    webService_.RemoveLeftOver(WebServiceControl::When::kSessionEnd);
}

std::optional<int> ConsoleSession::RowForSettings(const std::vector<int>& selectedRows) {
    if (selectedRows.size() == 1)
        return selectedRows.front();
    reporter().Report("",
                      cp932::Jp(selectedRows.empty() ? "装置が選択されていません。"
                                                     : "複数の装置が選択されています。"),
                      MSG_BOX);
    return std::nullopt;
}

std::vector<int> ConsoleSession::RowsForMaintenance(std::vector<int> selectedRows) {
    std::sort(selectedRows.begin(), selectedRows.end());
    const char* refusal = selectedRows.empty() ? "装置が選択されていません。" : nullptr;
    for (int row : selectedRows)
        if (book().device(row).name.empty())
            refusal = "未設定の装置が選択されています。";
    if (refusal == nullptr)
        return selectedRows;
    reporter().Report("", cp932::Jp(refusal), MSG_BOX);
    return {};
}

}  // namespace quellin::console
