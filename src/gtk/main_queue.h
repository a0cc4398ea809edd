#pragma once

#include <glib.h>

#include <functional>
#include <memory>

#include "core/platform/main_queue.h"

namespace corvidale::gtk {

// Runs `job` once from the default main context, later: never inside this
// call, even on the main thread. Safe from any thread.
void postToMainLoop(std::function<void()> job, int priority = G_PRIORITY_DEFAULT);

// The default GLib main context, which GtkApplication runs on the main thread.
class GLibMainQueue final : public platform::MainQueue {
public:
    void post(std::function<void()> job) override { postToMainLoop(std::move(job)); }
    void after(double seconds, std::function<void()> job) override;
    std::unique_ptr<platform::Timer> repeating(double intervalSeconds, std::function<void()> job) override;
    bool runUntil(const std::function<bool()>& done, double timeoutSeconds) override;
};

}  // namespace corvidale::gtk
