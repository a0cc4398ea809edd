// The window's light or dark appearance follows the page's root "light" class,
// is remembered for the next launch, and cannot be driven by anything but the
// shell's own script in the app's main frame.
#include "e2e_test.h"

namespace corvidale::e2e {
namespace {

const std::string kToLight = "[theme] window appearance → light";
const std::string kToDark = "[theme] window appearance → dark";

std::vector<std::string> themeLines(const App& app) {
    std::vector<std::string> lines;
    for (const auto& line : app.errLines()) {
        if (line.rfind("[theme]", 0) == 0) lines.push_back(line);
    }
    return lines;
}

// Each click does the next change to the root element's classes.
std::string togglePage(const std::string& rootClass) {
    return std::string("<!doctype html><html class=\"") + rootClass +
           "\"><head><meta charset=\"utf-8\"><title>Theme</title>" + kReportScript +
           R"HTML(<style>
html, body { margin: 0; height: 100%; }
/* Mid grey whatever the class: only the native chrome can read as light or dark. */
body { background: #808080; color: #000; font: 28px sans-serif; }
#state { margin: 0; padding: 16px; }
</style></head><body><p id="state">theme page</p>
<script>
var root = document.documentElement;
var changes = [
  function () { root.classList.add('light'); },
  function () { root.classList.add('busy'); },      // not a theme change
  function () { root.classList.remove('light'); },
  function () { root.classList.add('light'); },
];
var done = 0;
function show() { document.getElementById('state').textContent = root.className || '(no class)'; }
document.addEventListener('click', function () {
  if (done >= changes.length) return;
  changes[done]();
  show();
  done += 1;
  report('change ' + done + ' ' + root.className);
});
window.addEventListener('load', function () { show(); report('ready'); });
</script></body></html>)HTML";
}

class ThemeTest : public E2eTest {
protected:
    // The menu bar strip at the top of the window shows the native appearance;
    // its brightness tells light from dark. The page below it is mid grey
    // whatever its class, so only the chrome can pass for light or dark.
    struct Looks {
        double chrome = -1;
        double content = -1;
    };
    Looks looks(App& app) {
        const auto image = x11::capture(app.display(), app.window());
        if (!image) return {};
        return {image->meanBrightness(0, 0, image->width, 20),
                image->meanBrightness(100, 200, image->width - 200, image->height - 300)};
    }

    // Waits until the chrome is drawn light (or dark) with the page painted
    // under it, then keeps a screenshot of the window.
    bool waitForAppearance(App& app, bool light, const std::string& screenshotName) {
        const bool reached = waitUntil(
            [&] {
                const auto seen = looks(app);
                const bool chrome = light ? seen.chrome > 160 : (seen.chrome >= 0 && seen.chrome < 100);
                return chrome && seen.content > 118 && seen.content < 138;
            },
            kEventTimeout, 200ms);
        x11::screenshot(app.display(), artifactPath(screenshotName), app.window());
        return reached;
    }

    std::string describeLooks(App& app) {
        const auto seen = looks(app);
        return "chrome brightness " + std::to_string(seen.chrome) + ", page " + std::to_string(seen.content);
    }

