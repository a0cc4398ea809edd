#pragma once

#include <string>

namespace corvidale::platform {

// One notification for the desktop: its identifier (what a later removal and
// the user's click name it by), title and body. The application's own icon
// goes with it.
struct NotificationRequest {
    std::string identifier;
    std::string title;
    std::string body;
};

class NotificationCenterDelegate {
public:
    virtual ~NotificationCenterDelegate() = default;
    // The user clicked the notification with `identifier`.
    virtual void didReceiveNotificationResponse(const std::string& identifier) = 0;
};

// The desktop's notification center, as the application posts to it.
class NotificationCenter {
public:
    virtual ~NotificationCenter() = default;
    virtual void setDelegate(NotificationCenterDelegate* delegate) = 0;
    // Asks the system, once, whether the application may show notifications
    // at all; where nothing is to ask, does nothing.
    virtual void requestAuthorization() = 0;
    // Shows `request`, in place of one already shown with its identifier.
    virtual void add(const NotificationRequest& request) = 0;
    // Takes the notification with `identifier` off the desktop, shown or not.
    virtual void remove(const std::string& identifier) = 0;
};

}  // namespace corvidale::platform
