#include "report.h"

#include "operation_log.h"

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

}  // namespace quellin::console
