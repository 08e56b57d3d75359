// Message boxes that work operations may show from a worker thread: the box
// is shown on the user-interface thread while the worker waits for the
// answer.
#pragma once

#include "message_box.h"

namespace quellin {

class ThreadSafeMessageBoxes final : public MessageBoxes {
public:
    explicit ThreadSafeMessageBoxes(MessageBoxes& inner) : inner_(inner) {}
    MsgAnswer Show(const MessageBoxRequest& request) override;

private:
    MessageBoxes& inner_;
};

}  // namespace quellin
