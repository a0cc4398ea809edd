/* The floor: the least a GTK 4 + WebKitGTK 6.0 program needs to show one page
 * in one window. The benchmark compares the shell with it; nothing here is
 * tuned, so that it stays what any such program starts from. */
#include <gtk/gtk.h>
#include <webkit/webkit.h>

static const char *url;

/* CORVIDALE_TRACE_STARTUP=1: the phases the shell's startup trace names, on
 * standard error in the same form, so that the benchmark can set them side by
 * side. Off, it costs one getenv. */
static gboolean tracing;

static void trace(const char *phase) {
    if (tracing) g_printerr("startup trace: %s (monotonic %.6f)\n", phase, g_get_monotonic_time() / 1e6);
}

static void on_startup(void) { trace("GTK initialised"); }

static void on_response(WebKitWebResource *resource) {
    trace("response started");
    g_signal_handlers_disconnect_by_func(resource, on_response, NULL);
}

static void on_sent_request(WebKitWebResource *resource) {
    trace("request sent");
    g_signal_handlers_disconnect_by_func(resource, on_sent_request, NULL);
}

static void on_resource(WebKitWebView *view, WebKitWebResource *resource) {
    g_signal_handlers_disconnect_by_func(view, on_resource, NULL);
    g_signal_connect(resource, "sent-request", G_CALLBACK(on_sent_request), NULL);
    g_signal_connect(resource, "notify::response", G_CALLBACK(on_response), NULL);
}

static void on_paint(GdkFrameClock *clock) {
    trace("first frame drawn");
    g_signal_handlers_disconnect_by_func(clock, on_paint, NULL);
}

static void on_load(WebKitWebView *view, WebKitLoadEvent event) {
    if (event == WEBKIT_LOAD_COMMITTED) {
        trace("load committed");
        GdkFrameClock *clock = gtk_widget_get_frame_clock(GTK_WIDGET(view));
        if (clock) g_signal_connect(clock, "after-paint", G_CALLBACK(on_paint), NULL);
    } else if (event == WEBKIT_LOAD_FINISHED) {
        trace("load finished");
        g_signal_handlers_disconnect_by_func(view, on_load, NULL);
    }
}

static void activate(GtkApplication *application, gpointer data) {
    (void)data;
    GtkWidget *window = gtk_application_window_new(application);
    gtk_window_set_default_size(GTK_WINDOW(window), 1100, 760);
    gtk_window_set_title(GTK_WINDOW(window), "minimal");
    trace("window created");
    GtkWidget *view = webkit_web_view_new();
    trace("web view created");
    if (tracing) {
        g_signal_connect(view, "resource-load-started", G_CALLBACK(on_resource), NULL);
        g_signal_connect(view, "load-changed", G_CALLBACK(on_load), NULL);
    }
    gtk_window_set_child(GTK_WINDOW(window), view);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), url);
    gtk_window_present(GTK_WINDOW(window));
}

int main(int argc, char **argv) {
    if (argc != 2) {
        g_printerr("usage: %s URL\n", argv[0]);
        return 2;
    }
    url = argv[1];
    GtkApplication *application = gtk_application_new(NULL, G_APPLICATION_NON_UNIQUE);
    g_signal_connect(application, "activate", G_CALLBACK(activate), NULL);
    tracing = g_strcmp0(g_getenv("CORVIDALE_TRACE_STARTUP"), "1") == 0;
    if (tracing) g_signal_connect_after(application, "startup", G_CALLBACK(on_startup), NULL);
    char *arguments[] = {argv[0], NULL};
    const int status = g_application_run(G_APPLICATION(application), 1, arguments);
    g_object_unref(application);
    return status;
}
