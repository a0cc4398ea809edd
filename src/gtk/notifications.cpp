#include "notifications.h"

#include <string>

namespace corvidale::gtk {
namespace {

// Notification servers read a body as markup (bold, links, images); the
// page's text is shown as written. Only what starts markup is escaped, so
// that a server that reads no markup shows the least of the escapes.
std::string plainTextBody(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

}  // namespace

void GtkNotificationCenter::setDelegate(platform::NotificationCenterDelegate* delegate) {
    delegate_ = delegate;
    // From the start, so that a click on one shown before the first of this run still arrives.
    if (actionAdded_ || context_.application == nullptr) return;
    actionAdded_ = true;
    GSimpleAction* action = g_simple_action_new(kNotificationClickedAction, G_VARIANT_TYPE_STRING);
    g_signal_connect(action, "activate", G_CALLBACK(&GtkNotificationCenter::onClicked), this);
    g_action_map_add_action(G_ACTION_MAP(context_.application), G_ACTION(action));
    g_object_unref(action);
}

GApplication* GtkNotificationCenter::application() {
    GApplication* application = G_APPLICATION(context_.application);
    // Without a session bus there is no one to show a notification to, and
    // GLib would only complain about the missing connection.
    if (application == nullptr || g_application_get_dbus_connection(application) == nullptr) return nullptr;
    return application;
}

void GtkNotificationCenter::add(const platform::NotificationRequest& request) {
    GApplication* app = application();
    if (app == nullptr) return;
    GNotification* notification = g_notification_new(request.title.c_str());
    if (!request.body.empty()) g_notification_set_body(notification, plainTextBody(request.body).c_str());
    // The icon the desktop entry names: the application id's, in the icon theme.
    if (const char* id = g_application_get_application_id(app)) {
        GIcon* icon = g_themed_icon_new(id);
        g_notification_set_icon(notification, icon);
        g_object_unref(icon);
    }
    const std::string detailed = std::string("app.") + kNotificationClickedAction;
    g_notification_set_default_action_and_target_value(notification, detailed.c_str(),
                                                       g_variant_new_string(request.identifier.c_str()));
    g_application_send_notification(app, request.identifier.c_str(), notification);
    g_object_unref(notification);
}

void GtkNotificationCenter::remove(const std::string& identifier) {
    if (GApplication* app = application()) g_application_withdraw_notification(app, identifier.c_str());
}

void GtkNotificationCenter::onClicked(GSimpleAction*, GVariant* parameter, gpointer self) {
    auto* center = static_cast<GtkNotificationCenter*>(self);
    if (parameter == nullptr || !g_variant_is_of_type(parameter, G_VARIANT_TYPE_STRING)) return;
    if (center->delegate_ == nullptr) return;
    center->delegate_->didReceiveNotificationResponse(g_variant_get_string(parameter, nullptr));
}

}  // namespace corvidale::gtk
