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
        {"View",
         {
             {"Reload", "reload", "r"},
             {"Actual Size", "zoomReset", "0"},
             {"Zoom In", "zoomIn", "+"},
             {"Zoom Out", "zoomOut", "-"},
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
