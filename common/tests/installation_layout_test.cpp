#include "installation_layout.h"

#include <gtest/gtest.h>

namespace quellin {
namespace {

// Each program reaches the same files from the folder as it knows it.
TEST(InstallationLayoutTest, EveryProgramFindsTheSameFiles) {
    const InstallationLayout console("/opt/Quellin_server/");
    const InstallationLayout netprov(InstallationLayout::kSeenFromCgiFolder);
    const InstallationLayout setup("/opt/Quellin_server");
    EXPECT_EQ(console.settingsFile(), "/opt/Quellin_server/NEXORA.INI");
    EXPECT_EQ(setup.settingsFile(), "/opt/Quellin_server/NEXORA.INI");
    EXPECT_EQ(netprov.settingsFile(), "../../NEXORA.INI");
    EXPECT_EQ(netprov.registry(), "../../base.db");
    EXPECT_EQ(netprov.conversionTable(), "../../firmifconvert.db");
    EXPECT_EQ(console.firmwareFolder(), "/opt/Quellin_server/firmware");
    EXPECT_EQ(setup.logFolder(), "/opt/Quellin_server/log");
    EXPECT_EQ(console.configFolder(), "/opt/Quellin_server/config");
    EXPECT_EQ(console.syslogProgram(), "/opt/Quellin_server/syslog/Syslogd");
    EXPECT_EQ(setup.httpdConf(), "/opt/Quellin_server/httpd/conf/httpd.conf");
    EXPECT_EQ(console.httpdProgram(), "/opt/Quellin_server/httpd/bin/httpd");
    EXPECT_EQ(InstallationLayout("").settingsFile(), "NEXORA.INI");
}

// The spellings that have always had a separator after the folder keep it.
TEST(InstallationLayoutTest, JoinedKeepsTheSeparatorAfterTheFolder) {
    EXPECT_EQ(InstallationLayout("/q/").Joined(InstallationLayout::kHttpdConf),
              "/q//httpd/conf/httpd.conf");
    EXPECT_EQ(InstallationLayout("/q/").helpPage(), "/q//Quellin_tool.html");
    EXPECT_EQ(InstallationLayout("../..").Joined(InstallationLayout::kLogFolder), "../../log");
}

}  // namespace
}  // namespace quellin
