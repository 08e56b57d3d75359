#include "window_queue.h"

#include <utility>

namespace quellin::syslogd {

std::size_t WindowItem::Bytes() const {
    std::size_t bytes = sizeof(WindowItem);
    if (row) {
        for (const auto& column : *row)
            bytes += column.size();
    }
    if (alert)
        bytes += alert->popupText.size() + alert->mailText.size();
    return bytes;
}

WindowQueue::WindowQueue(Limits limits) : limits_(limits) {}

void WindowQueue::SetWaker(std::function<void()> waker) {
    std::lock_guard lock(mutex_);
    waker_ = std::move(waker);
    woken_ = false;
}

void WindowQueue::WakeLocked() {
    if (woken_ || !waker_)
        return;
    woken_ = true;
    waker_();
}

void WindowQueue::Push(std::vector<WindowItem>& items) {
    if (items.empty())
        return;
    std::lock_guard lock(mutex_);
    for (WindowItem& item : items) {
        const std::size_t bytes = item.Bytes();
        if (items_.size() >= limits_.items || bytes_ + bytes > limits_.bytes) {
            if (item.row)
                ++heldBackRows_;
            if (item.alert)
                ++heldBackAlerts_;
            continue;
        }
        bytes_ += bytes;
        items_.push_back(std::move(item));
    }
    items.clear();
    WakeLocked();
}

void WindowQueue::SetLogStatus(const LogWriteStatus& status) {
    std::lock_guard lock(mutex_);
    logStatus_ = status;
    WakeLocked();
}

void WindowQueue::SetForwardStatus(const ForwardStatus& status) {
    std::lock_guard lock(mutex_);
    forwardStatus_ = status;
    WakeLocked();
}

void WindowQueue::SetStoreStatus(const syslogstore::StoreWriteStatus& status) {
    std::lock_guard lock(mutex_);
    // The damaged file's new name is said once: a later status before the
    // window took this one must not hide it.
    std::string movedAside = storeStatus_ ? std::move(storeStatus_->movedAside) : std::string();
    storeStatus_ = status;
    if (storeStatus_->movedAside.empty())
        storeStatus_->movedAside = std::move(movedAside);
    WakeLocked();
}

WindowQueue::Delivery WindowQueue::Take(std::size_t maxItems) {
    std::lock_guard lock(mutex_);
    Delivery delivery;
    while (!items_.empty() && delivery.items.size() < maxItems) {
        bytes_ -= items_.front().Bytes();
        delivery.items.push_back(std::move(items_.front()));
        items_.pop_front();
    }
    delivery.heldBackRows = std::exchange(heldBackRows_, 0);
    delivery.heldBackAlerts = std::exchange(heldBackAlerts_, 0);
    delivery.logStatus = std::exchange(logStatus_, std::nullopt);
    delivery.forwardStatus = std::exchange(forwardStatus_, std::nullopt);
    delivery.storeStatus = std::exchange(storeStatus_, std::nullopt);
    delivery.more = !items_.empty();
    woken_ = false;
    return delivery;
}

}  // namespace quellin::syslogd
