#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "activity.h"
#include "application.h"
#include "bundle.h"
#include "defaults.h"
#include "dialogs.h"
#include "file_manager.h"
#include "main_queue.h"
#include "network.h"
#include "notifications.h"
#include "process.h"
#include "url_session.h"
#include "window.h"
#include "workspace.h"

namespace corvidale::platform {

class WebView;
struct WebViewConfiguration;

// Everything the core needs of the operating system. One instance per
// process, made by the backend's entry point.
class Platform {
public:
    virtual ~Platform() = default;

    virtual Bundle& bundle() = 0;
    virtual Environment& environment() = 0;
    virtual Defaults& defaults() = 0;
    virtual Application& application() = 0;
    virtual Workspace& workspace() = 0;
    virtual Dialogs& dialogs() = 0;
    virtual MainQueue& mainQueue() = 0;
    virtual Process& process() = 0;
    virtual URLSession& urlSession() = 0;
    virtual FileManager& fileManager() = 0;
    virtual NotificationCenter& notificationCenter() = 0;
    virtual LauncherProgress& launcherProgress() = 0;

    // Runs `job` on a worker thread, away from the main thread; the job hands
    // its result back through mainQueue().post. The job must not touch the
    // window, dialogs or any controller.
    virtual void runInBackground(std::function<void()> job) = 0;

    virtual std::unique_ptr<WebView> createWebView(const WebViewConfiguration& configuration) = 0;
    virtual std::unique_ptr<Window> createWindow(const WindowShape& shape) = 0;
    // Calls `changed` on the main thread each time the system reports a change
    // of its network connection, with whether it can reach a network now.
    virtual std::unique_ptr<NetworkWatch> watchNetwork(std::function<void(bool available)> changed) = 0;

    // The default web view's user agent when the engine can tell it without
    // loading anything; nullopt makes the core ask a throw-away web view.
    virtual std::optional<std::string> engineDefaultUserAgent() { return std::nullopt; }
    // What the engine appends to a download's file name while it writes it,
    // before renaming it into place ("" when it writes in place).
    virtual std::string downloadTemporarySuffix() const { return {}; }
    // Whether the web view offers pages the Notification API itself; where it
    // does not, the shell gives the top page one of its own.
    virtual bool webViewHasNotificationAPI() const { return true; }
    // The wall clock, in whole seconds since 1970 (UTC).
    virtual std::int64_t secondsSince1970() const {
        return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
    // The platform word in the shell's user-agent token ("mac", "linux").
    virtual std::string userAgentPlatformWord() const = 0;
};

// Runs `work` on a worker thread and hands what it returns to `done` on the
// main thread. `work` must not touch the window, dialogs or any controller.
template <typename Work, typename Done>
void runInBackgroundThenPost(Platform& platform, Work work, Done done) {
    platform.runInBackground([&queue = platform.mainQueue(), work = std::move(work), done = std::move(done)]() mutable {
        queue.post([done = std::move(done), result = work()]() mutable { done(std::move(result)); });
    });
}

}  // namespace corvidale::platform
