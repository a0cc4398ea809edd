#pragma once

#import <AppKit/AppKit.h>

#include "core/platform/application.h"

namespace corvidale::mac {

// The shared NSApplication: activation, appearance, the main menu.
class MacApplication final : public platform::Application {
public:
    void activateIgnoringOtherApps() override;
    std::optional<platform::Appearance> appearance() const override;
    void setAppearance(platform::Appearance appearance) override;
    void setMainMenu(const platform::MenuBar& menuBar) override;
    void terminate() override;
};

}  // namespace corvidale::mac
