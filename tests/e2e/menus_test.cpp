// The menu bar's keyboard shortcuts, pressed the way a user presses them, and
// what the page saw of each: zoom, reload, and the editing commands.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "e2e_test.h"

namespace corvidale::e2e {
namespace {

class MenusTest : public E2eTest {};

// Two large text fields; the first holds the text to copy. The page reports
// its width in CSS pixels whenever it changes, and what the editing commands
// did to the fields.
std::string keysPage() {
    return std::string("<!doctype html><html><head><meta charset=\"utf-8\"><title>Keys</title>") + kReportScript +
           R"HTML(<style>
html, body { margin: 0; height: 100%; }
input { position: fixed; left: 0; width: 100%; box-sizing: border-box; font: 28px sans-serif; }
#first { top: 0; height: 60%; }
#second { top: 70%; height: 30%; }
</style></head><body>
<input id="first" value="copy me: 42 corvids">
<input id="second" value="">
<script>
var first = document.getElementById('first');
var second = document.getElementById('second');
var lastWidth = -1;
function sendWidth() {
  if (window.innerWidth === lastWidth) return;
  lastWidth = window.innerWidth;
  report('width ' + lastWidth);
}
window.addEventListener('resize', sendWidth);
setInterval(sendWidth, 50);
first.addEventListener('focus', function () { report('first focused'); });
first.addEventListener('copy', function () {
  report('copied ' + first.selectionStart + '-' + first.selectionEnd + ' of ' + first.value.length);
  // The caret moves on once the copy is done, as a user would move it.
  setTimeout(function () { second.focus(); report('second focused'); }, 0);
});
second.addEventListener('input', function (event) {
  report('second ' + event.inputType + ' ' + JSON.stringify(second.value));
});
window.addEventListener('load', function () { report('loaded'); sendWidth(); });
</script></body></html>)HTML";
}

// The width the page reported last, or -1.
int lastWidth(const OriginServer& origin) {
    int width = -1;
    for (const auto& text : origin.reports()) {
        int value = 0;
        if (std::sscanf(text.c_str(), "width %d", &value) == 1) width = value;
    }
    return width;
}

TEST_F(MenusTest, ZoomReloadAndEditingShortcutsReachThePage) {
    server().page("/keys", keysPage());
    auto app = launchAt("/keys");
    const auto window = app->window(kStartTimeout);
    ASSERT_TRUE(server().waitForExactReport("loaded", kStartTimeout)) << server().describeTraffic() << app->describe();
    ASSERT_TRUE(waitUntil([&] { return lastWidth(server()) == 1100; }, kEventTimeout)) << server().describeTraffic();

    // Page zoom in steps of 0.1: the window stays 1100 pixels wide, the page
    // gets 1100 / zoom CSS pixels (give or take rounding).
    struct ZoomStep {
        std::string keys;
        int width;
    };
    const std::vector<ZoomStep> zoomSteps = {
        {"ctrl+plus", 1000},   // 1.1
        {"ctrl+equal", 917},   // 1.2
        {"ctrl+minus", 1000},  // 1.1
        {"ctrl+0", 1100},      // 1.0
        {"ctrl+minus", 1222},  // 0.9
        {"ctrl+0", 1100},
    };
    std::string widthsSeen;
    for (const auto& step : zoomSteps) {
        SCOPED_TRACE(step.keys + " → " + std::to_string(step.width));
        ASSERT_TRUE(x11::key(app->display(), window, step.keys));
        ASSERT_TRUE(waitUntil([&] { return std::abs(lastWidth(server()) - step.width) <= 1; }, kEventTimeout))
            << "page width " << lastWidth(server()) << "\n" << server().describeTraffic();
        widthsSeen += step.keys + "=" + std::to_string(lastWidth(server())) + " ";
    }
    RecordProperty("widths", widthsSeen);

    // Select all, copy, and paste into the second field; then undo the paste.
    ASSERT_TRUE(x11::click(app->display(), window, 550, 200));
    ASSERT_TRUE(server().waitForExactReport("first focused", kEventTimeout)) << server().describeTraffic();
    ASSERT_TRUE(x11::key(app->display(), window, "ctrl+a"));
    ASSERT_TRUE(x11::key(app->display(), window, "ctrl+c"));
    const auto copied = server().waitForReport("copied ", kEventTimeout);
    ASSERT_TRUE(copied) << server().describeTraffic();
    EXPECT_EQ(*copied, "copied 0-19 of 19") << "Ctrl+A did not select the whole field";
    ASSERT_TRUE(server().waitForExactReport("second focused", kEventTimeout)) << server().describeTraffic();
    ASSERT_TRUE(x11::key(app->display(), window, "ctrl+v"));
    EXPECT_TRUE(server().waitForExactReport("second insertFromPaste \"copy me: 42 corvids\"", kEventTimeout))
        << server().describeTraffic();
    ASSERT_TRUE(x11::key(app->display(), window, "ctrl+z"));
    EXPECT_TRUE(server().waitForExactReport("second historyUndo \"\"", kEventTimeout)) << server().describeTraffic();

    // Reload: the page is fetched again and runs again.
    ASSERT_EQ(server().requestsTo("/keys").size(), 1u) << server().describeTraffic();
    ASSERT_TRUE(x11::key(app->display(), window, "ctrl+r"));
    EXPECT_TRUE(waitUntil([&] { return server().requestsTo("/keys").size() == 2; }, kEventTimeout))
        << server().describeTraffic();
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto all = server().reports();
            return std::count(all.begin(), all.end(), std::string("loaded")) == 2;
        },
        kEventTimeout))
        << server().describeTraffic();

    closeWithKeyboardAndExpectCleanExit(*app);
}

}  // namespace
}  // namespace corvidale::e2e
