// Runs router operations on a worker thread while a wait window is shown and
// the console keeps painting and ticking; the wait window is modal, so the
// operator cannot start anything else meanwhile.
#pragma once

#include "operation_waiter.h"

class QWidget;

namespace quellin::console {

class QtOperationWaiter final : public OperationWaiter {
public:
    explicit QtOperationWaiter(QWidget* owner) : owner_(owner) {}
    void setOwner(QWidget* owner) { owner_ = owner; }

    void Run(const std::function<void()>& operation) override;
    void RunForDevice(const std::string& deviceName, const std::string& message,
                      const std::function<void()>& operation) override;

private:
    QWidget* owner_;
};

}  // namespace quellin::console
