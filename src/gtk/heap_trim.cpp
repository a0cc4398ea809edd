#include "heap_trim.h"

#include <malloc.h>

namespace corvidale::gtk {
namespace {

// Starting GTK and the engine and making the first load leaves about 3 MiB of
// the heap free but still resident when the page shows: glibc gives back by
// itself only what is free at the top of the heap, and the rest lies between
// blocks still in use.
gboolean trim(gpointer) {
    malloc_trim(0);
    return G_SOURCE_REMOVE;
}

void onLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer) {
    if (event != WEBKIT_LOAD_FINISHED) return;
    g_signal_handlers_disconnect_by_func(view, reinterpret_cast<gpointer>(&onLoadChanged), nullptr);
    // After the frames that show the page: trimming is not worth a late frame.
    g_idle_add_full(G_PRIORITY_LOW, trim, nullptr, nullptr);
}

}  // namespace

void trimHeapAfterFirstLoad(WebKitWebView* view) {
    g_signal_connect(view, "load-changed", G_CALLBACK(&onLoadChanged), nullptr);
}

}  // namespace corvidale::gtk
