#include <gtk/gtk.h>
#include <stdio.h>

#include <cstdio>
#include <string>

#include "bundle.h"
#include "command_line.h"
#include "core/app/delegate.h"
#include "platform.h"
#include "rendering.h"
#include "website_data.h"
#include "workspace.h"
#include "x11_guard.h"

namespace {

using corvidale::gtk::GtkPlatform;

void printVersion() {
    const corvidale::gtk::GtkBundle bundle;
    const std::string name = bundle.infoString("CFBundleName").value_or("Corvidale");
    const std::string version = bundle.infoString("CFBundleShortVersionString").value_or("unknown");
    const std::string build = bundle.infoString("CFBundleVersion").value_or("unknown");
    std::printf("%s %s (%s)\n", name.empty() ? "Corvidale" : name.c_str(), version.c_str(), build.c_str());
}

constexpr const char* kDownloadSelfTestKey = "downloadSelfTest";
constexpr const char* kUpdateSelfTestKey = "updateSelfTest";

// A second launch hands over to the running shell, which brings its window
// forward, and exits. That takes the session bus, and GLib would autolaunch
// one if none is there, so without a bus every launch stands alone. The
// self-test modes always do: each must run its own check to its own end,
// also beside a shell that is already open.
bool singleInstance(bool hasApplicationId, bool sessionBus, bool selfTest) {
    return hasApplicationId && sessionBus && !selfTest;
}

void onActivate(GApplication*, gpointer data) {
    auto* platform = static_cast<GtkPlatform*>(data);
    if (platform->delegate() != nullptr) {
        // Activated again (from the desktop): bring the window forward.
        if (GtkWindow* window = platform->mainWindow()) gtk_window_present(window);
        return;
    }
    // The one controller, for the life of the process. It is never destroyed:
    // the web view and window it owns must not be torn down by static
    // destructors after GTK has shut down.
    corvidale::gtk::guardAgainstForeignDestruction(gdk_display_get_default());
    static auto* delegate = new corvidale::Delegate(*platform);
    platform->setDelegate(delegate);
    delegate->applicationDidFinishLaunching();
}

}  // namespace

int main(int argc, char** argv) {
    // --help and --version answer without a display: nothing of GTK or
    // WebKit has started yet.
    const auto commandLine = corvidale::gtk::parseCommandLine(argc, argv);
    if (commandLine.help) {
        std::fputs(corvidale::gtk::usageText().c_str(), stdout);
        return 0;
    }
    if (commandLine.version) {
        printVersion();
        return 0;
    }

    if (!corvidale::gtk::sessionBusAvailable()) g_setenv("DBUS_SESSION_BUS_ADDRESS", corvidale::gtk::kNoSessionBus, TRUE);
    corvidale::gtk::chooseRenderer();

    auto* platform = new GtkPlatform(commandLine.argumentDomain);

    const auto identifier = platform->bundle().bundleIdentifier();
    const char* applicationId =
        identifier && g_application_id_is_valid(identifier->c_str()) ? identifier->c_str() : nullptr;
    // The window's class on X11 comes from the program name; naming the
    // program after the application id lets docks match the window with the
    // desktop entry, whose StartupWMClass is that id. The engine names its
    // data and cache folders after the program too, so cookies and storage
    // sit under the same id as the user defaults.
    g_autofree gchar* programName = g_path_get_basename(argv[0]);
    g_set_prgname(applicationId != nullptr ? applicationId : programName);
    corvidale::gtk::prepareWebsiteFolders(g_get_prgname());
    const bool selfTest = platform->defaults().boolean(kDownloadSelfTestKey) ||
                          platform->defaults().boolean(kUpdateSelfTestKey);
    GtkApplication* application = gtk_application_new(
        applicationId, singleInstance(applicationId != nullptr, corvidale::gtk::sessionBusAvailable(), selfTest)
                           ? G_APPLICATION_DEFAULT_FLAGS
                           : G_APPLICATION_NON_UNIQUE);
    platform->attach(application);
    g_signal_connect(application, "activate", G_CALLBACK(onActivate), platform);

    // GLib sees only the program name: the argument domain is ours, and
    // GApplication's option parser would refuse it.
    char* glibArguments[] = {argv[0], nullptr};
    const int status = g_application_run(G_APPLICATION(application), 1, glibArguments);
    std::fflush(stdout);
    std::fflush(stderr);
    return status;
}
