// Which links stay in the window, which go to the default browser, and which
// go nowhere — driven by real clicks on the web application's page.
#include <algorithm>

#include "e2e_test.h"

namespace corvidale::e2e {
namespace {

class NavigationTest : public E2eTest {};

std::vector<std::string> pathsRequested(const OriginServer& origin, const std::vector<std::string>& paths) {
    std::vector<std::string> seen;
    for (const auto& request : origin.requests()) {
        if (std::find(paths.begin(), paths.end(), request.path) != paths.end()) {
            seen.push_back(request.host + request.target);
        }
    }
    return seen;
}

TEST_F(NavigationTest, ForeignLinksAndNewWindowsGoToTheBrowserWhileTheViewStays) {
    const std::string foreign = server().url(kForeignHost, "/foreign-landing?from=link");
    const std::string subdomain = server().url(kSubdomainHost, "/subdomain-landing");
    const std::string blankTarget = server().appUrl("/blank-landing");
    const std::string scriptedWindow = server().appUrl("/open-landing?by=script");
    const std::vector<std::string> landings = {"/foreign-landing", "/subdomain-landing", "/blank-landing",
                                               "/open-landing"};
    server().page("/steps", stepsPage({
                                Step::link(foreign),
                                Step::link(subdomain),
                                Step::link(blankTarget, "_blank"),
                                Step::open(scriptedWindow),
                                Step::link(server().appUrl("/done")),
                            }));
    server().page("/done", "<!doctype html><title>Done</title><p>done</p>");

    x11::WindowWatcher watcher(display());
    auto app = launchAt("/steps");
    app->window(kStartTimeout);

    const std::vector<std::string> expected = {foreign, subdomain, blankTarget, scriptedWindow};
    for (int step = 0; step < 4; ++step) {
        clickStep(*app, server(), step);
        ASSERT_TRUE(profile().waitForOpened(expected[static_cast<size_t>(step)], kEventTimeout))
            << "step " << step << " was not handed to the browser; opened:\n"
            << joinLines(profile().opened()) << server().describeTraffic();
    }
    EXPECT_TRUE(server().sawReport("clicked 3 window.open gave null")) << server().describeTraffic();

    // The page is still the one that was clicked: it was never left, and a
    // last link to the app's own host still works from it.
    EXPECT_FALSE(server().sawReport("pagehide")) << server().describeTraffic();
    clickStep(*app, server(), 4);
    ASSERT_TRUE(server().waitForRequestTo("/done", kEventTimeout)) << server().describeTraffic();

    EXPECT_EQ(profile().opened(), expected);
    EXPECT_TRUE(pathsRequested(server(), landings).empty())
        << "the view itself loaded a page meant for the browser:\n"
        << joinLines(pathsRequested(server(), landings));
    EXPECT_EQ(watcher.mappedCount("Corvidale"), 1u) << "windows shown:\n" << joinLines(watcher.mappedNames());
    closeWithKeyboardAndExpectCleanExit(*app);
}

TEST_F(NavigationTest, TheOriginHostOnAnotherPortAndTheSignInHostStayInTheWindow) {
    auto otherPort = makeServer();
    const std::string signIn = otherPort->url(kSignInHost, "/signin?continue=app");
    server().page("/steps", stepsPage({Step::link(otherPort->appUrl("/other-port"))}));
    otherPort->page("/other-port", stepsPage({Step::link(signIn)}, "Other port"));
    otherPort->page("/signin", stepsPage({}, "Sign in"));

    auto app = launchAt("/steps");
    app->window(kStartTimeout);

    clickStep(*app, server(), 0);
    const auto arrived = otherPort->waitForRequestTo("/other-port", kEventTimeout);
    ASSERT_TRUE(arrived) << otherPort->describeTraffic() << "opened:\n" << joinLines(profile().opened());
    EXPECT_EQ(arrived->host, std::string(kAppHost) + ":" + std::to_string(otherPort->port()));

    clickStep(*app, *otherPort, 0);
    const auto signInRequest = otherPort->waitForRequestTo("/signin", kEventTimeout);
    ASSERT_TRUE(signInRequest) << otherPort->describeTraffic() << "opened:\n" << joinLines(profile().opened());
    EXPECT_EQ(signInRequest->host, std::string(kSignInHost) + ":" + std::to_string(otherPort->port()));
    EXPECT_EQ(signInRequest->target, "/signin?continue=app");
    // Loaded, not merely requested: the sign-in page runs in the window.
    EXPECT_TRUE(otherPort->waitForReport("pagehide /other-port", kEventTimeout)) << otherPort->describeTraffic();

    EXPECT_TRUE(profile().opened().empty()) << "opened:\n" << joinLines(profile().opened());
    closeWithKeyboardAndExpectCleanExit(*app);
}

TEST_F(NavigationTest, LocalFilesSmbAndCustomSchemesAreNeverHandedOut) {
    const std::string foreign = server().url(kForeignHost, "/after-the-refusals");
    server().page("/steps", stepsPage({
                                Step::link("file:///etc/hosts"),
                                Step::link("smb://fileserver.test/share/report.docx"),
                                Step::link("corvidale-test://payload/run"),
                                Step::link("smb://fileserver.test/share/blank.docx", "_blank"),
                                Step::open("corvidale-test://window/run"),
                                // Handed out like any foreign link: once it has arrived,
                                // everything clicked before it has been decided.
                                Step::link(foreign),
                            }));

    auto app = launchAt("/steps");
    app->window(kStartTimeout);
    for (int step = 0; step < 6; ++step) clickStep(*app, server(), step);

    ASSERT_TRUE(profile().waitForOpened(foreign, kEventTimeout))
        << "opened:\n" << joinLines(profile().opened()) << server().describeTraffic();
    EXPECT_EQ(profile().opened(), std::vector<std::string>{foreign});
    EXPECT_FALSE(server().sawReport("pagehide")) << server().describeTraffic();
    EXPECT_TRUE(server().requestsTo("/after-the-refusals").empty()) << server().describeTraffic();
    closeWithKeyboardAndExpectCleanExit(*app);
}

}  // namespace
}  // namespace corvidale::e2e
