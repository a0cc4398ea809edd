#include "page_notifications.h"

#include <memory>
#include <utility>

#include "web_view.h"

namespace corvidale::gtk {
namespace {

// The engine does not tell which frame asked. The request needs a click or
// key press in the frame that makes it, and the top document's focused
// element is the frame the user last acted in. Read from the shell's own
// script world, which no page script can change.
constexpr const char* kFocusedFrameScript =
    "(function () { var e = document.activeElement;"
    " return e && /^(IFRAME|FRAME|OBJECT|EMBED)$/.test(e.tagName) ? 'frame' : 'top'; })()";

struct PendingRequest {
    PageNotifications* owner;
    WebKitPermissionRequest* request;
};

}  // namespace

PageNotifications::PageNotifications(WebKitWebView* view, platform::UIDelegate* const& delegate,
                                     std::vector<std::string> origins)
    : view_(view), delegate_(delegate), origins_(std::move(origins)) {
    // Connected before the view's content process starts, which is when the
    // context asks.
    contextSignal_ = g_signal_connect(webkit_web_view_get_context(view_), "initialize-notification-permissions",
                                      G_CALLBACK(&PageNotifications::onInitializePermissions), this);
    g_signal_connect(view_, "permission-request", G_CALLBACK(&PageNotifications::onPermissionRequest), this);
    g_signal_connect(view_, "show-notification", G_CALLBACK(&PageNotifications::onShow), this);
}

PageNotifications::~PageNotifications() {
    g_signal_handler_disconnect(webkit_web_view_get_context(view_), contextSignal_);
    g_signal_handlers_disconnect_by_data(view_, this);
    for (auto& [id, notification] : shown_) {
        g_signal_handlers_disconnect_by_data(notification, this);
        g_object_unref(notification);
    }
}

void PageNotifications::onInitializePermissions(WebKitWebContext* context, gpointer self) {
    GList* allowed = nullptr;
    for (const auto& origin : static_cast<PageNotifications*>(self)->origins_) {
        allowed = g_list_prepend(allowed, webkit_security_origin_new_for_uri(origin.c_str()));
    }
    webkit_web_context_initialize_notification_permissions(context, allowed, nullptr);
    g_list_free_full(allowed, reinterpret_cast<GDestroyNotify>(webkit_security_origin_unref));
}

gboolean PageNotifications::onPermissionRequest(WebKitWebView* view, WebKitPermissionRequest* request, gpointer self) {
    if (!WEBKIT_IS_NOTIFICATION_PERMISSION_REQUEST(request)) return FALSE;
    g_object_ref(request);
    auto* pending = new PendingRequest{static_cast<PageNotifications*>(self), request};
    webkit_web_view_evaluate_javascript(
        view, kFocusedFrameScript, -1, kShellScriptWorld, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<PendingRequest> pending(static_cast<PendingRequest*>(data));
            JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, nullptr);
            gchar* answer = value != nullptr && jsc_value_is_string(value) ? jsc_value_to_string(value) : nullptr;
            // Unknown counts as a frame: the safe answer.
            pending->owner->askDelegate(pending->request, g_strcmp0(answer, "top") == 0);
            g_free(answer);
            if (value != nullptr) g_object_unref(value);
        },
        pending);
    return TRUE;
}

void PageNotifications::askDelegate(WebKitPermissionRequest* request, bool fromMainFrame) {
    platform::Completion<bool> answer(
        [request](bool allowed) {
            if (allowed) {
                webkit_permission_request_allow(request);
            } else {
                webkit_permission_request_deny(request);
            }
            g_object_unref(request);
        },
        false);
    if (delegate_ == nullptr) return;  // answered no as the completion goes
    delegate_->requestNotificationPermission(fromMainFrame, std::move(answer));
}

gboolean PageNotifications::onShow(WebKitWebView*, WebKitNotification* notification, gpointer self) {
    auto* owner = static_cast<PageNotifications*>(self);
    if (owner->delegate_ == nullptr) return FALSE;
    const std::uint64_t id = webkit_notification_get_id(notification);
    const char* title = webkit_notification_get_title(notification);
    const char* body = webkit_notification_get_body(notification);
    const char* tag = webkit_notification_get_tag(notification);
    // Only what reached the desktop is kept, for its click and its close: a
    // page that floods keeps nothing of the dropped ones alive.
    if (owner->delegate_->showNotification({id, title ? title : "", body ? body : "", tag ? tag : ""}) &&
        owner->shown_.emplace(id, notification).second) {
        g_object_ref(notification);
        g_signal_connect(notification, "closed", G_CALLBACK(&PageNotifications::onClosed), owner);
    }
    return TRUE;  // handled by the shell, not by the engine's own notifier
}

void PageNotifications::onClosed(WebKitNotification* notification, gpointer self) {
    auto* owner = static_cast<PageNotifications*>(self);
    const std::uint64_t id = webkit_notification_get_id(notification);
    const auto found = owner->shown_.find(id);
    if (found == owner->shown_.end()) return;
    owner->shown_.erase(found);
    g_signal_handlers_disconnect_by_data(notification, owner);
    if (owner->delegate_ != nullptr) owner->delegate_->notificationClosed(id);
    g_object_unref(notification);
}

void PageNotifications::clicked(std::uint64_t id) {
    const auto found = shown_.find(id);
    if (found != shown_.end()) webkit_notification_clicked(found->second);
}

}  // namespace corvidale::gtk
