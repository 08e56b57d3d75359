// The provisioning run of Netprov for one calling device: the request is
// checked against the registry, then the device at the calling address gets
// the firmware of the software folder, its configuration and a restart.
#pragma once

#include "cgi_request.h"
#include "ftp_session.h"
#include "installation_layout.h"
#include "result.h"
#include "telnet_session.h"

#include <string>
#include <string_view>

namespace quellin::netprov {

// Where a message goes; both flags together are allowed.
inline constexpr unsigned MSG_LOG = 0x01;   // a line of the device's operation log
inline constexpr unsigned MSG_PAGE = 0x10;  // a paragraph of the page

// The server installation folder seen from the cgi-bin working directory.
inline constexpr const char* kBaseFolder = InstallationLayout::kSeenFromCgiFolder;

// Where and how long the run talks to the device; the defaults are the
// routers' standard ports and times.
struct ProvisioningOptions {
    TelnetOptions telnet;  // port 23, 5 s of silence ends a response
    int ftpPort = 21;
    FtpTimeouts ftp;  // 30 s to connect
    // The folder of the restart program "Devrestart", which is also its
    // working directory: the cgi-bin working directory of the run.
    std::string restartFolder = ".";
};

// The user that the run logs in as over FTP, without a password.
inline constexpr char kFtpUser[] = "ftp-admin";

// Compares the access-password digest sent by a device with the expected one
// in time independent of where they differ, so the digest cannot be guessed
// byte by byte from response times.
bool DigestsEqual(std::string_view expected, std::string_view given);

class CAutoConfig {
public:
    // baseFolder is the server installation folder; every file of the run is
    // found from it.
    CAutoConfig(CCgiRequest& request, const Environment& environment,
                std::string baseFolder = kBaseFolder, ProvisioningOptions options = {});

    // The run; true when it succeeded.  It checks the parameters, the
    // calling device's registry row, its access password and its
    // configuration file, then brings the device's firmware to the software
    // folder's version, uploads the configuration as "config1" and starts
    // the restart program.
    bool Run();

    // True when the run may go on: an image was pushed or none was due.
    bool UpdateFirmware();

    // Uploads the local file under the remote name in active mode; reports
    // a failure itself.
    bool PutFile(const std::string& localPath, const std::string& remoteName);

    // MSG_LOG appends the text to the device's operation log, MSG_PAGE writes
    // it as a paragraph; the log line comes first.
    void Message(const std::string& text, unsigned flags);

    // Once the run has started (the device has proved itself), the reason
    // of a failure as an operation-log line of its own, on one line; it
    // never reaches the page.
    void LogReason(const Error& reason);

    const std::string& deviceName() const { return deviceName_; }
    const std::string& accessId() const { return accessId_; }
    const std::string& remoteAddress() const { return remoteAddress_; }
    const std::string& configFile() const { return configFile_; }

private:
    bool CheckRequest();
    Result<void> StartRestartProgram();
    // The failure's message to the log and the page, its reason to the log
    // right after the message; false.
    bool Fail(const std::string& message, const Error& reason);

    CCgiRequest& request_;
    const Environment& environment_;
    std::string deviceName_;
    std::string accessId_;
    std::string accessPassword_;
    std::string remoteAddress_;
    InstallationLayout layout_;
    std::string configFile_;
    ProvisioningOptions options_;
    bool started_ = false;
};

}  // namespace quellin::netprov
