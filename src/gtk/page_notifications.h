#pragma once

#include <webkit/webkit.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/platform/ui_delegate.h"

namespace corvidale::gtk {

// The Notification API of one WebKitWebView: permission requests and shown
// notifications go to the UI delegate, clicks come back from the core, and
// the web context learns which origins may notify without asking.
class PageNotifications {
public:
    // `delegate` is read at each request: the view gets its UI delegate after
    // it is made.
    PageNotifications(WebKitWebView* view, platform::UIDelegate* const& delegate, std::vector<std::string> origins);
    ~PageNotifications();
    PageNotifications(const PageNotifications&) = delete;
    PageNotifications& operator=(const PageNotifications&) = delete;

    void clicked(std::uint64_t id);
    void setOrigins(const std::vector<std::string>& origins) { origins_ = origins; }

private:
    static void onInitializePermissions(WebKitWebContext* context, gpointer self);
    static gboolean onPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request, gpointer self);
    static gboolean onShow(WebKitWebView*, WebKitNotification* notification, gpointer self);
    static void onClosed(WebKitNotification* notification, gpointer self);
    void askDelegate(WebKitPermissionRequest* request, bool fromMainFrame);

    WebKitWebView* view_;
    platform::UIDelegate* const& delegate_;
    std::vector<std::string> origins_;
    gulong contextSignal_ = 0;
    // Shown and not yet closed, by the engine's id.
    std::map<std::uint64_t, WebKitNotification*> shown_;
};

}  // namespace corvidale::gtk
