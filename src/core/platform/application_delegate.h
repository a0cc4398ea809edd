#pragma once

#include <string>
#include <vector>

#include "menu.h"

namespace corvidale::platform {

// What the desktop tells the application, and the menu actions the
// application answers itself (isApplicationAction). The backends send these
// here and decide nothing of them. Main thread only.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    virtual void applicationDidFinishLaunching() = 0;
    virtual bool applicationShouldTerminateAfterLastWindowClosed() const = 0;
    // Links of the application's scheme, from the system, also before launch
    // has finished.
    virtual void openURLs(const std::vector<std::string>& urls) = 0;
    // Answers whether it ran `action`; false for actions that belong to the platform.
    virtual bool performMenuAction(MenuAction action) = 0;
};

}  // namespace corvidale::platform
