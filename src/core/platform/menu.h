#pragma once

#include <string>
#include <vector>

namespace corvidale::platform {

// A menu item as the shell describes it. The action is the selector name the
// desktop platform uses ("shellReload", "checkForUpdates:", "copy:"); a backend
// maps each to its native equivalent. An upper-case key equivalent implies
// Shift; the platform's command modifier is always implied.
struct MenuItem {
    std::string title;
    std::string action;
    std::string keyEquivalent;
    bool separator = false;

    static MenuItem makeSeparator() { return MenuItem{"", "", "", true}; }
};

struct Menu {
    std::string title;  // empty for the application menu
    std::vector<MenuItem> items;
};

struct MenuBar {
    std::vector<Menu> menus;
    int windowsMenuIndex = -1;  // which menu the platform lists windows in
};

}  // namespace corvidale::platform
