#pragma once

#include <gio/gio.h>

#include <optional>

#include "core/platform/activity.h"
#include "core/platform/bundle.h"
#include "glib_ptr.h"

namespace corvidale::gtk {

// The launcher's progress through the desktop's LauncherEntry signal on the
// session bus, which docks and task managers draw on the icon of the
// application's desktop entry ("<bundle identifier>.desktop"). Without a bus
// nothing is drawn and nothing fails.
class LauncherEntry final : public platform::LauncherProgress {
public:
    explicit LauncherEntry(platform::Bundle& bundle) : bundle_(bundle) {}
    void setProgress(std::optional<double> fraction) override;

private:
    GDBusConnection* bus();

    platform::Bundle& bundle_;
    GLibPtr<GDBusConnection> bus_;
    bool busLookedFor_ = false;
    bool visible_ = false;
};

}  // namespace corvidale::gtk
