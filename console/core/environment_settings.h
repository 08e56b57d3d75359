// What the environment settings dialog "環境設定" does: the software and
// log folders, stored into the running settings at once and into NEXORA.INI.
#pragma once

#include "report.h"
#include "settings.h"

#include <string>

namespace quellin::console {

class EnvironmentSettingsLogic {
public:
    EnvironmentSettingsLogic(ConsoleSettings& settings, std::string programFolder,
                             Reporter& reporter)
        : settings_(settings), programFolder_(std::move(programFolder)), reporter_(reporter) {}

    // 適用: refuses empty folders; stores changed folders and, when anything
    // changed, writes the five keys to NEXORA.INI.
    bool Apply(const std::string& firmDir, const std::string& logDir);
    // OK: Apply, and the log line when anything changed.  False keeps the
    // dialog open.
    bool Ok(const std::string& firmDir, const std::string& logDir);

private:
    ConsoleSettings& settings_;
    std::string programFolder_;
    Reporter& reporter_;
    bool changed_ = false;
};

}  // namespace quellin::console
