#include "settings.h"

#include "codec.h"
#include "installation_layout.h"
#include "profile_file.h"

namespace quellin {
namespace {

int LimitMaxRows(int rows, bool* overLimit) {
    if (overLimit != nullptr)
        *overLimit = rows > kMaxRowsLimit;
    return rows > kMaxRowsLimit ? kMaxRowsLimit : rows;
}

int TelnetDeadline(const ProfileFile& ini) {
    int seconds = ini.GetInt(kSettingsSection, "TELNETDEADLINE", kDefaultTelnetDeadline);
    return seconds > 0 ? seconds : kDefaultTelnetDeadline;
}

}  // namespace

ConsoleSettings ReadConsoleSettings(const std::string& programFolder, bool* maxRowsOverLimit) {
    const InstallationLayout layout(programFolder);
    ProfileFile ini(cp932::ToPath(layout.settingsFile()));
    std::string trimmed = programFolder;
    if (!trimmed.empty())
        trimmed.pop_back();

    ConsoleSettings s;
    s.firmDir = ini.GetString(kSettingsSection, "FIRMDIR", layout.firmwareFolder());
    s.logDir = ini.GetString(kSettingsSection, "LOGDIR", layout.logFolder());
    s.port = ini.GetInt(kSettingsSection, "PORT", 80);
    s.loginId = ini.GetString(kSettingsSection, "LOGINID", "admin");
    s.telnetDeadline = TelnetDeadline(ini);
    s.httpdConf =
        ini.GetString(kSettingsSection, "HTTPDCONF", layout.Joined(InstallationLayout::kHttpdConf));
    s.serverDir = ini.GetString(kSettingsSection, "SVRINSDIR", trimmed);
    s.maxRows =
        LimitMaxRows(ini.GetInt(kSettingsSection, "MAXROWS", kDefaultMaxRows), maxRowsOverLimit);
    if (s.maxRows < 0)
        s.maxRows = kDefaultMaxRows;
    return s;
}

bool WriteConsoleSettings(const std::string& programFolder, const ConsoleSettings& s) {
    ProfileFile ini(cp932::ToPath(InstallationLayout(programFolder).settingsFile()));
    bool ok = ini.WriteString(kSettingsSection, "FIRMDIR", s.firmDir);
    ok = ini.WriteString(kSettingsSection, "LOGDIR", s.logDir) && ok;
    ok = ini.WriteString(kSettingsSection, "PORT", std::to_string(s.port)) && ok;
    ok = ini.WriteString(kSettingsSection, "SVRINSDIR", s.serverDir) && ok;
    ok = ini.WriteString(kSettingsSection, "HTTPDCONF", s.httpdConf) && ok;
    return ok;
}

NetprovSettings ReadNetprovSettings(const std::string& iniPath) {
    ProfileFile ini(cp932::ToPath(iniPath));
    NetprovSettings s;
    s.loginId = ini.GetString(kSettingsSection, "LOGINID", "", 256);
    s.firmDir = ini.GetString(kSettingsSection, "FIRMDIR", "", 256);
    s.telnetDeadline = TelnetDeadline(ini);
    return s;
}

}  // namespace quellin
