// The hand-over from the reception thread to the window: what each accepted
// message leaves for the window (its row, its alert) and the state of the
// log, of forwarding and of the store, bounded so that a window that falls behind never
// holds up reception.
#pragma once

#include "alert.h"
#include "forwarder.h"
#include "log_writer.h"
#include "received_message.h"
#include "store_writer.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace quellin::syslogd {

// What one accepted message leaves for the window.
struct WindowItem {
    std::optional<ListRow> row;
    std::optional<AlertOrder> alert;

    std::size_t Bytes() const;
};

// The hand-over from the reception thread to the window: bounded in items
// and bytes.  Rows are few (the display rate limit allows 11 a second);
// alerts are as many as matching messages.  Whatever does not fit is
// counted, never dropped silently, and the count goes to the window with
// the next delivery.
class WindowQueue {
public:
    struct Limits {
        std::size_t items = 20000;
        std::size_t bytes = 32u << 20;
    };

    struct Delivery {
        std::vector<WindowItem> items;
        std::uint64_t heldBackRows = 0;                            // since the previous delivery
        std::uint64_t heldBackAlerts = 0;                          // since the previous delivery
        std::optional<LogWriteStatus> logStatus;                   // when it changed
        std::optional<ForwardStatus> forwardStatus;                // when it changed
        std::optional<syslogstore::StoreWriteStatus> storeStatus;  // when it changed
        bool more = false;                                         // items are left waiting
    };

    explicit WindowQueue(Limits limits);
    WindowQueue() : WindowQueue(Limits{}) {}

    // Called on the pushing thread when something arrives for a window that
    // has not been told since it last took.  Set and cleared by the window.
    void SetWaker(std::function<void()> waker);

    void Push(std::vector<WindowItem>& items);
    void SetLogStatus(const LogWriteStatus& status);
    // Any thread.
    void SetForwardStatus(const ForwardStatus& status);
    // Any thread.
    void SetStoreStatus(const syslogstore::StoreWriteStatus& status);

    // At most `maxItems` items, oldest first, with the counts and status.
    Delivery Take(std::size_t maxItems);

private:
    void WakeLocked();

    const Limits limits_;
    std::mutex mutex_;
    std::deque<WindowItem> items_;
    std::size_t bytes_ = 0;
    std::uint64_t heldBackRows_ = 0;
    std::uint64_t heldBackAlerts_ = 0;
    std::optional<LogWriteStatus> logStatus_;
    std::optional<ForwardStatus> forwardStatus_;
    std::optional<syslogstore::StoreWriteStatus> storeStatus_;
    std::function<void()> waker_;
    bool woken_ = false;
};

}  // namespace quellin::syslogd
