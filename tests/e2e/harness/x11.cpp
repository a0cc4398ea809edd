#include "x11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "process.h"

namespace corvidale::e2e::x11 {
namespace {

CommandResult xtool(const std::string& display, const std::vector<std::string>& argv, Millis timeout = 10s) {
    return runCommand(argv, {{"DISPLAY", display}}, timeout);
}

std::vector<std::string> idsFrom(const std::string& text) {
    std::vector<std::string> ids;
    for (const auto& line : splitLines(text)) {
        if (!line.empty() && std::all_of(line.begin(), line.end(), ::isdigit)) ids.push_back(line);
    }
    return ids;
}

std::optional<int> fieldOf(const std::string& text, const std::string& label) {
    const auto at = text.find(label);
    if (at == std::string::npos) return std::nullopt;
    try {
        return std::stoi(text.substr(at + label.size()));
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace

void initThreads() { XInitThreads(); }

std::optional<std::string> findWindow(const std::string& display, pid_t pid, const std::string& nameRegex,
                                      Millis timeout) {
    // --all: every condition must hold (xdotool's default is any of them).
    // --sync waits inside xdotool; the command timeout bounds that wait.
    const auto result = xtool(display,
                              {"xdotool", "search", "--all", "--sync", "--onlyvisible", "--pid", std::to_string(pid), "--name",
                               nameRegex},
                              timeout);
    const auto ids = idsFrom(result.out);
    if (ids.empty()) return std::nullopt;
    return ids.front();
}

std::vector<std::string> visibleWindows(const std::string& display, pid_t pid, const std::string& nameRegex) {
    const auto result =
        xtool(display, {"xdotool", "search", "--all", "--onlyvisible", "--pid", std::to_string(pid), "--name", nameRegex});
    return idsFrom(result.out);
}

std::optional<Geometry> geometry(const std::string& display, const std::string& window) {
    const auto result = xtool(display, {"xwininfo", "-id", window});
    if (!result.success()) return std::nullopt;
    const auto x = fieldOf(result.out, "Absolute upper-left X:");
    const auto y = fieldOf(result.out, "Absolute upper-left Y:");
    const auto width = fieldOf(result.out, "Width:");
    const auto height = fieldOf(result.out, "Height:");
    if (!x || !y || !width || !height) return std::nullopt;
    return Geometry{*x, *y, *width, *height};
}

std::string windowName(const std::string& display, const std::string& window) {
    auto name = xtool(display, {"xdotool", "getwindowname", window}).out;
    while (!name.empty() && name.back() == '\n') name.pop_back();
    return name;
}

static bool focus(const std::string& display, const std::string& window) {
    // Without a window manager nobody else moves the focus, so setting it
    // directly is what a click on the window would do.
    return xtool(display, {"xdotool", "windowfocus", "--sync", window}, 5s).success();
}

bool key(const std::string& display, const std::string& window, const std::string& keys) {
    focus(display, window);
    return xtool(display, {"xdotool", "key", "--clearmodifiers", "--delay", "40", keys}).success();
}

bool type(const std::string& display, const std::string& window, const std::string& text) {
    focus(display, window);
    return xtool(display, {"xdotool", "type", "--clearmodifiers", "--delay", "30", text}).success();
}

bool click(const std::string& display, const std::string& window, int x, int y) {
    if (!xtool(display, {"xdotool", "mousemove", "--window", window, std::to_string(x), std::to_string(y)})
             .success()) {
        return false;
    }
    return xtool(display, {"xdotool", "click", "1"}).success();
}

bool requestClose(const std::string& display, const std::string& window) {
    Display* connection = XOpenDisplay(display.c_str());
    if (!connection) return false;
    const Window target = std::stoul(window);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = target;
    event.xclient.message_type = XInternAtom(connection, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(connection, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(connection, target, False, NoEventMask, &event);
    XFlush(connection);
    XCloseDisplay(connection);
    return sent != 0;
}

bool screenshot(const std::string& display, const std::string& path, const std::string& window) {
    return xtool(display, {"import", "-window", window, path}, 30s).success();
}

std::optional<Image> capture(const std::string& display, const std::string& window) {
    const auto result = xtool(display, {"import", "-window", window, "-depth", "8", "ppm:-"}, 30s);
    if (!result.success()) return std::nullopt;
    // Binary PPM: "P6" width height maxval, single whitespace, then the pixels.
    std::istringstream in(result.out);
    std::string magic;
    Image image;
    int maxValue = 0;
    in >> magic >> image.width >> image.height >> maxValue;
    if (magic != "P6" || image.width <= 0 || image.height <= 0 || maxValue != 255) return std::nullopt;
    in.get();
    const size_t size = static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 3;
    const auto offset = static_cast<size_t>(in.tellg());
    if (result.out.size() < offset + size) return std::nullopt;
    image.rgb.assign(result.out.begin() + static_cast<long>(offset),
                     result.out.begin() + static_cast<long>(offset + size));
    return image;
}

double Image::meanBrightness(int x, int y, int w, int h) const {
    const int left = std::clamp(x, 0, width), top = std::clamp(y, 0, height);
    const int right = std::clamp(x + w, 0, width), bottom = std::clamp(y + h, 0, height);
    double sum = 0;
    long count = 0;
    for (int row = top; row < bottom; ++row) {
        for (int column = left; column < right; ++column) {
            const size_t at = (static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(column)) * 3;
            sum += (rgb[at] + rgb[at + 1] + rgb[at + 2]) / 3.0;
            ++count;
        }
    }
    return count ? sum / static_cast<double>(count) : 0.0;
}

}  // namespace corvidale::e2e::x11

namespace corvidale::e2e::x11 {
namespace {

// Windows the watcher asks about may be gone by then; that is expected.
int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

}  // namespace

WindowWatcher::WindowWatcher(const std::string& display) {
    Display* connection = XOpenDisplay(display.c_str());
    if (!connection) throw std::runtime_error("WindowWatcher: cannot open display " + display);
    XSetErrorHandler(ignoreXErrors);
    XSelectInput(connection, DefaultRootWindow(connection), SubstructureNotifyMask);
    XSync(connection, False);
    connection_ = connection;
    thread_ = std::thread([this] { run(); });
}

WindowWatcher::~WindowWatcher() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    XCloseDisplay(static_cast<Display*>(connection_));
}

void WindowWatcher::learnName(unsigned long window) {
    auto* connection = static_cast<Display*>(connection_);
    std::string name;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    const Atom netName = XInternAtom(connection, "_NET_WM_NAME", False);
    if (XGetWindowProperty(connection, window, netName, 0, 1024, False, AnyPropertyType, &type, &format, &count,
                           &remaining, &data) == Success &&
        data) {
        if (format == 8) name.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    if (name.empty()) {
        char* legacy = nullptr;
        if (XFetchName(connection, window, &legacy) && legacy) {
            name = legacy;
            XFree(legacy);
        }
    }
    if (name.empty()) return;
    std::lock_guard lock(mutex_);
    names_[window] = name;
}

void WindowWatcher::run() {
    auto* connection = static_cast<Display*>(connection_);
    const Window root = DefaultRootWindow(connection);
    const Atom netName = XInternAtom(connection, "_NET_WM_NAME", False);
    while (!stop_) {
        while (XPending(connection)) {
            XEvent event;
            XNextEvent(connection, &event);
            if (event.type == CreateNotify && event.xcreatewindow.parent == root) {
                // Names are set after creation; hear about them as they come.
                XSelectInput(connection, event.xcreatewindow.window, PropertyChangeMask);
                learnName(event.xcreatewindow.window);
            } else if (event.type == PropertyNotify &&
                       (event.xproperty.atom == XA_WM_NAME || event.xproperty.atom == netName)) {
                learnName(event.xproperty.window);
            } else if (event.type == MapNotify && event.xmap.event == root) {
                learnName(event.xmap.window);
                std::lock_guard lock(mutex_);
                mapped_.insert(event.xmap.window);
            }
        }
        pollfd entry{ConnectionNumber(connection), POLLIN, 0};
        ::poll(&entry, 1, 20);
    }
}

size_t WindowWatcher::mappedCount(const std::string& name) const {
    std::lock_guard lock(mutex_);
    size_t count = 0;
    for (auto window : mapped_) {
        if (auto found = names_.find(window); found != names_.end() && found->second == name) ++count;
    }
    return count;
}

std::vector<std::string> WindowWatcher::mappedNames() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (auto window : mapped_) {
        auto found = names_.find(window);
        names.push_back(found != names_.end() ? found->second : "(no name)");
    }
    return names;
}

}  // namespace corvidale::e2e::x11
