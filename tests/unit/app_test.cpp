// Launch configuration, startup and the view commands, through the Delegate on the fake platform.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/app/delegate.h"
#include "core/app/launch_config.h"
#include "core/web/deep_link.h"
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
    // The origin as the engine loads it: scheme and host in small letters, path and query as written.
    const Case cases[] = {
        {{}, {}, "https://app.corvidale.com/", "dev"},
        {{}, "https://env.example:8443/p?q#f", "https://env.example:8443/p?q#f", "https://env.example:8443/p?q#f"},
        {PlistValue{Kind::String, "https://plist.example"}, "https://env.example", "https://plist.example/",
         "https://plist.example"},
        {PlistValue{Kind::String, ""}, "https://env.example", "https://env.example/", "https://env.example"},
        {PlistValue{Kind::Number, "https://n.example"}, {}, "https://app.corvidale.com/", "dev"},
        {PlistValue{Kind::Boolean, "1"}, "https://env.example", "https://env.example/", "https://env.example"},
        {PlistValue{Kind::Data, "x"}, "", std::nullopt, ""},
        {{}, "https://Host.Example:9/a b", std::nullopt, "https://Host.Example:9/a b"},
        {PlistValue{Kind::String, "http://plist.example"}, "https://env.example", std::nullopt, "http://plist.example"},
        {{}, "HTTPS://Env.Example:9/P?Q", "https://env.example:9/P?Q", "HTTPS://Env.Example:9/P?Q"},
    };
    for (const auto& c : cases) {
        Fake p;
        for (auto key : {"CorvidaleOrigin", "CorvidaleBuild"}) {
            if (c.info) p.info[key] = *c.info;
        }
        if (c.env) p.env["CORVIDALE_ORIGIN"] = p.env["CORVIDALE_STAMP"] = *c.env;
        const auto config = readLaunchConfig(p, p, p);
        EXPECT_EQ(config.buildStamp, c.stamp);
        EXPECT_EQ(config.appOrigin ? std::optional(config.appOrigin->url()) : std::nullopt, c.origin);
        // Both come from the same source here; the defaults differ.
        EXPECT_EQ(config.originText, c.stamp == "dev" ? "https://app.corvidale.com" : *c.stamp);
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
        // The end-to-end launch sees the size, title, first request's agent, theme messages and kept data; not these.
        for (auto call : {"minSize 420x480", "autosave CorvidaleMain", "activate"}) EXPECT_TRUE(launch.did(call)) << call;
        EXPECT_EQ(launch.p.web->loaded->timeoutSeconds, 60.0);
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
    for (int i = 0; i < 6; ++i) delegate.performMenuAction(MenuAction::ZoomOut);
    EXPECT_EQ(zoom, 0.5);
    EXPECT_TRUE(delegate.performMenuAction(MenuAction::ZoomReset));
    EXPECT_EQ(zoom, 1.0);
    for (int i = 0; i < 19; ++i) delegate.performMenuAction(MenuAction::ZoomIn);
    EXPECT_NEAR(zoom, 2.9, 1e-9);
    delegate.performMenuAction(MenuAction::ZoomIn);
    delegate.performMenuAction(MenuAction::ZoomIn);
    EXPECT_EQ(zoom, 3.0);
    launch.p.calls.clear();
    EXPECT_TRUE(delegate.performMenuAction(MenuAction::Reload));
    EXPECT_EQ(launch.p.calls, Strings{"reload"});
    EXPECT_FALSE(delegate.performMenuAction(MenuAction::Copy)) << "editing belongs to the platform";
    EXPECT_TRUE(delegate.applicationShouldTerminateAfterLastWindowClosed());
}

