#pragma once

#import <AppKit/AppKit.h>

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

    NSWindow* window() const { return window_; }

private:
    NSWindow* window_;
};

}  // namespace corvidale::mac
