#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "main_queue.h"

namespace corvidale::platform {

// Jobs on the main queue that die with their owner: a job still waiting when
// the owner goes, or when it cancels, does nothing. A member of the object
// whose `this` the jobs use, so that it goes with that object.
class TimerOwner {
public:
    explicit TimerOwner(MainQueue& queue) : queue_(queue) {}
    ~TimerOwner() { cancel(); }
    TimerOwner(const TimerOwner&) = delete;
    TimerOwner& operator=(const TimerOwner&) = delete;

    void post(std::function<void()> job);
    void after(double seconds, std::function<void()> job);
    // Fires every `intervalSeconds`, first one interval from now, until cancel().
    void repeating(double intervalSeconds, std::function<void()> job);
    // Every job handed out so far does nothing from now on.
    void cancel();

    // `job` as a callable that does nothing once this owner is gone or has
    // cancelled: for completions handed to other objects and to workers
    // (which may carry it, but must post it back before calling it).
    template <typename Job>
    auto guard(Job job) const {
        return [alive = std::weak_ptr<const char>(token_), job = std::move(job)](auto&&... args) mutable {
            if (!alive.expired()) job(std::forward<decltype(args)>(args)...);
        };
    }

private:
    MainQueue& queue_;
    std::shared_ptr<const char> token_ = std::make_shared<const char>();
    std::vector<std::unique_ptr<Timer>> repeating_;
};

// How many times something may happen in any minute: each one spent comes
// back a minute after it was.
class PerMinuteAllowance {
public:
    PerMinuteAllowance(MainQueue& queue, unsigned perMinute) : perMinute_(perMinute), timers_(queue) {}

    // Spends one; false (and nothing spent) when this minute's are gone.
    bool spend();
    unsigned perMinute() const { return perMinute_; }

private:
    const unsigned perMinute_;
    unsigned spent_ = 0;
    TimerOwner timers_;
};

}  // namespace corvidale::platform
