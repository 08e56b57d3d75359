#include "console_session.h"

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
      webService_(app_.layout(), reporter_, seams.services),
      mainWindow_(book_, reporter_) {}

void ConsoleSession::Start() {
    book_.Load(reporter_, app_.maxRowsOverLimit());
    webService_.RemoveLeftOver(WebServiceControl::When::kStartUp);
    scheduler_.DropExpiredSchedules();
}

void ConsoleSession::Exit() {
    syslog_.StopSyslogServer();
    mainWindow_.LogExit();
}

void ConsoleSession::EndOfDesktopSession() {
    syslog_.StopSyslogServer();
    webService_.RemoveLeftOver(WebServiceControl::When::kSessionEnd);
}

}  // namespace quellin::console
