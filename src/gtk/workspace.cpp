#include "workspace.h"

#include <gio/gio.h>
#include <glib/gstdio.h>
#include <gtk/gtk.h>

#include <memory>
#include <set>

#include "rendering.h"

namespace corvidale::gtk {
namespace {

// How long the file manager may take to answer before the folder is opened instead.
constexpr int kFileManagerTimeoutMs = 3000;

GAppLaunchContext* launchContext() {
    // The display's context carries DISPLAY and startup notification to the
    // launched application; without a display a plain context does.
    GAppLaunchContext* context = nullptr;
    if (GdkDisplay* display = gdk_display_get_default()) {
        context = G_APP_LAUNCH_CONTEXT(gdk_display_get_app_launch_context(display));
    } else {
        context = g_app_launch_context_new();
    }
    // The browser gets the environment the shell was given, not the shell's
    // own refusal of a session bus.
    if (g_strcmp0(g_getenv("DBUS_SESSION_BUS_ADDRESS"), kNoSessionBus) == 0) {
        g_app_launch_context_unsetenv(context, "DBUS_SESSION_BUS_ADDRESS");
    }
    // Nor the rendering the shell picked for itself.
    for (const auto& variable : variablesSetForRendering()) {
        g_app_launch_context_unsetenv(context, variable.first.c_str());
    }
    return context;
}

bool launchDefault(const std::string& uri) {
    g_autoptr(GAppLaunchContext) context = launchContext();
    return g_app_info_launch_default_for_uri(uri.c_str(), context, nullptr);
}

struct RevealRequest {
    std::vector<std::string> uris;
    std::vector<std::string> folders;
};

// The fallback: the folders that hold the files, in the default file
// handler. Quietly does nothing when there is none.
void openFolders(const RevealRequest& request) {
    for (const auto& folder : request.folders) launchDefault(folder);
}

void onShowItemsAnswered(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<RevealRequest> request(static_cast<RevealRequest*>(data));
    g_autoptr(GVariant) reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    if (reply == nullptr) openFolders(*request);
}

void onSessionBus(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<RevealRequest> request(static_cast<RevealRequest*>(data));
    g_autoptr(GDBusConnection) bus = g_bus_get_finish(result, nullptr);
    if (bus == nullptr) {
        openFolders(*request);
        return;
    }
    GVariantBuilder uris;
    g_variant_builder_init(&uris, G_VARIANT_TYPE("as"));
    for (const auto& uri : request->uris) g_variant_builder_add(&uris, "s", uri.c_str());
    g_dbus_connection_call(bus, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                           "org.freedesktop.FileManager1", "ShowItems", g_variant_new("(ass)", &uris, ""),
                           nullptr, G_DBUS_CALL_FLAGS_NONE, kFileManagerTimeoutMs, nullptr, onShowItemsAnswered,
                           request.release());
}

}  // namespace

bool sessionBusAvailable() {
    const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
    if (g_strcmp0(address, kNoSessionBus) == 0) return false;
    if (address != nullptr && *address != '\0') return true;
    g_autofree gchar* socket = g_build_filename(g_get_user_runtime_dir(), "bus", nullptr);
    return g_file_test(socket, G_FILE_TEST_EXISTS);
}

bool DesktopWorkspace::openURL(const std::string& url) {
    if (url.empty()) return false;
    return launchDefault(url);
}

void DesktopWorkspace::revealFiles(const std::vector<std::string>& paths) {
    auto request = std::make_unique<RevealRequest>();
    std::set<std::string> seenFolders;
    for (const auto& path : paths) {
        g_autofree gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
        if (uri == nullptr) continue;  // not an absolute path
        request->uris.emplace_back(uri);
        g_autofree gchar* folder = g_path_get_dirname(path.c_str());
        g_autofree gchar* folderUri = g_filename_to_uri(folder, nullptr, nullptr);
        if (folderUri != nullptr && seenFolders.insert(folderUri).second) request->folders.emplace_back(folderUri);
    }
    if (request->uris.empty()) return;
    if (!sessionBusAvailable()) {
        openFolders(*request);
        return;
    }
    g_bus_get(G_BUS_TYPE_SESSION, nullptr, onSessionBus, request.release());
}

std::optional<std::string> DesktopWorkspace::downloadsDirectory() {
    const char* home = g_get_home_dir();
    std::string folder;
    if (const char* special = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD)) {
        // The desktop's user-dirs point a disabled folder at the home folder.
        if (home == nullptr || g_strcmp0(special, home) != 0) folder = special;
    }
    if (folder.empty()) {
        if (home == nullptr || *home == '\0') return std::nullopt;
        g_autofree gchar* fallback = g_build_filename(home, "Downloads", nullptr);
        folder = fallback;
    }
    if (g_mkdir_with_parents(folder.c_str(), 0755) != 0 || !g_file_test(folder.c_str(), G_FILE_TEST_IS_DIR)) {
        return std::nullopt;
    }
    return folder;
}

}  // namespace corvidale::gtk
