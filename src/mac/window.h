#pragma once

#import <AppKit/AppKit.h>

#include "activity.h"
#include "core/platform/window.h"

namespace corvidale::mac {

class MacWindow final : public platform::Window {
public:
    explicit MacWindow(const platform::WindowShape& shape);
    MacWindow(const MacWindow&) = delete;
    MacWindow& operator=(const MacWindow&) = delete;

    void setTitle(const std::string& title) override;
    void setMovableByWindowBackground(bool movable) override;
    void setMinSize(platform::Size size) override;
    void setContentView(platform::WebView& view) override;
    void setFrameAutosaveName(const std::string& name) override;
    void center() override;
    void makeKeyAndOrderFront() override;
    void showActivity(const std::vector<platform::ActivityRow>& rows) override;
    void setActivityCancelHandler(std::function<void(std::uint64_t)> cancel) override {
        strip_.setCancelHandler(std::move(cancel));
    }

    NSWindow* window() const { return window_; }

private:
    void layOut(CGFloat stripHeight);

    NSWindow* window_;
    NSView* webView_ = nil;
    ActivityStrip strip_;
};

}  // namespace corvidale::mac
