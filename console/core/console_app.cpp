#include "console_app.h"

#include "codec.h"
#include "operation_log.h"
#include "report.h"

namespace quellin::console {

ConsoleApp::ConsoleApp(std::string programFolder, StartLog startLog)
    : programFolder_(std::move(programFolder)),
      settings_(ReadConsoleSettings(programFolder_, &maxRowsOverLimit_)) {
    LoadConversionTable(cp932::ToPath(programFolder_ + "firmifconvert.db"), conversionTable_);
    if (startLog == StartLog::Write)
        WriteOperationLog(kToolName, programFolder_, cp932::Jp("ツールを起動しました。"));
}

}  // namespace quellin::console
