// Report: the console's one way of telling the operator and the operation
// log about an event.
#pragma once

#include "message_box.h"

#include <iosfwd>
#include <mutex>
#include <string>

namespace quellin::console {

inline constexpr unsigned MSG_LOG = 0x01;
inline constexpr unsigned MSG_BOX = 0x10;

// Device name under which tool-level events are logged.
inline constexpr char kToolName[] = "Quellin_tool";

// The caption of every console message box (CP932 is plain ASCII here).
inline constexpr char kCaption[] = "Quellin Server";

class Reporter {
public:
    // programFolder ends in "/"; the operation log lives below it.
    Reporter(std::string programFolder, MessageBoxes& boxes)
        : programFolder_(std::move(programFolder)), boxes_(boxes) {}

    // MSG_LOG: a line in the device's operation log; MSG_BOX: a message box
    // with an OK button and the exclamation icon.  Texts are CP932.
    void Report(const std::string& deviceName, const std::string& message, unsigned flags);

    // A question with the question icon; the answer is the button pressed.
    MsgAnswer Ask(const std::string& message, MsgButtons buttons, MsgAnswer defaultButton);

private:
    std::string programFolder_;
    MessageBoxes& boxes_;
};

// The console's message boxes as lines of text on a stream (UTF-8), for the
// command line: every box answers with its default button.
class StreamMessageBoxes final : public MessageBoxes {
public:
    explicit StreamMessageBoxes(std::ostream& out) : out_(out) {}
    MsgAnswer Show(const MessageBoxRequest& request) override;

private:
    std::ostream& out_;
    std::mutex lock_;
};

}  // namespace quellin::console
