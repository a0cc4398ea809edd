#include "platform.h"

#include <webkit/webkit.h>

#include <system_error>
#include <thread>

#include "frame_reports.h"
#include "heap_trim.h"
#include "network_watch.h"
#include "startup_trace.h"
#include "web_view.h"
#include "window.h"

namespace corvidale::gtk {

GtkPlatform::GtkPlatform(std::map<std::string, std::string> argumentDomain)
    : defaults_(defaultsPathFor(bundle_.bundleIdentifier().value_or("")), std::move(argumentDomain),
                [this](const std::string& line) { process_.writeStderr(line); }),
      application_(context_, bundle_),
      dialogs_(context_),
      downloads_(context_) {
    context_.dialogs = &dialogs_;
}

void GtkPlatform::attach(GtkApplication* application) {
    context_.application = application;
    g_signal_connect(application, "window-removed", G_CALLBACK(&GtkPlatform::onWindowRemoved), this);
}

void GtkPlatform::onWindowRemoved(GtkApplication* application, GtkWindow*, gpointer self) {
    auto* platform = static_cast<GtkPlatform*>(self);
    if (gtk_application_get_windows(application) != nullptr) return;
    // The last window is gone: the shell ends with it when the controller
    // says so, whatever else holds the application.
    auto* delegate = platform->context_.delegate;
    if (delegate == nullptr || delegate->applicationShouldTerminateAfterLastWindowClosed()) {
        g_application_quit(G_APPLICATION(application));
    }
}

void GtkPlatform::runInBackground(std::function<void()> job) {
    try {
        std::thread(job).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the job still runs, and still answers through
        // the main queue, only holding the main thread meanwhile.
        job();
    }
}

std::unique_ptr<platform::WebView> GtkPlatform::createWebView(const platform::WebViewConfiguration& configuration) {
    // Before the first web process starts, which is when the engine reads it.
    static const bool framesReported = loadFrameReports(bundle_.bundlePath());
    (void)framesReported;
    auto view = std::make_unique<GtkWebView>(context_, downloads_, defaults_, configuration);
    traceStartupOf(view->widget());
    trimHeapAfterFirstLoad(view->widget());
    return view;
}

std::unique_ptr<platform::Window> GtkPlatform::createWindow(const platform::WindowShape& shape) {
    auto window = std::make_unique<GtkShellWindow>(context_, defaults_, shape);
    traceStartup("window created");
    return window;
}

std::unique_ptr<platform::NetworkWatch> GtkPlatform::watchNetwork(std::function<void(bool available)> changed) {
    return std::make_unique<GioNetworkWatch>(std::move(changed));
}

std::optional<std::string> GtkPlatform::engineDefaultUserAgent() {
    // The settings' agent is the one the engine sends and shows to scripts
    // as navigator.userAgent; asking fresh settings needs no page load.
    g_autoptr(WebKitSettings) settings = webkit_settings_new();
    const char* agent = webkit_settings_get_user_agent(settings);
    if (agent == nullptr || *agent == '\0') return std::nullopt;
    return agent;
}

}  // namespace corvidale::gtk
