#include "menu_model.h"

namespace corvidale {

platform::MenuBar buildMainMenu() {
    using platform::MenuItem;
    platform::MenuBar bar;
    bar.menus = {
        {"",
         {
             {"About Corvidale", "orderFrontStandardAboutPanel:", ""},
             {"Check for Updates…", "checkForUpdates:", ""},
             MenuItem::makeSeparator(),
             {"Hide Corvidale", "hide:", "h"},
             {"Quit Corvidale", "terminate:", "q"},
         }},
        {"Edit",
         {
             {"Undo", "undo:", "z"},
             {"Redo", "redo:", "Z"},
             MenuItem::makeSeparator(),
             {"Cut", "cut:", "x"},
             {"Copy", "copy:", "c"},
             {"Paste", "paste:", "v"},
             {"Select All", "selectAll:", "a"},
         }},
        // The shell's own actions bear names no class of the platform
        // answers: a web view with the focus takes a plain "reload" for its
        // own, and then the shell never hears of it.
        {"View",
         {
             {"Reload", "shellReload", "r"},
             {"Actual Size", "shellZoomReset", "0"},
             {"Zoom In", "shellZoomIn", "+"},
             {"Zoom Out", "shellZoomOut", "-"},
             MenuItem::makeSeparator(),
             {"Enter Full Screen", "toggleFullScreen:", "f"},
         }},
        {"Window",
         {
             {"Minimize", "performMiniaturize:", "m"},
             {"Close", "performClose:", "w"},
         }},
    };
    bar.windowsMenuIndex = 3;
    return bar;
}

}  // namespace corvidale
