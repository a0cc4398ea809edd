#pragma once

#include <sys/types.h>

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "util.h"

namespace corvidale::e2e::x11 {

// Once, before any thread touches a display.
void initThreads();

struct Geometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The first visible window of `pid` whose name matches the regular expression
// (xdotool search --sync), as a decimal window id.
std::optional<std::string> findWindow(const std::string& display, pid_t pid, const std::string& nameRegex,
                                      Millis timeout);
// Every visible window of `pid` whose name matches, right now.
std::vector<std::string> visibleWindows(const std::string& display, pid_t pid, const std::string& nameRegex = ".*");

std::optional<Geometry> geometry(const std::string& display, const std::string& window);
std::string windowName(const std::string& display, const std::string& window);

// Gives the window the keyboard focus, then types through XTEST, the way a
// keyboard would (synthetic events sent to a window are not trusted by GTK).
bool key(const std::string& display, const std::string& window, const std::string& keys);
bool type(const std::string& display, const std::string& window, const std::string& text);
// Moves the pointer to (x, y) inside the window and clicks the first button.
bool click(const std::string& display, const std::string& window, int x, int y);
// What a window manager's close button sends: WM_DELETE_WINDOW.
bool requestClose(const std::string& display, const std::string& window);

// A PNG of the whole screen, or of one window.
bool screenshot(const std::string& display, const std::string& path, const std::string& window = "root");
struct Image {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;  // row-major, three bytes a pixel

    // Mean of (r + g + b) / 3 over a rectangle clipped to the image, 0..255.
    double meanBrightness(int x, int y, int width, int height) const;
};
// The pixels of the screen or of one window, for checks on what is shown.
std::optional<Image> capture(const std::string& display, const std::string& window = "root");

// Watches the display for top-level windows being mapped, with the names they
// carried. A window that is shown and gone again within milliseconds (a run
// that ends right after showing it) is seen here even though no search could
// find it afterwards.
class WindowWatcher {
public:
    explicit WindowWatcher(const std::string& display);
    ~WindowWatcher();
    WindowWatcher(const WindowWatcher&) = delete;
    WindowWatcher& operator=(const WindowWatcher&) = delete;

    // How many distinct windows with exactly this name were mapped so far.
    size_t mappedCount(const std::string& name) const;
    // Names of every mapped window, for failure messages.
    std::vector<std::string> mappedNames() const;

private:
    void run();
    void learnName(unsigned long window);

    void* connection_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::map<unsigned long, std::string> names_;
    std::set<unsigned long> mapped_;
};

}  // namespace corvidale::e2e::x11
