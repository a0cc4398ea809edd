#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvidale::platform {

// Everything a menu item can do.
enum class MenuAction {
    About,
    CheckForUpdates,
    Hide,
    Quit,
    Undo,
    Redo,
    Cut,
    Copy,
    Paste,
    SelectAll,
    Reload,
    ZoomReset,
    ZoomIn,
    ZoomOut,
    ToggleFullScreen,
    Minimize,
    Close,
};

// The one table of menu actions: the selector the desktop platform sends
// for each, and whether the application's delegate (the core) answers it or
// the platform does. The shell's own selectors bear names no class of the
// platform answers: a web view with the focus takes a plain "reload" for
// its own, and then the shell never hears of it.
struct MenuActionEntry {
    MenuAction action;
    std::string_view selector;
    bool applications;
};
inline constexpr std::array<MenuActionEntry, 17> kMenuActions = {{
    {MenuAction::About, "orderFrontStandardAboutPanel:", false},
    {MenuAction::CheckForUpdates, "checkForUpdates:", true},
    {MenuAction::Hide, "hide:", false},
    {MenuAction::Quit, "terminate:", false},
    {MenuAction::Undo, "undo:", false},
    {MenuAction::Redo, "redo:", false},
    {MenuAction::Cut, "cut:", false},
    {MenuAction::Copy, "copy:", false},
    {MenuAction::Paste, "paste:", false},
    {MenuAction::SelectAll, "selectAll:", false},
    {MenuAction::Reload, "shellReload", true},
    {MenuAction::ZoomReset, "shellZoomReset", true},
    {MenuAction::ZoomIn, "shellZoomIn", true},
    {MenuAction::ZoomOut, "shellZoomOut", true},
    {MenuAction::ToggleFullScreen, "toggleFullScreen:", false},
    {MenuAction::Minimize, "performMiniaturize:", false},
    {MenuAction::Close, "performClose:", false},
}};

inline std::string_view selectorOf(MenuAction action) {
    for (const auto& entry : kMenuActions) {
        if (entry.action == action) return entry.selector;
    }
    return {};
}

inline std::optional<MenuAction> menuActionNamed(std::string_view selector) {
    for (const auto& entry : kMenuActions) {
        if (entry.selector == selector) return entry.action;
    }
    return std::nullopt;
}

// Whether the application's delegate answers `action`, not the platform.
inline bool isApplicationAction(MenuAction action) {
    for (const auto& entry : kMenuActions) {
        if (entry.action == action) return entry.applications;
    }
    return false;
}

// A menu item as the shell describes it; a backend maps its action to the
// native equivalent. An upper-case key equivalent implies Shift; the
// platform's command modifier is always implied.
struct MenuItem {
    std::string title;
    std::optional<MenuAction> action;
    std::string keyEquivalent;
    bool separator = false;

    static MenuItem makeSeparator() { return MenuItem{"", std::nullopt, "", true}; }
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
