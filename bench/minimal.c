/* The floor: the least a GTK 4 + WebKitGTK 6.0 program needs to show one page
 * in one window. The benchmark compares the shell with it; nothing here is
 * tuned, so that it stays what any such program starts from. */
#include <gtk/gtk.h>
#include <webkit/webkit.h>

static const char *url;

static void activate(GtkApplication *application, gpointer data) {
    (void)data;
    GtkWidget *window = gtk_application_window_new(application);
    gtk_window_set_default_size(GTK_WINDOW(window), 1100, 760);
    gtk_window_set_title(GTK_WINDOW(window), "minimal");
    GtkWidget *view = webkit_web_view_new();
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
    char *arguments[] = {argv[0], NULL};
    const int status = g_application_run(G_APPLICATION(application), 1, arguments);
    g_object_unref(application);
    return status;
}
