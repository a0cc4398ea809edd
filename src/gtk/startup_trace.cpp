#include "startup_trace.h"

#include <dirent.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace corvidale::gtk {
namespace {

bool tracing = false;
double startedAt = 0;  // CLOCK_BOOTTIME, seconds

double now(clockid_t clock) {
    timespec t{};
    ::clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The parent and the start (seconds since boot, the clock CLOCK_BOOTTIME
// reads) of a process, from its stat line: the fields after the name are
// state, ppid, ..., starttime 20th.
std::optional<std::pair<long, double>> parentAndStart(const std::string& pid) {
    const std::string stat = readAll("/proc/" + pid + "/stat");
    const auto nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(nameEnd + 1));
    std::string state;
    long parent = 0;
    fields >> state >> parent;
    std::string field;
    for (int skipped = 0; skipped < 17 && fields >> field; ++skipped) {
    }
    unsigned long long ticks = 0;
    if (!(fields >> ticks)) return std::nullopt;
    return std::pair{parent, static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK))};
}

void say(const char* phase, double bootTime) {
    const double monotonic = now(CLOCK_MONOTONIC) - (now(CLOCK_BOOTTIME) - bootTime);
    std::fprintf(stderr, "startup trace: %.1f ms %s (monotonic %.6f)\n", (bootTime - startedAt) * 1000, phase,
                 monotonic);
}

// The engine starts its processes from this one, through the sandbox when
// there is one; each is known by the program its command line names.
void traceEngineProcesses() {
    static constexpr std::pair<const char*, const char*> kNames[] = {
        {"WebKitWebProcess", "web process launched"},
        {"WebKitNetworkProcess", "network process launched"},
        {"xdg-dbus-proxy", "D-Bus proxy launched"}};
    std::vector<std::pair<double, const char*>> launched;
    DIR* proc = ::opendir("/proc");
    while (dirent* entry = proc != nullptr ? ::readdir(proc) : nullptr) {
        if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0]))) continue;
        const auto stat = parentAndStart(entry->d_name);
        if (!stat || stat->first != ::getpid()) continue;
        std::string command = readAll(std::string("/proc/") + entry->d_name + "/cmdline");
        std::replace(command.begin(), command.end(), '\0', ' ');
        for (const auto& [program, phase] : kNames) {
            if (command.find(program) != std::string::npos) launched.emplace_back(stat->second, phase);
        }
    }
    if (proc != nullptr) ::closedir(proc);
    std::sort(launched.begin(), launched.end());
    for (const auto& [when, phase] : launched) say(phase, when);
}

void onStartup(GApplication*, gpointer) { traceStartup("GTK initialised"); }

void onResponse(WebKitWebResource* resource, GParamSpec*, gpointer) {
    traceStartup("response started");
    g_signal_handlers_disconnect_by_func(resource, reinterpret_cast<gpointer>(&onResponse), nullptr);
}

void onSentRequest(WebKitWebResource* resource, WebKitURIRequest*, WebKitURIResponse*, gpointer) {
    traceStartup("request sent");
    g_signal_handlers_disconnect_by_func(resource, reinterpret_cast<gpointer>(&onSentRequest), nullptr);
}

void onResourceLoadStarted(WebKitWebView* view, WebKitWebResource* resource, WebKitURIRequest*, gpointer) {
    // The first resource is the page itself.
    g_signal_handlers_disconnect_by_func(view, reinterpret_cast<gpointer>(&onResourceLoadStarted), nullptr);
    g_signal_connect(resource, "sent-request", G_CALLBACK(&onSentRequest), nullptr);
    g_signal_connect(resource, "notify::response", G_CALLBACK(&onResponse), nullptr);
}

void onAfterPaint(GdkFrameClock* clock, gpointer) {
    traceStartup("first frame drawn");
    g_signal_handlers_disconnect_by_func(clock, reinterpret_cast<gpointer>(&onAfterPaint), nullptr);
}

void onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer) {
    if (event == WEBKIT_LOAD_COMMITTED) {
        traceStartup("load committed");
        // Whatever the window draws from now on shows the page.
        if (GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(view))) {
            g_signal_connect(clock, "after-paint", G_CALLBACK(&onAfterPaint), nullptr);
        }
    } else if (event == WEBKIT_LOAD_FINISHED) {
        traceStartup("load finished");
        traceEngineProcesses();
        g_signal_handlers_disconnect_by_func(view, reinterpret_cast<gpointer>(&onLoadChanged), nullptr);
    }
}

}  // namespace

void beginStartupTrace(GApplication* application) {
    const char* wanted = std::getenv("CORVIDALE_TRACE_STARTUP");
    if (wanted == nullptr || std::strcmp(wanted, "1") != 0) return;
    const auto self = parentAndStart("self");
    if (!self) return;
    tracing = true;
    startedAt = self->second;
    g_signal_connect_after(application, "startup", G_CALLBACK(&onStartup), nullptr);
}

void traceStartup(const char* phase) {
    if (tracing) say(phase, now(CLOCK_BOOTTIME));
}

void traceStartupOf(WebKitWebView* view) {
    if (!tracing) return;
    traceStartup("web view created");
    g_signal_connect(view, "resource-load-started", G_CALLBACK(&onResourceLoadStarted), nullptr);
    g_signal_connect(view, "load-changed", G_CALLBACK(&onLoadChanged), nullptr);
}

}  // namespace corvidale::gtk
