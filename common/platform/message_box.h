// Message boxes and questions as the cores ask for them.  The windowed
// programs answer through Qt; tests answer through FakeMessageBoxes
// (fake_message_boxes.h), which records every box and replies as told.
#pragma once

#include <string>

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

}  // namespace quellin
