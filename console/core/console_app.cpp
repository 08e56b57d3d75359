#include "console_app.h"

#include "codec.h"
#include "operation_log.h"
#include "report.h"

namespace quellin::console {

ConsoleApp::ConsoleApp(std::string programFolder, StartLog startLog)
    : layout_(std::move(programFolder)),
      settings_(ReadConsoleSettings(layout_.folder(), &maxRowsOverLimit_)) {
    LoadConversionTable(cp932::ToPath(layout_.conversionTable()), conversionTable_);
    if (startLog == StartLog::Write)
        WriteOperationLog(kToolName, layout_.folder(), cp932::Jp("ツールを起動しました。"));
}

}  // namespace quellin::console
