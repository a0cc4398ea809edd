#pragma once

#include "core/platform/notifications.h"

@class CVDNotificationCenterDelegate;

namespace corvidale::mac {

// UNUserNotificationCenter: the system shows the application's name and icon
// with each notification; a click comes back through its delegate.
class MacNotificationCenter final : public platform::NotificationCenter {
public:
    MacNotificationCenter();
    void setDelegate(platform::NotificationCenterDelegate* delegate) override;
    void requestAuthorization() override;
    void add(const platform::NotificationRequest& request) override;
    void remove(const std::string& identifier) override;

private:
    CVDNotificationCenterDelegate* delegate_;
};

}  // namespace corvidale::mac
