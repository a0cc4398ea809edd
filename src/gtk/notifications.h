#pragma once

#include <gio/gio.h>

#include "core/platform/notifications.h"
#include "shell_context.h"

namespace corvidale::gtk {

// GNotification through the application, so that the desktop files it under
// the application's desktop entry. GLib picks the way there: the desktop
// portal inside a sandbox, GNOME's own service where it runs, and the
// freedesktop.org notification server otherwise. A click runs the action
// kNotificationClickedAction with the notification's identifier.
class GtkNotificationCenter final : public platform::NotificationCenter {
public:
    explicit GtkNotificationCenter(ShellContext& context) : context_(context) {}

    void setDelegate(platform::NotificationCenterDelegate* delegate) override;
    // Nothing to ask: the desktop's own settings decide.
    void requestAuthorization() override {}
    void add(const platform::NotificationRequest& request) override;
    void remove(const std::string& identifier) override;

private:
    static void onClicked(GSimpleAction*, GVariant* parameter, gpointer self);
    GApplication* application();

    ShellContext& context_;
    platform::NotificationCenterDelegate* delegate_ = nullptr;
    bool actionAdded_ = false;
};

inline constexpr const char* kNotificationClickedAction = "notification-clicked";

}  // namespace corvidale::gtk
