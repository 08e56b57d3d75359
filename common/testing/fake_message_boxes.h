// Message boxes for tests: every box is recorded and answered as told.
#pragma once

#include "message_box.h"

#include <deque>
#include <vector>

namespace quellin {

class FakeMessageBoxes final : public MessageBoxes {
public:
    MsgAnswer Show(const MessageBoxRequest& request) override {
        shown.push_back(request);
        if (!answers.empty()) {
            MsgAnswer a = answers.front();
            answers.pop_front();
            return a;
        }
        return request.defaultButton;
    }

    std::vector<MessageBoxRequest> shown;
    // Replies in order; once used up, each box answers its default button.
    std::deque<MsgAnswer> answers;
};

}  // namespace quellin
