// Message boxes and questions as the cores ask for them.  The windowed
// programs answer through Qt; tests answer through FakeMessageBoxes, which
// records every box and replies as told.
#pragma once

#include <deque>
#include <string>
#include <vector>

namespace quellin {

enum class MsgIcon { None, Exclamation, Question, Information, Error };
enum class MsgButtons { Ok, OkCancel, YesNo };
enum class MsgAnswer { Ok, Cancel, Yes, No };

struct MessageBoxRequest {
    std::string caption;  // CP932
    std::string text;     // CP932
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
    MsgAnswer defaultButton = MsgAnswer::Ok;
};

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows the box modally and returns the button pressed.  A box closed
    // without a choice answers Cancel (or No for Yes/No, Ok for a plain box).
    virtual MsgAnswer Show(const MessageBoxRequest& request) = 0;
};

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
