#include "web_service_control.h"

#include "codec.h"

#include <thread>

namespace quellin::console {

WebServiceControl::WebServiceControl(const InstallationLayout& layout, Reporter& reporter,
                                     ServiceManager& services)
    : reporter_(reporter),
      services_(services),
      runServiceCommand_("\"" + layout.httpdProgram() + "\" -k runservice"),
      sleep_([](std::chrono::milliseconds wait) { std::this_thread::sleep_for(wait); }) {}

void WebServiceControl::RemoveLeftOver(When when) {
    if (StopAndDeleteService(services_, kWebServiceName, runServiceCommand_, sleep_) != 0)
        return;
    reporter_.Report(kToolName,
                     cp932::Jp(when == When::kStartUp
                                   ? "[ツール起動時にサービス検知] 導入サーバを停止しました。"
                                   : "[Windowsシャットダウン検知] 導入サーバを停止しました。"),
                     MSG_LOG);
}

}  // namespace quellin::console
