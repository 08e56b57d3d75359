// A single-threaded poll() loop with descriptor watches, one-shot timers and
// work posted to run after the current round, so that a handler may close
// the very connection it serves.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace quellin::tarn {

class EventLoop {
public:
    using Clock = std::chrono::steady_clock;
    using Handler = std::function<void(short revents)>;
    using TimerId = std::uint64_t;

    // Watches the descriptor for the events (POLLIN, POLLOUT); a second call
    // for the same descriptor replaces the first.
    void Watch(int fd, short events, Handler handler);
    void SetEvents(int fd, short events);
    void Unwatch(int fd);

    TimerId After(std::chrono::milliseconds delay, std::function<void()> task);
    void Cancel(TimerId id);

    // Runs after the handlers of the current round.
    void Post(std::function<void()> task);

    // Runs until Stop; false when poll() failed for good.
    bool Run();
    void Stop() { running_ = false; }

    std::size_t WatchCount() const { return watches_.size(); }

private:
    struct Watcher {
        short events = 0;
        std::shared_ptr<Handler> handler;
        std::uint64_t generation = 0;
    };
    struct Timer {
        Clock::time_point due;
        std::function<void()> task;
    };

    void RunDueTimers();
    void RunPosted();
    int PollTimeoutMs() const;

    std::map<int, Watcher> watches_;
    std::map<TimerId, Timer> timers_;
    std::multimap<Clock::time_point, TimerId> schedule_;
    std::vector<std::function<void()>> posted_;
    TimerId nextTimer_ = 1;
    std::uint64_t nextGeneration_ = 1;
    bool running_ = false;
};

}  // namespace quellin::tarn
