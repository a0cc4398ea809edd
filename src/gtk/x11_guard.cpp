#include "x11_guard.h"

#include <gtk/gtk.h>

#ifdef GDK_WINDOWING_X11
#include <gdk/x11/gdkx.h>

#include <set>
#endif

#include "main_queue.h"

namespace corvidale::gtk {

#ifdef GDK_WINDOWING_X11
namespace {

struct PendingClose {
    GdkDisplay* display;
    GtkWindow* window;  // weak: cleared when GTK destroys it
    Window xid;
};

// Windows already being closed, so an unmap and a destroy notice for the
// same window close it once.
std::set<Window>& closing() {
    static std::set<Window> windows;
    return windows;
}

GtkWindow* toplevelWithXid(Window xid) {
    GListModel* toplevels = gtk_window_get_toplevels();
    const guint count = g_list_model_get_n_items(toplevels);
    GtkWindow* found = nullptr;
    for (guint i = 0; i < count && found == nullptr; ++i) {
        g_autoptr(GtkWindow) window = GTK_WINDOW(g_list_model_get_item(toplevels, i));
        GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
        if (surface != nullptr && GDK_IS_X11_SURFACE(surface) && gdk_x11_surface_get_xid(surface) == xid) {
            found = window;
        }
    }
    return found;
}

void closeDestroyedWindow(PendingClose* pending) {
    if (pending->window != nullptr) {
        g_object_remove_weak_pointer(G_OBJECT(pending->window), reinterpret_cast<gpointer*>(&pending->window));
        g_autoptr(GtkWindow) window = GTK_WINDOW(g_object_ref(pending->window));
        // Exactly what the close button does: the window's own close handling
        // runs (a dialog answers, the main window ends the shell).
        gtk_window_close(window);
        gtk_window_destroy(window);
    }
    closing().erase(pending->xid);
    // Requests already sent about the vanished window may still fail; GDK
    // ignores the errors of everything issued while the trap was open.
    gdk_x11_display_error_trap_pop_ignored(pending->display);
    delete pending;
}

// Called with an error trap pushed; it stays open until the window is closed.
void closeLater(GdkDisplay* display, GtkWindow* window, Window xid) {
    closing().insert(xid);
    auto* pending = new PendingClose{display, window, xid};
    g_object_add_weak_pointer(G_OBJECT(window), reinterpret_cast<gpointer*>(&pending->window));
    postToMainLoop([pending] { closeDestroyedWindow(pending); }, G_PRIORITY_HIGH);
}

gboolean onXEvent(GdkX11Display* x11Display, gpointer event, gpointer) {
    const auto* xevent = static_cast<const XEvent*>(event);
    GdkDisplay* display = GDK_DISPLAY(x11Display);
    Window xid = 0;
    if (xevent->type == DestroyNotify) {
        xid = xevent->xdestroywindow.window;
    } else if (xevent->type == UnmapNotify) {
        xid = xevent->xunmap.window;
    } else {
        return FALSE;
    }
    // GDK's own handling of a foreign destroy trips over what the renderer
    // still holds on the surface; the window is closed and its surface
    // destroyed the ordinary way instead, so GDK must not see the notice.
    const bool destroyed = xevent->type == DestroyNotify;
    if (closing().count(xid) != 0) return destroyed;
    GtkWindow* window = toplevelWithXid(xid);
    if (window == nullptr) return FALSE;

    gdk_x11_display_error_trap_push(display);
    if (xevent->type == UnmapNotify) {
        // Destroying a mapped window unmaps it first, and GDK's handling of
        // the unmap already asks the server about the window. Find out now
        // whether it still exists; an ordinary unmap (minimizing) is left alone.
        XWindowAttributes attributes;
        if (XGetWindowAttributes(gdk_x11_display_get_xdisplay(display), xid, &attributes) != 0) {
            gdk_x11_display_error_trap_pop_ignored(display);
            return FALSE;
        }
    }
    closeLater(display, window, xid);
    return destroyed;
}

}  // namespace

void guardAgainstForeignDestruction(GdkDisplay* display) {
    if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return;
    g_signal_connect(display, "xevent", G_CALLBACK(onXEvent), nullptr);
}

#else

void guardAgainstForeignDestruction(GdkDisplay*) {}

#endif

}  // namespace corvidale::gtk
