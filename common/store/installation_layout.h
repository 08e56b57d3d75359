// The shared files and folders below the installation folder, each named
// once.  Every program finds them from the installation folder as it reaches
// it: the console, quellin and Setup from the folder itself, Netprov and
// Devrestart from their cgi-bin working directory two levels below it.
#pragma once

#include <string>
#include <string_view>

namespace quellin {

class InstallationLayout {
public:
    static constexpr char kSettingsFile[] = "NEXORA.INI";
    static constexpr char kRegistry[] = "base.db";
    static constexpr char kConversionTable[] = "firmifconvert.db";
    // The operation logs, and by default (LOGDIR) the collected logs.
    static constexpr char kLogFolder[] = "log";
    // The firmware images, by default (FIRMDIR).
    static constexpr char kFirmwareFolder[] = "firmware";
    // The configuration files named in base.db, where Setup puts them.
    static constexpr char kConfigFolder[] = "config";
    // The configuration history: a git repository that quellin's backups
    // keep, one file per device.
    static constexpr char kHistoryFolder[] = "history";
    // The daily backup's systemd units, as Setup fills them in.
    static constexpr char kUnitFolder[] = "systemd";
    static constexpr char kSyslogProgram[] = "syslog/Syslogd";
    static constexpr char kHttpdConf[] = "httpd/conf/httpd.conf";
    static constexpr char kHttpdProgram[] = "httpd/bin/httpd";
    // Netprov and the restart program it starts, beside it.
    static constexpr char kCgiFolder[] = "httpd/cgi-bin";
    static constexpr char kRestartProgram[] = "Devrestart";
    static constexpr char kHelpPage[] = "Quellin_tool.html";

    // The installation folder seen from the cgi-bin working directory.
    static constexpr char kSeenFromCgiFolder[] = "../..";

    // folder (CP932): the console's program folder ends in "/"; Netprov's
    // "../.." and Setup's folder do not.
    explicit InstallationLayout(std::string folder) : folder_(std::move(folder)) {}

    const std::string& folder() const { return folder_; }
    // The folder, one separator and the relative path.
    std::string Path(std::string_view relative) const;
    // The folder, a separator and the relative path, as the defaults and
    // pages have always spelled them: after a folder that ends in a
    // separator there are two, which the file system takes as one.
    std::string Joined(std::string_view relative) const;

    std::string settingsFile() const { return Path(kSettingsFile); }
    std::string registry() const { return Path(kRegistry); }
    std::string conversionTable() const { return Path(kConversionTable); }
    std::string logFolder() const { return Path(kLogFolder); }
    std::string firmwareFolder() const { return Path(kFirmwareFolder); }
    std::string configFolder() const { return Path(kConfigFolder); }
    std::string historyFolder() const { return Path(kHistoryFolder); }
    std::string syslogProgram() const { return Path(kSyslogProgram); }
    std::string httpdConf() const { return Path(kHttpdConf); }
    std::string httpdProgram() const { return Path(kHttpdProgram); }
    std::string helpPage() const { return Joined(kHelpPage); }

private:
    std::string folder_;
};

}  // namespace quellin
