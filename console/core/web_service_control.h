// The removal of a left-over service of the installation's web server: at
// the console's start and at the end of the desktop session, a service named
// "NXR_HTTPD" that runs this installation's httpd is stopped (waiting up to a
// minute) and deleted.  The console never starts the web server.
#pragma once

#include "installation_layout.h"
#include "report.h"
#include "service_manager.h"

#include <chrono>
#include <functional>
#include <string>

namespace quellin::console {

inline constexpr char kWebServiceName[] = "NXR_HTTPD";

class WebServiceControl {
public:
    WebServiceControl(const InstallationLayout& layout, Reporter& reporter,
                      ServiceManager& services);

    enum class When { kStartUp, kSessionEnd };
    // Removes the service when it runs this installation's web server, and
    // logs it.
    void RemoveLeftOver(When when);

    // The start command by which the service is recognised.
    const std::string& runServiceCommand() const { return runServiceCommand_; }

    // The waits of the stop poll; tests make them instant.
    void setSleep(std::function<void(std::chrono::milliseconds)> sleep) {
        sleep_ = std::move(sleep);
    }

private:
    Reporter& reporter_;
    ServiceManager& services_;
    std::string runServiceCommand_;
    std::function<void(std::chrono::milliseconds)> sleep_;
};

}  // namespace quellin::console