    void clickAndWaitForChange(App& app, int change) {
        clickPage(app);
        ASSERT_TRUE(server().waitForReport("change " + std::to_string(change) + " ", kEventTimeout))
            << server().describeTraffic() << app.describe();
    }
};

TEST_F(ThemeTest, AppearanceFollowsTheRootClassWithOneLinePerSwitchAndIsRememberedForTheNextLaunch) {
    server().page("/theme", togglePage(""));
    {
        auto app = launchAt("/theme");
        app->window(kStartTimeout);
        ASSERT_TRUE(server().waitForReport("ready", kStartTimeout)) << server().describeTraffic() << app->describe();
        // First launch: nothing remembered, so dark; the dark page keeps it so.
        ASSERT_TRUE(app->waitForErrLine(kToDark, kEventTimeout)) << app->describe();
        EXPECT_TRUE(waitForAppearance(*app, false, "dark.png")) << describeLooks(*app);

        clickAndWaitForChange(*app, 1);
        ASSERT_TRUE(app->waitForErrLine(kToLight, kEventTimeout)) << app->describe();
        EXPECT_TRUE(waitForAppearance(*app, true, "light.png")) << describeLooks(*app);

        // Another class on the root element is not a theme change; the switch
        // back to dark after it shows that the page's messages were handled.
        clickAndWaitForChange(*app, 2);
        clickAndWaitForChange(*app, 3);
        ASSERT_TRUE(app->waitForErrLine(kToDark, kEventTimeout, 2)) << app->describe();
        EXPECT_TRUE(waitForAppearance(*app, false, "dark-again.png")) << describeLooks(*app);

        clickAndWaitForChange(*app, 4);
        ASSERT_TRUE(app->waitForErrLine(kToLight, kEventTimeout, 2)) << app->describe();
        closeWithKeyboardAndExpectCleanExit(*app);
        EXPECT_EQ(themeLines(*app), (std::vector<std::string>{kToDark, kToLight, kToDark, kToLight}))
            << app->describe();
    }

    // Same user, next launch: the window opens light before the page says anything.
    server().page("/theme-light", togglePage("light"));
    auto app = launchAt("/theme-light");
    app->window(kStartTimeout);
    ASSERT_TRUE(app->waitForErrLine(kToLight, kStartTimeout)) << app->describe();
    ASSERT_TRUE(server().waitForReport("ready", kStartTimeout)) << server().describeTraffic();
    EXPECT_TRUE(waitForAppearance(*app, true, "relaunched-light.png")) << describeLooks(*app);
    closeWithKeyboardAndExpectCleanExit(*app);
    EXPECT_EQ(themeLines(*app), std::vector<std::string>{kToLight}) << app->describe();
}

// Scripts of the page itself and of its frames try to post to the theme
// handler directly; each posts its own word, so that an accepted message would
// show up by name in the shell's line.
std::string injectionPage(const OriginServer& origin) {
    return std::string("<!doctype html><html class=\"light\"><head><meta charset=\"utf-8\"><title>Inject</title>") +
           kReportScript + R"HTML(</head><body><p>injection</p>
<script>
function tryPost(word) {
  try {
    window.webkit.messageHandlers.corvidaleTheme.postMessage(word);
    return 'posted';
  } catch (error) {
    return 'refused: ' + error.name;
  }
}
var pending = 2;
window.addEventListener('message', function (event) {
  report('frame ' + event.data);
  pending -= 1;
  if (pending === 0) {
    report('page ' + tryPost('injected-by-page'));
    // The shell's own script reports this, and it must be the only voice heard.
    document.documentElement.classList.remove('light');
    report('removed light');
  }
});
</script>
<iframe src="/frame"></iframe>
<iframe src=)HTML" + jsString(origin.url(kForeignHost, "/frame")) +
           R"HTML(></iframe>
</body></html>)HTML";
}

const char* kFramePage = R"HTML(<!doctype html><html><head><meta charset="utf-8"></head><body>
<script>
var outcome;
try {
  window.webkit.messageHandlers.corvidaleTheme.postMessage('injected-by-' + location.hostname);
  outcome = 'posted';
} catch (error) {
  outcome = 'refused: ' + error.name;
}
// A frame's own root element turning light is not the page's theme either.
document.documentElement.classList.add('light');
parent.postMessage(location.hostname + ' ' + outcome, '*');
</script></body></html>)HTML";

TEST_F(ThemeTest, PageScriptsFramesAndOtherHostsCannotDriveTheAppearance) {
    server().page("/inject", injectionPage(server()));
    server().page("/frame", kFramePage);
    // A sign-in page that is light: another host's main frame, whose reports
    // must be dropped. It hands the window back to the app, which is dark.
    server().page("/signin", std::string("<!doctype html><html class=\"light\"><head>") + kReportScript +
                                 R"HTML(</head><body><script>
window.addEventListener('load', function () {
  report('signin loaded');
  setTimeout(function () { location.href = )HTML" + jsString(server().appUrl("/back")) +
                                 R"HTML(; }, 300);
});
</script></body></html>)HTML");
    server().page("/back", std::string("<!doctype html><html><head>") + kReportScript +
                               "</head><body><script>window.addEventListener('load', function () "
                               "{ report('back loaded'); });</script></body></html>");
    server().page("/steps-to-signin", stepsPage({Step::link(server().url(kSignInHost, "/signin"))}));

    auto app = launchAt("/inject");
    app->window(kStartTimeout);
    ASSERT_TRUE(server().waitForExactReport("removed light", kStartTimeout))
        << server().describeTraffic() << app->describe();
    ASSERT_TRUE(app->waitForErrLine(kToDark, kEventTimeout, 2)) << server().describeTraffic() << app->describe();
    EXPECT_EQ(themeLines(*app), (std::vector<std::string>{kToDark, kToLight, kToDark}))
        << server().describeTraffic() << app->describe();
    closeWithKeyboardAndExpectCleanExit(*app);

    // The sign-in host is light but not the app: the appearance stays dark,
    // and nothing changes when the dark app page comes back.
    auto again = launchAt("/steps-to-signin");
    again->window(kStartTimeout);
    clickStep(*again, server(), 0);
    ASSERT_TRUE(server().waitForExactReport("signin loaded", kEventTimeout)) << server().describeTraffic();
    ASSERT_TRUE(server().waitForExactReport("back loaded", kEventTimeout)) << server().describeTraffic();
    closeWithKeyboardAndExpectCleanExit(*again);
    EXPECT_EQ(themeLines(*again), std::vector<std::string>{kToDark}) << again->describe();
}

}  // namespace
}  // namespace corvidale::e2e
