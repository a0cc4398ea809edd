#pragma once

#include "core/platform/workspace.h"

namespace corvidale::gtk {

// Whether a session bus can be reached without starting one: GLib would
// otherwise try to autolaunch a bus, and a bus that activates services can
// start components that the shell must not depend on.
bool sessionBusAvailable();

class DesktopWorkspace final : public platform::Workspace {
public:
    bool openURL(const std::string& url) override;
    void revealFiles(const std::vector<std::string>& paths) override;
    std::optional<std::string> downloadsDirectory() override;
};

}  // namespace corvidale::gtk