TEST(DeepLinks, OnlyPathsOnTheOriginOpenAndEveryTrickIsRefusedForWhatItIs) {
    const auto origin = *AppOrigin::parse("https://app.example:8443/start?o=1#top");
    const std::string at = "https://app.example:8443";
    const std::string longest = "corvidale://open/" + std::string(kMaxDeepLinkLength - 17, 'a');
    const std::pair<std::string, std::string> cases[] = {  // link, page or why refused
        {"corvidale://open/settings?tab=2", at + "/settings?tab=2"},
        {"corvidale://open", at + "/"},
        {"CORVIDALE://Open/a/b%20c?next=https://evil.test/%2F&s=%2b#x%2F", at + "/a/b%20c?next=https://evil.test/%2F&s=%2b#x%2F"},
        {"corvidale://open/@evil.test:1/x", at + "/@evil.test:1/x"},
        {longest, at + longest.substr(16)},
        {longest + "a", "longer than 8192 bytes"},
        {"corvidale://evil.test/settings", "a host other than \"open\""},
        {"corvidale://open@evil.test/", "a host other than \"open\""},
        {"corvidale://evil.test@open/x", "a user name or password"},
        {"corvidale://open:443/x", "a port"},
        {"corvidale://open//evil.test/x", "a path that names a host"},
        {"corvidale://open/%2F%2Fevil.test", "a path that names a host"},
        {"corvidale:////evil.test/x", "not a URL"},  {"corvidale:///open/x", "not a URL"},
        {"corvidale://open/a%2Fb", "an encoded slash"},
        {"corvidale://open/%5Cevil.test", "a backslash"},
        {"corvidale://open/x/../../y", "a dot segment"},
        {"corvidale://open/%2e%2E/y", "a dot segment"},
        {"corvidale://open/a%zz", "a % that encodes nothing"},
        {"corvidale://open/a%00b", "an encoded control character"},
        {"corvidale://open/x?a=%0d%0aSet-Cookie:x", "an encoded control character"},
        {"corvidale://open/x#%1b", "an encoded control character"},
        {"corvidale://open\\evil.test/", "a character no link holds"},
        {"corvidale://open/a b", "a character no link holds"},
        {"corvidale://open/caf\xC3\xA9", "a character no link holds"},
        {std::string("corvidale://open/a\0b", 20), "a character no link holds"},
        {"corvidale://open/a\x7f" "b", "a character no link holds"},
        {"javascript:alert(1)//corvidale://open/", "not a corvidale: link"},
        {"https://app.example:8443/x", "not a corvidale: link"},
        {"corvidale:open/x", "not a corvidale: link"},
        {"corvidales://open/x", "not a corvidale: link"},
    };
    for (const auto& [link, expected] : cases) {
        const auto decision = resolveDeepLink(link, "corvidale", origin);
        EXPECT_EQ(decision.url.value_or(decision.refusal), expected) << link;
    }
}

TEST(DeepLinks, AGoodLinkIsTheFirstPageOrComesForwardABadOneIsLoggedAndChangesNothing) {
    // An international name loads as the engine writes it, link or none.
    const std::string app = "https://xn--bcher-kva.example";
    Launch launch("https://B\u00FCcher.example/");
    launch.p.info["CorvidaleURLScheme"] = PlistValue{Kind::String, "corvidale"};
    launch.delegate = std::make_unique<Delegate>(launch.p);
    launch.delegate->openURLs({"corvidale://open/a", "corvidale://evil.test/", "corvidale://open/b?c"});
    launch.delegate->applicationDidFinishLaunching();
    EXPECT_EQ(launch.p.web->loaded->url, app + "/b?c");
    EXPECT_EQ(launch.p.err.front(), "[link] refused (a host other than \"open\"): corvidale://evil.test/");

    launch.p.calls.clear();
    launch.p.err.clear();
    const std::string huge = "corvidale://open/" + std::string(1 << 20, '\n');
    const std::string script = "javascript:" + std::string(188, 'x') + "\x7f";  // 200 bytes: shown whole
    launch.delegate->openURLs({huge, script});
    EXPECT_TRUE(launch.p.calls.empty());
    ASSERT_EQ(launch.p.err.size(), 2u);
    std::string shown = "corvidale://open/";  // the first 200 bytes, each readable
    for (int i = 0; i < 183; ++i) shown += "\\x0a";
    EXPECT_EQ(launch.p.err[0], "[link] refused (longer than 8192 bytes): " + shown + "… (1048593 bytes)");
    EXPECT_EQ(launch.p.err[1], "[link] refused (a character no link holds): " + script.substr(0, 199) + "\\x7f");
    // A link while the can't-reach screen waits to try the failed page again: the link's page wins.
    ASSERT_TRUE(launch.delegate->didFailNavigation({app + "/b?c", "g-io-error-quark", 39, ""}));
    launch.p.calls.clear();
    launch.delegate->openURLs({"corvidale://open/settings?tab=2"});
    launch.p.advance(600);
    launch.p.networkChanged(false);
    launch.p.networkChanged(true);
    EXPECT_EQ(launch.p.calls, (Strings{"load " + app + "/settings?tab=2", "activate"}));

    // A build that names no scheme, or one that is no scheme, opens no link.
    for (auto scheme : {"", "Corvidale", "c/d"}) {
        Launch other("https://B\u00FCcher.example");
        other.p.info["CorvidaleURLScheme"] = PlistValue{Kind::String, scheme};
        other.delegate = std::make_unique<Delegate>(other.p);
        other.delegate->openURLs({"corvidale://open/a"});
        other.delegate->applicationDidFinishLaunching();
        EXPECT_EQ(other.p.web->loaded->url, app + "/") << scheme;
        EXPECT_EQ(other.p.err.front(), "[link] refused (this build opens no links): corvidale://open/a");
    }
}

}  // namespace
}  // namespace corvidale
