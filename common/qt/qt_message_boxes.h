// Message boxes shown with QMessageBox, owned by the active window.
#pragma once

#include "message_box.h"

namespace quellin {

class QtMessageBoxes final : public MessageBoxes {
public:
    MsgAnswer Show(const MessageBoxRequest& request) override;
};

}  // namespace quellin
