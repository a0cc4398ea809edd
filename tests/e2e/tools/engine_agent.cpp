// Prints the user agent that an untouched WebKitGTK web view reports as
// navigator.userAgent: the engine's own agent, which the shell's agent must
// begin with. Needs a display; exits 1 when no answer comes within 20 s.
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <cstdio>
#include <string>

namespace {

struct Probe {
    GMainLoop* loop = nullptr;
    std::string agent;
    bool answered = false;
};

void evaluated(GObject* source, GAsyncResult* result, gpointer data) {
    auto* probe = static_cast<Probe*>(data);
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
    if (value) {
        if (jsc_value_is_string(value)) {
            char* text = jsc_value_to_string(value);
            probe->agent = text;
            probe->answered = true;
            g_free(text);
        }
        g_object_unref(value);
    }
    if (error) {
        std::fprintf(stderr, "evaluation failed: %s\n", error->message);
        g_error_free(error);
    }
    g_main_loop_quit(probe->loop);
}

}  // namespace

int main() {
    gtk_init();
    Probe probe;
    probe.loop = g_main_loop_new(nullptr, FALSE);
    GtkWidget* view = webkit_web_view_new();
    g_object_ref_sink(view);
    webkit_web_view_evaluate_javascript(WEBKIT_WEB_VIEW(view), "navigator.userAgent", -1, nullptr, nullptr, nullptr,
                                        evaluated, &probe);
    g_timeout_add_seconds(
        20, [](gpointer loop) { g_main_loop_quit(static_cast<GMainLoop*>(loop)); return G_SOURCE_REMOVE; },
        probe.loop);
    g_main_loop_run(probe.loop);
    g_object_unref(view);
    if (!probe.answered) return 1;
    std::printf("%s\n", probe.agent.c_str());
    return 0;
}
