#include "timers.h"

namespace corvidale::platform {

void TimerOwner::post(std::function<void()> job) { queue_.post(guard(std::move(job))); }

void TimerOwner::after(double seconds, std::function<void()> job) { queue_.after(seconds, guard(std::move(job))); }

void TimerOwner::repeating(double intervalSeconds, std::function<void()> job) {
    repeating_.push_back(queue_.repeating(intervalSeconds, guard(std::move(job))));
}

void TimerOwner::cancel() {
    for (auto& timer : repeating_) timer->invalidate();
    repeating_.clear();
    token_ = std::make_shared<const char>();
}

bool PerMinuteAllowance::spend() {
    if (spent_ >= perMinute_) return false;
    ++spent_;
    timers_.after(60.0, [this] { --spent_; });
    return true;
}

}  // namespace corvidale::platform
