#pragma once

#import <AppKit/AppKit.h>

#include "core/platform/application.h"
#include "core/platform/workspace.h"

namespace corvidale::mac {

// The shared NSApplication: activation, appearance, the main menu.
class MacApplication final : public platform::Application {
public:
    void setActivationPolicyRegular() override;
    void activateIgnoringOtherApps() override;
    std::optional<platform::Appearance> appearance() const override;
    void setAppearance(platform::Appearance appearance) override;
    void setMainMenu(const platform::MenuBar& menuBar) override;
    void terminate() override;
};

// The shared NSWorkspace and the default NSFileManager.
class MacWorkspace final : public platform::Workspace {
public:
    bool openURL(const std::string& url) override;
    void revealFiles(const std::vector<std::string>& paths) override;
    std::optional<std::string> downloadsDirectory() override;
};

}  // namespace corvidale::mac
