#include "system_services.h"

#include <fcntl.h>
#include <glib.h>
#include <spawn.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/util/line_output.h"
#include "core/util/spawn.h"
#include "rendering.h"

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

void StandardProcess::writeStdout(std::string_view line) { writeLine(stdout, STDOUT_FILENO, line); }

void StandardProcess::writeStderr(std::string_view line) { writeLine(stderr, STDERR_FILENO, line); }

void StandardProcess::systemLog(std::string_view line) {
    static const bool opened = [] {
        ::openlog("corvidale", LOG_PID, LOG_USER);
        return true;
    }();
    (void)opened;
    const std::string text(line);
    ::syslog(LOG_NOTICE, "%s", text.c_str());
}

bool StandardProcess::startDetached(const std::string& executable, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(executable.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    // A session of its own, so it is not ended with this process's group;
    // no terminal, no inherited descriptors, default signal handling.
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        posix_spawn_file_actions_addopen(&files, fd, "/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
    }
    posix_spawn_file_actions_addclosefrom_np(&files, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_setflags(&attributes, corvidale::initSpawnAttributes(attributes) | POSIX_SPAWN_SETSID);

    // The child chooses its own rendering, as this process did.
    std::vector<char*> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const auto name = text.substr(0, text.find('='));
        const auto& set = variablesSetForRendering();
        if (std::none_of(set.begin(), set.end(), [&](const auto& variable) { return variable.first == name; })) {
            environment.push_back(*entry);
        }
    }
    environment.push_back(nullptr);

    pid_t pid = 0;
    // The child is not waited for: it is started just before this process
    // ends, and then belongs to init.
    const int error = ::posix_spawn(&pid, executable.c_str(), &files, &attributes, argv.data(), environment.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    return error == 0;
}

void StandardProcess::endProcess(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(status);
}

void GLibMainQueue::post(std::function<void()> job) {
    // An idle source rather than g_main_context_invoke: invoke runs the job
    // right away when called on the main thread, and a posted job must run
    // later, after the caller has returned. Attaching a source is thread-safe.
    GSource* source = g_idle_source_new();
    g_source_set_priority(source, G_PRIORITY_DEFAULT);
    g_source_set_callback(source, runJobOnce, new Job(std::move(job)), deleteJob);
    g_source_attach(source, g_main_context_default());
    g_source_unref(source);
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
