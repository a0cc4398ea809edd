#pragma once

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/platform/application_delegate.h"

namespace corvidale::gtk {

class GtkDialogs;
class GtkWebView;

// One key of a menu item: a GTK accelerator and the item's action.
struct MenuShortcut {
    std::string accelerator;
    platform::MenuAction action;
};

// What the backend's pieces share. Everything here lives on the main thread.
struct ShellContext {
    GtkApplication* application = nullptr;
    // The one controller; set right after it is made at activation.
    platform::ApplicationDelegate* delegate = nullptr;
    // The window the controller made, while it exists; alerts and panels
    // attach to it and the window commands act on it.
    GtkWindow* mainWindow = nullptr;
    // The web view shown in that window; the editing commands act on it.
    WebKitWebView* mainWebView = nullptr;
    // Every web view the core made, so a download can find its delegate.
    std::unordered_map<WebKitWebView*, GtkWebView*> webViews;
    // The menu's keys, from the moment the menu bar exists.
    std::vector<MenuShortcut> menuShortcuts;
    // The alerts and panels, which own the sheets on the main window.
    GtkDialogs* dialogs = nullptr;
    // The main page's process is gone and nothing has loaded since: it
    // answers no key.
    bool pageProcessGone = false;
    // The Quit, Close or Reload key last given to a page thought responsive,
    // and when: the menu's, if the engine finds the page hung before it
    // hands the key back.
    std::optional<platform::MenuAction> keyAwaitingPage;
    gint64 keyAwaitingPageTime = 0;
};

}  // namespace corvidale::gtk
