#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/platform/activity.h"
#include "core/platform/timers.h"
#include "core/platform/window.h"

namespace corvidale {

// How far one piece of long work is.
struct Progress {
    std::string text;  // what the row says
    std::uint64_t done = 0;
    std::optional<std::uint64_t> total;  // nullopt: nobody can tell
    // The row's bar only moves (the stage after a download, which has no
    // measure); the launcher keeps counting the bytes.
    bool barMoves = false;
    bool cancellable = true;
    std::string cancelName;  // the accessible name of its Cancel button
};

// "412 MB", "1.0 GB": bytes as a person reads them, in the units of the
// disk's label (1 MB is a million bytes).
std::string byteCount(std::uint64_t bytes);

// The long work the shell runs and how the user sees it: a row each in the
// window's strip, and all of it together as the launcher's progress. Changes
// reach the screen a few times a second at most; an ending at once, so that
// the strip is gone before what follows it. Main thread only.
class ActivityBoard {
public:
    ActivityBoard(platform::MainQueue& queue, platform::LauncherProgress& launcher)
        : launcher_(launcher), timers_(queue) {}
    ActivityBoard(const ActivityBoard&) = delete;
    ActivityBoard& operator=(const ActivityBoard&) = delete;

    // The window whose strip shows the rows; nullptr: the launcher alone.
    void setWindow(platform::Window* window);
    // New work, shown in the window's strip when `inWindow`, always on the
    // launcher; `cancel` runs when the user presses its Cancel.
    std::uint64_t start(bool inWindow, std::function<void()> cancel);
    void update(std::uint64_t id, Progress progress);
    void finish(std::uint64_t id);

private:
    struct Work {
        bool inWindow = false;
        std::function<void()> cancel;
        Progress progress;
        bool cancelled = false;  // pressed once is enough; the work ends in its own time
    };
    void showSoon();
    void show();
    void cancel(std::uint64_t id);

    platform::LauncherProgress& launcher_;
    platform::Window* window_ = nullptr;
    std::map<std::uint64_t, Work> work_;
    std::uint64_t nextId_ = 1;
    bool showPending_ = false;
    std::optional<double> lastLauncher_;
    // Last, so that its jobs die first.
    platform::TimerOwner timers_;
};

}  // namespace corvidale
