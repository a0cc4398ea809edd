#include "launcher_entry.h"

#include <algorithm>
#include <string>

#include "workspace.h"

namespace corvidale::gtk {
namespace {

constexpr const char* kObjectPath = "/com/corvidale/desktop/LauncherEntry";

}  // namespace

GDBusConnection* LauncherEntry::bus() {
    if (!busLookedFor_) {
        busLookedFor_ = true;
        // The application has connected already where there is a bus; this
        // is the same connection, not a second one.
        if (sessionBusAvailable()) bus_.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    }
    return bus_.get();
}

void LauncherEntry::setProgress(std::optional<double> fraction) {
    if (!fraction && !visible_) return;
    GDBusConnection* connection = bus();
    if (connection == nullptr) return;
    const auto identifier = bundle_.bundleIdentifier();
    if (!identifier) return;
    const std::string app = "application://" + *identifier + ".desktop";
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
    if (fraction) {
        g_variant_builder_add(&properties, "{sv}", "progress", g_variant_new_double(std::clamp(*fraction, 0.0, 1.0)));
    }
    g_variant_builder_add(&properties, "{sv}", "progress-visible", g_variant_new_boolean(fraction.has_value()));
    visible_ = fraction.has_value();
    g_dbus_connection_emit_signal(connection, nullptr, kObjectPath, "com.canonical.Unity.LauncherEntry", "Update",
                                  g_variant_new("(sa{sv})", app.c_str(), &properties), nullptr);
}

}  // namespace corvidale::gtk
