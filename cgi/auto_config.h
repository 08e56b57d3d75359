// The provisioning run of Netprov for one calling device: the request is
// checked against the registry before anything else happens.
#pragma once

#include "cgi_request.h"

#include <string>
#include <string_view>

namespace quellin::netprov {

// Where a message goes; both flags together are allowed.
inline constexpr unsigned MSG_LOG = 0x01;   // a line of the device's operation log
inline constexpr unsigned MSG_PAGE = 0x10;  // a paragraph of the page

// The server installation folder seen from the cgi-bin working directory.
inline constexpr char kBaseFolder[] = "../..";

// Compares the access-password digest sent by a device with the expected one
// in time independent of where they differ, so the digest cannot be guessed
// byte by byte from response times.
bool DigestsEqual(std::string_view expected, std::string_view given);

class CAutoConfig {
public:
    // baseFolder is the server installation folder; every file of the run is
    // found from it.
    CAutoConfig(CCgiRequest& request, const Environment& environment,
                std::string baseFolder = kBaseFolder);

    // The run; true when it succeeded.  It checks the parameters, the
    // calling device's registry row, its access password and its
    // configuration file.
    bool Run();

    // MSG_LOG appends the text to the device's operation log, MSG_PAGE writes
    // it as a paragraph; the log line comes first.
    void Message(const std::string& text, unsigned flags);

    const std::string& deviceName() const { return deviceName_; }
    const std::string& accessId() const { return accessId_; }
    const std::string& remoteAddress() const { return remoteAddress_; }
    const std::string& configFile() const { return configFile_; }

private:
    bool CheckRequest();

    CCgiRequest& request_;
    const Environment& environment_;
    std::string deviceName_;
    std::string accessId_;
    std::string accessPassword_;
    std::string remoteAddress_;
    std::string baseFolder_;
    std::string configFile_;
};

}  // namespace quellin::netprov
