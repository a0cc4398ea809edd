#pragma once

#include "core/platform/workspace.h"

namespace corvidale::gtk {

// Whether a session bus can be reached without starting one: GLib would
// otherwise try to autolaunch a bus, and a bus that activates services can
// start components that the shell must not depend on.
bool sessionBusAvailable();

// The bus address the shell sets for itself, and so for the web engine's
// processes, when there is no session bus: GLib then fails at once instead of
// starting a bus, and a started bus can activate the desktop portal, whose
// absence of a real-time kit gets the engine's processes killed.
inline constexpr const char* kNoSessionBus = "disabled:";

class DesktopWorkspace final : public platform::Workspace {
public:
    bool openURL(const std::string& url) override;
    void revealFiles(const std::vector<std::string>& paths) override;
    std::optional<std::string> downloadsDirectory() override;
};

}  // namespace corvidale::gtk
