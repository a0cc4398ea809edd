#include "main_queue.h"

#import <Foundation/Foundation.h>

#include <algorithm>

namespace corvidale::mac {
namespace {

// How long the main run loop runs at a time while runUntil() waits, so that
// the condition is looked at often and the deadline is kept closely.
constexpr NSTimeInterval kRunLoopSlice = 0.05;

int64_t nanoseconds(double seconds) {
    if (!(seconds > 0)) return 0;  // also NaN
    const double ns = seconds * static_cast<double>(NSEC_PER_SEC);
    return ns >= 9.2e18 ? INT64_MAX : static_cast<int64_t>(ns);
}

class RunLoopTimer final : public platform::Timer {
public:
    RunLoopTimer(double intervalSeconds, std::function<void()> job) {
        // The block keeps its own copy of the job: the job may destroy this
        // wrapper while it runs.
        timer_ = [NSTimer timerWithTimeInterval:std::max(intervalSeconds, 0.0)
                                        repeats:YES
                                          block:^(NSTimer*) {
                                            job();
                                          }];
        // In the common modes, as the main queue's jobs run: also while an
        // app-modal panel is up or a menu is open.
        [[NSRunLoop mainRunLoop] addTimer:timer_ forMode:NSRunLoopCommonModes];
    }
    ~RunLoopTimer() override { invalidate(); }
    RunLoopTimer(const RunLoopTimer&) = delete;
    RunLoopTimer& operator=(const RunLoopTimer&) = delete;

    void invalidate() override { [timer_ invalidate]; }

private:
    NSTimer* timer_ = nil;
};

}  // namespace

void MainDispatchQueue::post(std::function<void()> job) {
    dispatch_async(dispatch_get_main_queue(), ^{
      job();
    });
}

void MainDispatchQueue::after(double seconds, std::function<void()> job) {
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, nanoseconds(seconds)), dispatch_get_main_queue(), ^{
      job();
    });
}

std::unique_ptr<platform::Timer> MainDispatchQueue::repeating(double intervalSeconds, std::function<void()> job) {
    return std::make_unique<RunLoopTimer>(intervalSeconds, std::move(job));
}

bool MainDispatchQueue::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
    if (!(timeoutSeconds > 0)) return done();
    // The main run loop keeps running, in short slices, so that answers the
    // platform delivers to the main thread (a script's result) can arrive.
    NSDate* deadline = [NSDate dateWithTimeIntervalSinceNow:timeoutSeconds];
    NSRunLoop* runLoop = [NSRunLoop mainRunLoop];
    bool finished = done();
    while (!finished) {
        const NSTimeInterval left = [deadline timeIntervalSinceNow];
        if (left <= 0) break;
        const NSTimeInterval slice = std::min(left, kRunLoopSlice);
        // A run loop with nothing to wait on returns at once; nothing can
        // arrive then either, so the slice is slept instead of spun.
        if (![runLoop runMode:NSDefaultRunLoopMode beforeDate:[NSDate dateWithTimeIntervalSinceNow:slice]]) {
            [NSThread sleepForTimeInterval:slice];
        }
        finished = done();
    }
    return finished;
}

}  // namespace corvidale::mac
