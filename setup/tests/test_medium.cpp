#include "test_medium.h"

namespace quellin::setup::testing {
namespace fs = std::filesystem;
using quellin::testing::Sjis;
using quellin::testing::WriteFile;

std::string TestLicenseBytes() {
    return Sjis("第1条 本ソフトウェアの使用を許諾します。") + "\r\n" + Sjis("ｶﾀｶﾅ行") + "\r\n";
}

fs::path MakeTestMedium(const fs::path& root, bool withSetup, const std::string& settingsName) {
    const fs::path medium = root / "medium";
    const fs::path bin = QUELLIN_BIN_DIR;
    const fs::path source = QUELLIN_SOURCE_DIR;
    fs::create_directories(medium / "firmware");
    fs::create_directories(medium / "log");
    fs::create_directories(medium / "config");
    fs::create_directories(medium / "syslog");
    fs::create_directories(medium / "httpd" / "conf");
    fs::create_directories(medium / "httpd" / "cgi-bin");
    fs::create_directories(medium / "httpd" / "htdocs");
    fs::copy_file(bin / "Webcfgpatch", medium / "Webcfgpatch");
    if (withSetup)
        fs::copy_file(bin / "Setup", medium / "Setup");
    else
        WriteFile(medium / "Setup", "installer");
    WriteFile(medium / "license.txt", TestLicenseBytes());
    if (!settingsName.empty())
        WriteFile(medium / settingsName, "[Config]\r\nLOGINID=admin\r\nMAXROWS=300\r\n");
    WriteFile(medium / "firmifconvert.db", "a,b\r\n");
    WriteFile(medium / "Quellin_tool", "console");
    // A stand-in that runs, for what checks the units that start it.
    WriteFile(medium / "quellin", "#!/bin/sh\nexit 0\n");
    fs::permissions(medium / "quellin", fs::perms::owner_all | fs::perms::group_read |
                                            fs::perms::group_exec | fs::perms::others_read |
                                            fs::perms::others_exec);
    WriteFile(medium / "syslog" / "Syslogd", "syslogd");
    WriteFile(medium / "httpd" / "htdocs" / "index.html", "<html></html>\r\n");
    WriteFile(medium / "httpd" / "cgi-bin" / "Netprov", "netprov");
    fs::create_symlink("Netprov", medium / "httpd" / "cgi-bin" / "nph-Netprov");
    fs::copy_file(source / "dist" / "httpd" / "conf" / "httpd.conf",
                  medium / "httpd" / "conf" / "httpd.conf");
    fs::create_directories(medium / "systemd");
    for (const char* unit : {"quellin-backup.service", "quellin-backup.timer"})
        fs::copy_file(source / "dist" / "systemd" / unit, medium / "systemd" / unit);
    // The medium may come from a read-only disc.
    fs::permissions(medium / "Quellin_tool", fs::perms::owner_read | fs::perms::group_read);
    return medium;
}

}  // namespace quellin::setup::testing
