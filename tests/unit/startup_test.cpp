#include <gtest/gtest.h>

#include <algorithm>

#include "core/app/delegate.h"
#include "fake_platform.h"

namespace corvidale {
namespace {

using testing::FakePlatform;
using testing::ProcessExited;

TEST(Startup, RunsItsStepsInOrder) {
    FakePlatform p;
    p.env["CORVIDALE_ORIGIN"] = "https://app.example:8443/start?x=1";
    p.env["CORVIDALE_STAMP"] = "57";
    Delegate delegate(p);
    delegate.applicationDidFinishLaunching();

    const std::vector<std::string> expected = {
        "defaults.set lastAppTheme=dark",
        "app.setAppearance dark",
        "createWebView web",
        "web.setNavigationDelegate",
        "web.setUIDelegate",
        "web.setAllowsBackForwardNavigationGestures yes",
        "web.setCustomUserAgent Mozilla/5.0 Engine CorvidaleShell/linux-57",
        "createWindow 1100x760 style 15",
        "window.setTitle Corvidale",
        "window.setMovableByWindowBackground yes",
        "window.setMinSize 420x480",
        "window.setContentView web",
        "window.setFrameAutosaveName CorvidaleMain",
        "window.center",
        "window.makeKeyAndOrderFront",
        "app.setMainMenu",
        "web.load https://app.example:8443/start?x=1",
        "app.activate",
    };
    EXPECT_EQ(p.calls, expected);
    EXPECT_EQ(p.stderrLines, std::vector<std::string>{"[theme] window appearance → dark"});

    const auto& config = p.lastWebView->configuration;
    EXPECT_TRUE(config.persistentDefaultDataStore);
    EXPECT_TRUE(config.javaScriptEnabled);
    ASSERT_EQ(config.scriptMessageHandlers.size(), 1u);
    EXPECT_EQ(config.scriptMessageHandlers[0].name, "corvidaleTheme");
    EXPECT_EQ(config.scriptMessageHandlers[0].handler, &delegate);
    ASSERT_EQ(config.userScripts.size(), 1u);
    EXPECT_TRUE(config.userScripts[0].injectAtDocumentEnd);
    EXPECT_TRUE(config.userScripts[0].forMainFrameOnly);

    ASSERT_TRUE(p.lastWebView->loaded);
    EXPECT_EQ(p.lastWebView->loaded->cachePolicy, platform::CachePolicy::UseProtocolCachePolicy);
    EXPECT_EQ(p.lastWebView->loaded->timeoutSeconds, 60.0);
    EXPECT_EQ(p.lastWindow->shape.backing, 2);
    EXPECT_FALSE(p.lastWindow->shape.defer);
    EXPECT_TRUE(delegate.applicationShouldTerminateAfterLastWindowClosed());
}

TEST(Startup, AppliesTheRememberedThemeBeforeAnyWindow) {
    FakePlatform p;
    p.stored["lastAppTheme"] = "light";
    Delegate delegate(p);
    delegate.applicationDidFinishLaunching();
    const auto appearance = std::find(p.calls.begin(), p.calls.end(), "app.setAppearance light");
    const auto window = std::find_if(p.calls.begin(), p.calls.end(),
                                     [](const std::string& call) { return call.rfind("createWindow", 0) == 0; });
    ASSERT_NE(appearance, p.calls.end());
    EXPECT_LT(appearance, window);
    EXPECT_EQ(p.stderrLines, std::vector<std::string>{"[theme] window appearance → light"});
}

TEST(Startup, ShowUpdatesSchedulesOneCheckTwoSecondsLater) {
    FakePlatform off;
    Delegate quiet(off);
    quiet.applicationDidFinishLaunching();
    EXPECT_EQ(std::count(off.calls.begin(), off.calls.end(), "queue.after 2"), 0);

    FakePlatform on;
    on.stored["showUpdates"] = "YES";
    Delegate eager(on);
    eager.applicationDidFinishLaunching();
    EXPECT_EQ(std::count(on.calls.begin(), on.calls.end(), "queue.after 2"), 1);
}

TEST(Startup, AnInvalidOriginEndsTheProcessAfterWindowAndMenuWithoutLoading) {
    FakePlatform p;
    p.env["CORVIDALE_ORIGIN"] = "http://app.example/";
    Delegate delegate(p);
    try {
        delegate.applicationDidFinishLaunching();
        FAIL() << "startup returned";
    } catch (const ProcessExited& exited) {
        EXPECT_EQ(exited.status, 2);
    }
    EXPECT_NE(std::find(p.calls.begin(), p.calls.end(), "window.makeKeyAndOrderFront"), p.calls.end());
    EXPECT_NE(std::find(p.calls.begin(), p.calls.end(), "app.setMainMenu"), p.calls.end());
    EXPECT_FALSE(p.lastWebView->loaded.has_value());
    EXPECT_EQ(std::find(p.calls.begin(), p.calls.end(), "app.activate"), p.calls.end());
    EXPECT_EQ(p.stderrLines.back(), "CORVIDALE_ORIGIN must be an https URL: http://app.example/");
}

}  // namespace
}  // namespace corvidale
