#pragma once

#include <memory>

#include "core/platform/main_queue.h"

namespace corvidale::mac {

// The main dispatch queue and the main run loop.
class MainDispatchQueue final : public platform::MainQueue {
public:
    void post(std::function<void()> job) override;
    void after(double seconds, std::function<void()> job) override;
    std::unique_ptr<platform::Timer> repeating(double intervalSeconds, std::function<void()> job) override;
    bool runUntil(const std::function<bool()>& done, double timeoutSeconds) override;
};

}  // namespace corvidale::mac
