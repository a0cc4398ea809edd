// Launch configuration, startup and the view commands, through the Delegate on the fake platform.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/app/delegate.h"
#include "core/app/launch_config.h"
#include "fake.h"

namespace corvidale {
namespace {

using namespace platform;
using testing::Fake;
using Kind = PlistValue::Kind;
using Strings = std::vector<std::string>;

TEST(LaunchConfiguration, PlistStringThenEnvironmentThenDefault) {
    struct Case {
        std::optional<PlistValue> info;
        std::optional<std::string> env, origin, stamp;  // expected; no origin: refused
    };
    const Case cases[] = {
        {{}, {}, "https://app.corvidale.com", "dev"},
        {{}, "https://env.example:8443/p?q#f", "https://env.example:8443/p?q#f", "https://env.example:8443/p?q#f"},
        {PlistValue{Kind::String, "https://plist.example"}, "https://env.example", "https://plist.example",
         "https://plist.example"},
        {PlistValue{Kind::String, ""}, "https://env.example", "https://env.example", "https://env.example"},
        {PlistValue{Kind::Number, "https://n.example"}, {}, "https://app.corvidale.com", "dev"},
        {PlistValue{Kind::Boolean, "1"}, "https://env.example", "https://env.example", "https://env.example"},
        {PlistValue{Kind::Data, "x"}, "", std::nullopt, ""},
        {{}, "https://Host.Example:9/a b", std::nullopt, "https://Host.Example:9/a b"},
        {PlistValue{Kind::String, "http://plist.example"}, "https://env.example", std::nullopt, "http://plist.example"},
        // Schemes know no case: the small one is used, the rest kept as written.
        {{}, "HTTPS://Env.Example:9/P?Q", "https://Env.Example:9/P?Q", "HTTPS://Env.Example:9/P?Q"},
    };
    for (const auto& c : cases) {
        Fake p;
        for (auto key : {"CorvidaleOrigin", "CorvidaleBuild"}) {
            if (c.info) p.info[key] = *c.info;
        }
        if (c.env) p.env["CORVIDALE_ORIGIN"] = p.env["CORVIDALE_STAMP"] = *c.env;
        const auto config = readLaunchConfig(p, p, p);
        EXPECT_EQ(config.buildStamp, c.stamp);
        EXPECT_EQ(config.origin ? std::optional(config.origin->text()) : std::nullopt, c.origin);
        // Both come from the same source here; the defaults differ.
        EXPECT_EQ(config.originText, c.stamp == "dev" ? "https://app.corvidale.com" : *c.stamp);
    }
    // An origin written by hand is compared with hosts as the engine writes them.
    Fake p;
    for (const auto& [origin, host] : {std::pair{"https://App.Example.COM:8443/", "app.example.com"},
                                       std::pair{"https://b\u00FCcher.example/", "xn--bcher-kva.example"}}) {
        p.env["CORVIDALE_ORIGIN"] = origin;
        EXPECT_EQ(readLaunchConfig(p, p, p).originHost(), host);
    }
}

TEST(LaunchConfiguration, ValidOriginsAreHttpsInAnyCaseWithAHost) {
    for (auto good : {"https://a.b", "https://a.b:8443/path?q#f", "https://127.0.0.1:1/", "https://[::1]:99/",
                      "HTTPS://A.B/", "Https://a.b"}) {
        EXPECT_TRUE(isValidOrigin(good)) << good;
    }
    for (auto bad : {"", "http://a.b", "HTTP://a.b", "HTTPSS://a.b", "ftp://a.b", "https:/path", "https:///path",
                     "https://a b.com", " https://a.b", "a.b", "https://", "mailto:x@a.b", "file:///etc/passwd"}) {
        EXPECT_FALSE(isValidOrigin(bad)) << bad;
    }
}

// One launch of the shell with `origin`.
struct Launch {
    explicit Launch(const std::string& origin) { p.env["CORVIDALE_ORIGIN"] = origin; }
    // The exit status when the launch ended the run, else -1.
    int run() {
        delegate = std::make_unique<Delegate>(p);
        return testing::exitStatus([&] { delegate->applicationDidFinishLaunching(); });
    }
    bool did(const std::string& call) const { return std::find(p.calls.begin(), p.calls.end(), call) != p.calls.end(); }
    Fake p;
    std::unique_ptr<Delegate> delegate;
};

TEST(Startup, TheWindowOpensInTheLastThemeLoadsTheOriginAndChecksForUpdatesIfAsked) {
    for (const bool asked : {false, true}) {
        Launch launch("https://app.example:8443/start?x=1");
        launch.p.env["CORVIDALE_STAMP"] = "57";
        launch.p.stored["updateFeed"] = "https://feed.test/unreachable.json";
        if (asked) launch.p.stored = {{"showUpdates", "YES"}, {"lastAppTheme", "light"}};
        EXPECT_EQ(launch.run(), -1);
        EXPECT_EQ(launch.p.look, asked ? Appearance::Light : Appearance::Dark);
        EXPECT_EQ(launch.p.stored["lastAppTheme"], asked ? "light" : "dark");
        for (auto call : {"createWindow 1100x760 style 15", "minSize 420x480", "autosave CorvidaleMain", "show",
                          "title Corvidale", "setMainMenu", "activate"}) {
            EXPECT_TRUE(launch.did(call)) << call;
        }
        const auto& calls = launch.p.calls;
        // The first request already carries the shell's agent.
        EXPECT_LT(std::find(calls.begin(), calls.end(), "userAgent Engine/1.0 CorvidaleShell/linux-57"),
                  std::find(calls.begin(), calls.end(), "load https://app.example:8443/start?x=1"));
        EXPECT_EQ(launch.p.web->loaded->timeoutSeconds, 60.0);
        // The theme script posts to the one handler there is, under the name it uses.
        const auto& config = launch.p.web->config;
        EXPECT_TRUE(config.persistentDefaultDataStore && config.javaScriptEnabled);
        ASSERT_EQ(config.scriptMessageHandlers.size(), 1u);
        EXPECT_NE(config.userScripts.at(0).source.find("messageHandlers." + config.scriptMessageHandlers[0].name + ";"),
                  std::string::npos);
        launch.p.advance(1.9);
        EXPECT_TRUE(launch.p.alerts.empty());
        launch.p.advance(0.2);
        EXPECT_EQ(launch.p.alerts.size(), asked ? 1u : 0u);
    }
}

TEST(Startup, AnInvalidOriginEndsTheRunWithTwoOnceTheWindowIsUpAndLoadsNothing) {
    for (auto origin : {"http://app.example/", ""}) {
        Launch launch(origin);
        EXPECT_EQ(launch.run(), 2);
        EXPECT_EQ(launch.p.err, (Strings{"[theme] window appearance → dark",
                                         "CORVIDALE_ORIGIN must be an https URL: " + std::string(origin)}));
        EXPECT_TRUE(launch.did("show"));
        EXPECT_FALSE(launch.p.web->loaded);
    }
}

TEST(ViewCommands, ZoomStepsByATenthBetweenHalfAndThreeAndReloadReloads) {
    Launch launch("https://app.example/");
    launch.run();
    auto& delegate = *launch.delegate;
    const double& zoom = launch.p.web->zoom;
    delegate.zoomOut();
    EXPECT_NEAR(zoom, 0.9, 1e-9);
    for (int i = 0; i < 5; ++i) delegate.zoomOut();
    EXPECT_EQ(zoom, 0.5);
    EXPECT_TRUE(delegate.performMenuAction("zoomReset"));
    EXPECT_EQ(zoom, 1.0);
    for (int i = 0; i < 19; ++i) delegate.zoomIn();
    EXPECT_NEAR(zoom, 2.9, 1e-9);
    delegate.zoomIn();
    delegate.zoomIn();
    EXPECT_EQ(zoom, 3.0);
    launch.p.calls.clear();
    EXPECT_TRUE(delegate.performMenuAction("reload"));
    EXPECT_EQ(launch.p.calls, Strings{"reload"});
    EXPECT_FALSE(delegate.performMenuAction("copy:")) << "editing belongs to the platform";
    EXPECT_TRUE(delegate.applicationShouldTerminateAfterLastWindowClosed());
}

}  // namespace
}  // namespace corvidale
