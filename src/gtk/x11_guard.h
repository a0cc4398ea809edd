#pragma once

#include <gdk/gdk.h>

namespace corvidale::gtk {

// On X11 anything can destroy a client's window (xdotool windowclose, xkill
// without killing, a crashed window manager's clean-up). GDK treats the X
// errors that follow as fatal and exits with status 1. This watches for our
// own toplevels being destroyed from outside and closes them the ordinary
// way instead, so that losing the main window still ends the shell normally.
// Does nothing on other displays.
void guardAgainstForeignDestruction(GdkDisplay* display);

}  // namespace corvidale::gtk
