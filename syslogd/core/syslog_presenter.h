// What the main window does with what reception hands it.  The window takes
// a delivery from the WindowQueue, asks the presenter, and only carries out
// the answer: the rows to add, the one popup, the one sound, every mail, and
// what its status area says.
#pragma once

#include "alert.h"
#include "received_message.h"
#include "window_queue.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quellin::syslogd {

class SyslogPresenter {
public:
    struct Sound {
        AlertSound kind = AlertSound::None;
        std::string wavPath;  // CP932, for a wave file
    };

    // One turn of the window.
    struct Turn {
        std::vector<ListRow> rows;  // appended in this order
        // A popup replaces the one before it, so of the popups of one
        // delivery only the last is ever seen; the same goes for the sound.
        std::optional<std::string> popupText;
        std::optional<Sound> sound;
        std::vector<AlertOrder> mails;  // every mail goes out, in order
        bool noticeChanged = false;     // notice() says something new
        bool more = false;              // items wait: take them next turn
    };

    // `mailsHeldBack` is the mail client's count of mails it had no room for.
    Turn Present(WindowQueue::Delivery delivery, std::uint64_t mailsHeldBack);

    // Mail over TLS or with a login cannot go out (the reason in CP932), or
    // goes out again.
    void SetMailFailure(bool failing, const std::string& reason);

    // What reception has to say of its listeners (ReceptionNotice), CP932.
    void SetReceptionNotice(const std::string& text);

    // What the status area says (CP932); empty when there is nothing to say.
    const std::string& notice() const { return notice_; }

private:
    void OnLogStatus(const LogWriteStatus& status);
    void OnForwardStatus(const ForwardStatus& status);
    void OnStoreStatus(const syslogstore::StoreWriteStatus& status);
    void UpdateNotice();

    std::string logNotice_;
    std::string mailNotice_;
    std::string forwardNotice_;
    std::string storeNotice_;
    std::string receptionNotice_;
    std::string storeMovedAside_;  // stays said: the operator may want the old file
    std::uint64_t heldBackRows_ = 0;
    std::uint64_t heldBackAlerts_ = 0;
    std::uint64_t heldBackMails_ = 0;
    std::string notice_;
};

}  // namespace quellin::syslogd
