#include "activity_board.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace corvidale {
namespace {

// A few changes a second are enough to see work move; more would cost the
// work itself.
constexpr double kShowInterval = 0.25;

}  // namespace

std::string byteCount(std::uint64_t bytes) {
    char text[32];
    if (bytes < 1000) {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    } else if (bytes < 1000 * 1000) {
        std::snprintf(text, sizeof text, "%llu KB", static_cast<unsigned long long>(bytes / 1000));
    } else if (bytes < 1000ULL * 1000 * 1000) {
        std::snprintf(text, sizeof text, "%llu MB", static_cast<unsigned long long>(bytes / (1000 * 1000)));
    } else {
        std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes / (100ULL * 1000 * 1000)) / 10);
    }
    return text;
}

void ActivityBoard::setWindow(platform::Window* window) {
    window_ = window;
    if (window_ == nullptr) return;
    window_->setActivityCancelHandler(timers_.guard([this](std::uint64_t id) { cancel(id); }));
}

std::uint64_t ActivityBoard::start(bool inWindow, std::function<void()> cancel) {
    const std::uint64_t id = nextId_++;
    work_[id] = Work{inWindow, std::move(cancel), {}};
    return id;
}

void ActivityBoard::update(std::uint64_t id, Progress progress) {
    const auto found = work_.find(id);
    if (found == work_.end()) return;
    found->second.progress = std::move(progress);
    showSoon();
}

void ActivityBoard::finish(std::uint64_t id) {
    if (work_.erase(id) == 0) return;
    show();
}

void ActivityBoard::cancel(std::uint64_t id) {
    const auto found = work_.find(id);
    if (found == work_.end() || found->second.cancelled || !found->second.progress.cancellable) return;
    found->second.cancelled = true;
    auto cancelWork = found->second.cancel;
    show();
    cancelWork();
}

void ActivityBoard::showSoon() {
    if (showPending_) return;
    showPending_ = true;
    timers_.after(kShowInterval, [this] {
        if (showPending_) show();
    });
}

void ActivityBoard::show() {
    showPending_ = false;
    std::vector<platform::ActivityRow> rows;
    std::uint64_t done = 0;
    std::uint64_t total = 0;
    for (const auto& [id, work] : work_) {
        const Progress& p = work.progress;
        if (p.total && *p.total > 0) {
            done += std::min(p.done, *p.total);
            total += *p.total;
        }
        if (!work.inWindow) continue;
        const bool cancellable = p.cancellable && !work.cancelled && work.cancel;
        platform::ActivityRow row{id, p.text, std::nullopt, cancellable ? p.cancelName : std::string()};
        if (!p.barMoves && p.total && *p.total > 0) {
            row.fraction = static_cast<double>(std::min(p.done, *p.total)) / static_cast<double>(*p.total);
        }
        rows.push_back(std::move(row));
    }
    if (window_ != nullptr) window_->showActivity(rows);
    std::optional<double> launcher;
    if (!work_.empty()) launcher = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0.0;
    if (launcher != lastLauncher_) launcher_.setProgress(launcher);
    lastLauncher_ = launcher;
}

}  // namespace corvidale
