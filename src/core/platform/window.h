#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "activity.h"

namespace corvidale::platform {

class WebView;

struct Size {
    double width = 0;
    double height = 0;
};

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// Style mask bits as the desktop platforms number them.
enum WindowStyle : unsigned {
    WindowStyleTitled = 1,
    WindowStyleClosable = 2,
    WindowStyleMiniaturizable = 4,
    WindowStyleResizable = 8,
};

struct WindowShape {
    Rect contentRect;
    unsigned styleMask = 0;
    int backing = 2;  // buffered
    bool defer = false;
};

class Window {
public:
    virtual ~Window() = default;
    virtual void setTitle(const std::string& title) = 0;
    virtual void setMovableByWindowBackground(bool movable) = 0;
    // The frame's minimum, title bar included.
    virtual void setMinSize(Size size) = 0;
    virtual void setContentView(WebView& view) = 0;
    // Restores a frame saved under `name`, and saves later changes under it.
    virtual void setFrameAutosaveName(const std::string& name) = 0;
    virtual void center() = 0;
    virtual void makeKeyAndOrderFront() = 0;
    // Shows `rows` in a strip beside the web view, which it never covers, in
    // place of the rows it showed; no rows hide the strip. A row keeps its
    // controls (and their keyboard focus) while its id stays.
    virtual void showActivity(const std::vector<ActivityRow>& rows) = 0;
    // `cancel` runs on the main thread with the id of the row whose Cancel
    // button the user pressed.
    virtual void setActivityCancelHandler(std::function<void(std::uint64_t id)> cancel) = 0;
};

}  // namespace corvidale::platform
