#include "report.h"

#include "codec.h"
#include "operation_log.h"

#include <ostream>

namespace quellin::console {

void Reporter::Report(const std::string& deviceName, const std::string& message, unsigned flags) {
    if (flags & MSG_LOG)
        WriteOperationLog(deviceName, programFolder_, message);
    if (flags & MSG_BOX) {
        boxes_.Show({kCaption, message, MsgIcon::Exclamation, MsgButtons::Ok, MsgAnswer::Ok});
    }
}

MsgAnswer Reporter::Ask(const std::string& message, MsgButtons buttons, MsgAnswer defaultButton) {
    return boxes_.Show({kCaption, message, MsgIcon::Question, buttons, defaultButton});
}

MsgAnswer StreamMessageBoxes::Show(const MessageBoxRequest& request) {
    std::lock_guard lock(lock_);
    out_ << cp932::ToUtf8Lossy(request.text) << "\n";
    return request.defaultButton;
}

}  // namespace quellin::console
