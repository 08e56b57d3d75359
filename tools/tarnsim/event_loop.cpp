#include "event_loop.h"

#include <cerrno>

namespace quellin::tarn {

void EventLoop::Watch(int fd, short events, Handler handler) {
    watches_[fd] =
        Watcher{events, std::make_shared<Handler>(std::move(handler)), nextGeneration_++};
}

void EventLoop::SetEvents(int fd, short events) {
    if (auto it = watches_.find(fd); it != watches_.end())
        it->second.events = events;
}

void EventLoop::Unwatch(int fd) {
    watches_.erase(fd);
}

EventLoop::TimerId EventLoop::After(std::chrono::milliseconds delay, std::function<void()> task) {
    TimerId id = nextTimer_++;
    Clock::time_point due = Clock::now() + delay;
    timers_[id] = Timer{due, std::move(task)};
    schedule_.emplace(due, id);
    return id;
}

void EventLoop::Cancel(TimerId id) {
    timers_.erase(id);
}

void EventLoop::Post(std::function<void()> task) {
    posted_.push_back(std::move(task));
}

int EventLoop::PollTimeoutMs() const {
    if (!posted_.empty())
        return 0;
    // Wake at least once a second so that planned work is never late by
    // more than that.
    constexpr int kLongest = 1000;
    for (const auto& [due, id] : schedule_) {
        if (timers_.count(id) == 0)
            continue;
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
        if (wait <= 0)
            return 0;
        return wait < kLongest ? static_cast<int>(wait) : kLongest;
    }
    return kLongest;
}

void EventLoop::RunDueTimers() {
    auto now = Clock::now();
    while (!schedule_.empty() && schedule_.begin()->first <= now) {
        TimerId id = schedule_.begin()->second;
        schedule_.erase(schedule_.begin());
        auto it = timers_.find(id);
        if (it == timers_.end())
            continue;  // cancelled
        auto task = std::move(it->second.task);
        timers_.erase(it);
        task();
    }
}

void EventLoop::RunPosted() {
    while (!posted_.empty()) {
        auto tasks = std::move(posted_);
        posted_.clear();
        for (auto& task : tasks)
            task();
    }
}

bool EventLoop::Run() {
    running_ = true;
    std::vector<pollfd> fds;
    std::vector<std::uint64_t> generations;
    while (running_) {
        fds.clear();
        generations.clear();
        for (const auto& [fd, watch] : watches_) {
            fds.push_back(pollfd{fd, watch.events, 0});
            generations.push_back(watch.generation);
        }
        int ready = ::poll(fds.data(), fds.size(), PollTimeoutMs());
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            const pollfd& p = fds[i];
            if (p.revents == 0 || !running_)
                continue;
            auto it = watches_.find(p.fd);
            // A handler earlier in this round may have dropped this watch or
            // closed its descriptor and watched a new one under that number.
            if (it == watches_.end() || it->second.generation != generations[i])
                continue;
            std::shared_ptr<Handler> handler = it->second.handler;
            (*handler)(p.revents);
        }
        RunPosted();
        RunDueTimers();
        RunPosted();
    }
    return true;
}

}  // namespace quellin::tarn
