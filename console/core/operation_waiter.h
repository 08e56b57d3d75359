// How the console waits for a router operation.  The window layer shows a
// wait window and keeps the console responsive while the operation runs on a
// worker thread; the plain waiter used by tests and the command line just
// runs it.
#pragma once

#include <functional>
#include <string>

namespace quellin::console {

class OperationWaiter {
public:
    virtual ~OperationWaiter() = default;
    // Runs one operation behind the plain wait window ("しばらくお待ちください ･･･").
    virtual void Run(const std::function<void()>& operation) { operation(); }
    // Runs one operation behind the wait window that names the device.
    virtual void RunForDevice(const std::string& /*deviceName*/, const std::string& /*message*/,
                              const std::function<void()>& operation) {
        operation();
    }
};

// One maintenance action or scheduled pass at a time: a timer pass does not
// start while an action is in flight, and an action does not start inside a
// pass.
class BusyFlag {
public:
    // Takes the flag for the life of the guard; `taken` is false when it was
    // already held.
    class Guard {
    public:
        explicit Guard(BusyFlag& flag) : flag_(flag), taken_(!flag.busy_) { flag_.busy_ = true; }
        ~Guard() {
            if (taken_)
                flag_.busy_ = false;
        }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
        bool taken() const { return taken_; }

    private:
        BusyFlag& flag_;
        bool taken_;
    };

private:
    bool busy_ = false;
};

}  // namespace quellin::console
