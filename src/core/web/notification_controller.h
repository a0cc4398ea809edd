#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/application.h"
#include "core/platform/defaults.h"
#include "core/platform/notifications.h"
#include "core/platform/timers.h"
#include "core/platform/ui_delegate.h"
#include "core/platform/web_view.h"
#include "app_origin.h"
#include "page_console.h"

namespace corvidale {

inline constexpr unsigned kNotificationsPerMinute = 10;
// The user default that holds the origins allowed to notify, separated by spaces.
inline constexpr std::string_view kNotificationOriginsKey = "notificationOrigins";
// The handler that the shell's own Notification API posts to, where the web
// view has none.
inline constexpr std::string_view kNotificationHandlerName = "corvidaleNotification";

// The stored list of origins: only entries that are origins written as
// AppOrigin::serialized writes them, so that a damaged or planted value
// allows no one.
std::vector<std::string> readNotificationOrigins(std::string_view stored);

// The origins the web view is made with, allowed to notify without asking:
// the application's, when the user's answer for it is remembered.
std::vector<std::string> grantedNotificationOrigins(const platform::Defaults& defaults, const AppOrigin& origin);

// The Notification API of the user-agent script where the web view has none:
// window.Notification in the top frame, posting to kNotificationHandlerName.
platform::UserScript notificationBridgeScript(bool granted);

// The page's notifications on the desktop. Only the web application's own
// top-level page (its scheme, host and port) is allowed them, and that is
// remembered for its origin. A
// page shows at most kNotificationsPerMinute a minute, with its title and body
// cut like dialog text; a notification with the tag of one still shown
// replaces it, and one the page closes leaves the desktop. A click on one
// brings the window forward and tells the page.
class NotificationController final : public platform::ScriptMessageHandler,
                                     public platform::NotificationCenterDelegate {
public:
    // `bridged`: the web view has no Notification API, and the page gets the
    // shell's own.
    NotificationController(platform::NotificationCenter& center, platform::Application& application,
                           platform::Defaults& defaults, platform::MainQueue& queue, const AppOrigin& origin,
                           bool bridged, platform::WebView& web, PageConsole& console);

    void requestPermission(bool fromMainFrame, platform::Completion<bool> decisionHandler);
    // Answers whether it was shown (not dropped by the rate limit).
    bool show(const platform::PageNotification& notification);
    void closed(std::uint64_t id);

    void didReceiveNotificationResponse(const std::string& identifier) override;
    void didReceiveScriptMessage(const platform::ScriptMessage& message) override;

private:
    bool ownPage() const;
    bool decide(bool fromMainFrame);
    void remember();
    void withdraw(std::uint64_t id);
    void answerBridge(bool granted);

    platform::NotificationCenter& center_;
    platform::Application& application_;
    platform::Defaults& defaults_;
    const AppOrigin& origin_;
    const bool bridged_;
    bool granted_ = false;
    bool authorizationAsked_ = false;
    platform::WebView& web_;
    PageConsole& console_;
    // The notifications on the desktop, by the page's id, with their tags.
    std::map<std::uint64_t, std::string> shown_;
    platform::PerMinuteAllowance allowance_;
};

}  // namespace corvidale
