#pragma once

#include <gtk/gtk.h>
#include <webkit/webkit.h>

namespace corvidale::gtk {

// With CORVIDALE_TRACE_STARTUP=1 in the environment the shell says on
// standard error when each phase of its startup was reached, one line each:
//
//   startup trace: <ms since exec> ms <phase> (monotonic <s>)
//
// Otherwise every call returns at once: the environment is read once, here.
// The time since exec counts from the kernel's start time of the process,
// which it keeps to 10 ms; the monotonic reading is exact, for lining the
// phases up with a clock outside.
void beginStartupTrace(GApplication* application);

// Notes a phase by name.
void traceStartup(const char* phase);

// Notes that the view was made, then follows its first load: its request,
// its response, `load`, the first frame drawn after it; and, with that frame,
// when the engine's processes were launched.
void traceStartupOf(WebKitWebView* view);

}  // namespace corvidale::gtk
