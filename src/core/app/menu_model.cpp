#include "menu_model.h"

namespace corvidale {

platform::MenuBar buildMainMenu() {
    using platform::MenuItem;
    using A = platform::MenuAction;
    platform::MenuBar bar;
    bar.menus = {
        {"",
         {
             {"About Corvidale", A::About, ""},
             {"Check for Updates…", A::CheckForUpdates, ""},
             MenuItem::makeSeparator(),
             {"Hide Corvidale", A::Hide, "h"},
             {"Quit Corvidale", A::Quit, "q"},
         }},
        {"Edit",
         {
             {"Undo", A::Undo, "z"},
             {"Redo", A::Redo, "Z"},
             MenuItem::makeSeparator(),
             {"Cut", A::Cut, "x"},
             {"Copy", A::Copy, "c"},
             {"Paste", A::Paste, "v"},
             {"Select All", A::SelectAll, "a"},
         }},
        {"View",
         {
             {"Reload", A::Reload, "r"},
             {"Actual Size", A::ZoomReset, "0"},
             {"Zoom In", A::ZoomIn, "+"},
             {"Zoom Out", A::ZoomOut, "-"},
             MenuItem::makeSeparator(),
             {"Enter Full Screen", A::ToggleFullScreen, "f"},
         }},
        {"Window",
         {
             {"Minimize", A::Minimize, "m"},
             {"Close", A::Close, "w"},
         }},
    };
    bar.windowsMenuIndex = 3;
    return bar;
}

}  // namespace corvidale
