#pragma once

#import <AppKit/AppKit.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/platform/activity.h"

@class CVDActivityStripView;

namespace corvidale::mac {

// The strip of long work under the web view: a label, a bar and a Cancel
// button per row, kept (with the keyboard focus) while the row's id stays.
class ActivityStrip {
public:
    ActivityStrip();
    NSView* view() const;
    // The height the strip needs for its rows; 0 when it shows none.
    CGFloat show(const std::vector<platform::ActivityRow>& rows);
    void setCancelHandler(std::function<void(std::uint64_t)> cancel);

private:
    CVDActivityStripView* view_;
};

// The progress on the application's Dock tile.
class DockProgress final : public platform::LauncherProgress {
public:
    void setProgress(std::optional<double> fraction) override;

private:
    NSProgressIndicator* bar_ = nil;
};

}  // namespace corvidale::mac
