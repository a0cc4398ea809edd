#pragma once

#include <functional>
#include <memory>

namespace corvidale::platform {

class Timer {
public:
    virtual ~Timer() = default;
    virtual void invalidate() = 0;
};

// The main thread's run loop. Everything that touches the window, a dialog or
// a controller runs on it; workers hand their results back through post().
class MainQueue {
public:
    virtual ~MainQueue() = default;
    // Safe to call from any thread.
    virtual void post(std::function<void()> job) = 0;
    // One-shot job on the main queue `seconds` from now.
    virtual void after(double seconds, std::function<void()> job) = 0;
    // Repeating timer on the main run loop; first firing one interval from now.
    virtual std::unique_ptr<Timer> repeating(double intervalSeconds, std::function<void()> job) = 0;
    // Runs the main loop until `done` answers true or `timeoutSeconds` have
    // passed; answers whether `done` became true. Main thread only.
    virtual bool runUntil(const std::function<bool()>& done, double timeoutSeconds) = 0;
};

}  // namespace corvidale::platform
