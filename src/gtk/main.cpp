#include <gtk/gtk.h>
#include <stdio.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bundle.h"
#include "command_line.h"
#include "core/app/delegate.h"
#include "core/app/launch_config.h"
#include "platform.h"
#include "rendering.h"
#include "startup_trace.h"
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

// A second launch hands over to the running shell, which brings its window
// forward, and exits. That takes the session bus, and GLib would autolaunch
// one if none is there, so without a bus every launch stands alone. The
// self-test modes always do: each must run its own check to its own end,
// also beside a shell that is already open.
bool singleInstance(bool hasApplicationId, bool sessionBus, bool selfTest) {
    return hasApplicationId && sessionBus && !selfTest;
}

// Starts the shell, at the page of the last good one of `links` if any.
void launch(GtkPlatform* platform, const std::vector<std::string>& links) {
    // The one controller, for the life of the process. It is never destroyed:
    // the web view and window it owns must not be torn down by static
    // destructors after GTK has shut down.
    corvidale::gtk::guardAgainstForeignDestruction(gdk_display_get_default());
    static auto* delegate = new corvidale::Delegate(*platform);
    platform->setDelegate(delegate);
    if (!links.empty()) delegate->openURLs(links);
    delegate->applicationDidFinishLaunching();
}

void onActivate(GApplication*, gpointer data) {
    auto* platform = static_cast<GtkPlatform*>(data);
    if (platform->delegate() != nullptr) {
        // Activated again (from the desktop): bring the window forward.
        if (GtkWindow* window = platform->mainWindow()) gtk_window_present(window);
        return;
    }
    launch(platform, {});
}

// Links from this launch's command line, or forwarded by a later launch to
// this, the running shell. GLib hands them over as files; a URL of a scheme
// it has no file system for keeps its text exactly.
void onOpen(GApplication*, GFile** files, gint count, const gchar*, gpointer data) {
    auto* platform = static_cast<GtkPlatform*>(data);
    std::vector<std::string> links;
    for (gint i = 0; i < count; ++i) {
        g_autofree gchar* uri = g_file_get_uri(files[i]);
        if (uri != nullptr) links.emplace_back(uri);
    }
    if (platform->delegate() == nullptr) {
        launch(platform, links);
    } else {
        platform->delegate()->openURLs(links);
    }
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
    const bool selfTest = platform->defaults().boolean(corvidale::kDownloadSelfTestKey) ||
                          platform->defaults().boolean(corvidale::kUpdateSelfTestKey);
    const auto unique = singleInstance(applicationId != nullptr, corvidale::gtk::sessionBusAvailable(), selfTest);
    const auto flags = (unique ? G_APPLICATION_DEFAULT_FLAGS : G_APPLICATION_NON_UNIQUE) | G_APPLICATION_HANDLES_OPEN;
    GtkApplication* application = gtk_application_new(applicationId, static_cast<GApplicationFlags>(flags));
    platform->attach(application);
    corvidale::gtk::beginStartupTrace(G_APPLICATION(application));
    g_signal_connect(application, "activate", G_CALLBACK(onActivate), platform);
    g_signal_connect(application, "open", G_CALLBACK(onOpen), platform);

    // GLib sees only the program name and the links: the argument domain is
    // ours, and GApplication's option parser would refuse it. GLib opens the
    // links here, or hands them to the running shell and ends this launch.
    std::vector<char*> glibArguments = {argv[0]};
    for (const auto& link : commandLine.links) glibArguments.push_back(const_cast<char*>(link.c_str()));
    glibArguments.push_back(nullptr);
    const int status =
        g_application_run(G_APPLICATION(application), static_cast<int>(glibArguments.size() - 1), glibArguments.data());
    std::fflush(stdout);
    std::fflush(stderr);
    return status;
}
