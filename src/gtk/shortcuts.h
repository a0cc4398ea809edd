#pragma once

#include <gtk/gtk.h>

#include <string_view>

#include "shell_context.h"

namespace corvidale::gtk {

// The application action that every menu item runs, with the selector of
// the item's action as its target.
inline constexpr const char* kMenuActionName = "menu-command";

// Quitting and closing the window: the commands that must work whatever the
// page does, so that no page can keep the user in.
bool isShellCommand(platform::MenuAction action);

// The menu's keys on the main window. The page gets every key first, as the
// web view on the desktop platform offers key equivalents to the page before
// the menu: a key comes to the menu only when the page left it unhandled
// (WebKitGTK hands such a key back to GTK once the web process has answered).
// Quit, Close and Reload also act at once while the page's process is not
// responding or is gone, since such a page never answers.
void installMenuShortcuts(ShellContext& context, GtkWindow* window);

// The main page's process stopped answering: the engine learns it only when
// a reply is missed, and the key that waited for it may be that key.
void pageStoppedAnswering(ShellContext& context);

// Quit and Close on a dialog, ahead of the dialog's own widgets: with a page
// dialog in front of the window they still end the shell or close the window.
// The other keys stay the dialog's, so a text field keeps its own copy, paste
// and undo.
void installShellShortcuts(ShellContext& context, GtkWindow* dialog);
bool hasShellShortcuts(GtkWindow* dialog);

}  // namespace corvidale::gtk
