// The questions an operation asks before it does something it cannot take
// back: a firmware update (marked when it is a downgrade) and a deletion.
// The dialogs answer them with a message box; the command line answers them
// in advance, from its options.
#pragma once

#include "report.h"

#include <string>

namespace quellin::console {

struct FirmwareUpdateQuestion {
    std::string deviceName;  // CP932
    std::string current;     // "V%02d.%02d"
    std::string next;
    bool downgrade = false;
};

enum class Deletion {
    kDevice,       // the registration of a device
    kLogSchedule,  // a device's log-collection schedule
};

struct Answer {
    bool yes = false;
    std::string reason;  // CP932: why not, when the answer says so
};

class Questions {
public:
    virtual ~Questions() = default;
    virtual Answer ConfirmFirmwareUpdate(const FirmwareUpdateQuestion& question) = 0;
    virtual Answer ConfirmDeletion(Deletion what, const std::string& deviceName) = 0;
};

// "AAA版からBBB版へソフトウェアを更新しますXXX。": what the update question
// asks, and the operation-log line once the update is decided (CP932).
std::string FirmwareUpdateText(const FirmwareUpdateQuestion& question);

// The console's questions: message boxes with the question icon and No (or
// Cancel) as the default button.
class MessageBoxQuestions final : public Questions {
public:
    explicit MessageBoxQuestions(Reporter& reporter) : reporter_(reporter) {}
    Answer ConfirmFirmwareUpdate(const FirmwareUpdateQuestion& question) override;
    Answer ConfirmDeletion(Deletion what, const std::string& deviceName) override;

private:
    Reporter& reporter_;
};

// The questions answered in advance, by the command line's options: an
// update goes ahead unless it is a downgrade not allowed; a deletion goes
// ahead (the device was named to be removed).
class AnsweredQuestions final : public Questions {
public:
    explicit AnsweredQuestions(bool allowDowngrade) : allowDowngrade_(allowDowngrade) {}
    Answer ConfirmFirmwareUpdate(const FirmwareUpdateQuestion& question) override;
    Answer ConfirmDeletion(Deletion, const std::string&) override { return {true}; }

private:
    bool allowDowngrade_;
};

}  // namespace quellin::console
