// The console's application state: what start-up reads once and every
// dialog uses for the whole run.
#pragma once

#include "conversion_table.h"
#include "installation_layout.h"
#include "settings.h"

#include <string>

namespace quellin::console {

class ConsoleApp {
public:
    // Start-up after the single-instance check: reads NEXORA.INI in the
    // program folder (defaults where keys are missing), loads the firmware
    // name conversion table and logs the start.  programFolder ends in "/".
    // The command line works on the same folder without starting the tool,
    // so it skips the start line.
    enum class StartLog { Write, Skip };
    explicit ConsoleApp(std::string programFolder, StartLog startLog = StartLog::Write);

    const std::string& programFolder() const { return layout_.folder(); }
    const InstallationLayout& layout() const { return layout_; }
    std::string registryPath() const { return layout_.registry(); }

    ConsoleSettings& settings() { return settings_; }
    const ConsoleSettings& settings() const { return settings_; }
    const CList<CFirmifConversionInfo>& conversionTable() const { return conversionTable_; }
    // True when NEXORA.INI asks for more rows than the console takes.
    bool maxRowsOverLimit() const { return maxRowsOverLimit_; }

private:
    InstallationLayout layout_;
    bool maxRowsOverLimit_ = false;
    ConsoleSettings settings_;
    CList<CFirmifConversionInfo> conversionTable_;
};

}  // namespace quellin::console
