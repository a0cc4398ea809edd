#include "main_queue.h"

#include <cmath>

namespace corvidale::gtk {
namespace {
guint milliseconds(double seconds) {
    if (!(seconds > 0)) return 0;  // also NaN
    const double ms = std::ceil(seconds * 1000.0);
    return ms >= static_cast<double>(G_MAXUINT) ? G_MAXUINT : static_cast<guint>(ms);
}

using Job = std::function<void()>;

void deleteJob(gpointer data) { delete static_cast<Job*>(data); }

gboolean runJobOnce(gpointer data) {
    (*static_cast<Job*>(data))();
    return G_SOURCE_REMOVE;
}

class SourceTimer final : public platform::Timer {
public:
    SourceTimer(double intervalSeconds, Job job) : job_(std::move(job)) {
        sourceId_ = g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds(intervalSeconds), &SourceTimer::fire, this,
                                       nullptr);
    }
    ~SourceTimer() override { invalidate(); }

    void invalidate() override {
        if (sourceId_ != 0) g_source_remove(sourceId_);
        sourceId_ = 0;
    }

private:
    static gboolean fire(gpointer data) {
        auto* self = static_cast<SourceTimer*>(data);
        // The job may invalidate or even destroy this timer, so it runs from a
        // copy and nothing of the timer is touched afterwards. Invalidating
        // removes the source, and GLib then ignores the answer below.
        Job job = self->job_;
        job();
        return G_SOURCE_CONTINUE;
    }

    Job job_;
    guint sourceId_ = 0;
};

}  // namespace

void postToMainLoop(std::function<void()> job, int priority) {
    // An idle source rather than g_main_context_invoke: invoke runs the job
    // right away when called on the main thread. Attaching a source is
    // thread-safe.
    g_autoptr(GSource) source = g_idle_source_new();
    g_source_set_priority(source, priority);
    g_source_set_callback(source, runJobOnce, new Job(std::move(job)), deleteJob);
    g_source_attach(source, g_main_context_default());
}

void GLibMainQueue::after(double seconds, std::function<void()> job) {
    g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds(seconds), runJobOnce, new Job(std::move(job)), deleteJob);
}

std::unique_ptr<platform::Timer> GLibMainQueue::repeating(double intervalSeconds, std::function<void()> job) {
    return std::make_unique<SourceTimer>(intervalSeconds, std::move(job));
}

bool GLibMainQueue::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
    bool expired = false;
    const guint deadline = g_timeout_add_full(
        G_PRIORITY_DEFAULT, milliseconds(timeoutSeconds),
        [](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &expired, nullptr);
    bool finished = done();
    while (!finished && !expired) {
        g_main_context_iteration(nullptr, TRUE);
        finished = done();
    }
    if (!expired) g_source_remove(deadline);
    return finished;
}

}  // namespace corvidale::gtk
