#pragma once

#include <webkit/webkit.h>

namespace corvidale::gtk {

// Hands the free pages of the shell's heap back to the system once the view's
// first load has finished and the window has drawn it.
void trimHeapAfterFirstLoad(WebKitWebView* view);

}  // namespace corvidale::gtk
