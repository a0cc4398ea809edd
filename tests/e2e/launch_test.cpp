// Startup as the user sees it: the window, the first request, the origin's
// sources and validation, and the way out.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "e2e_test.h"

namespace corvidale::e2e {
namespace {

// Reports where it is and how large the web view is, now and after every resize.
std::string startPage() {
    return std::string("<!doctype html><html><head><title>Start</title>") + kReportScript +
           R"HTML(</head><body><p>Corvidale end-to-end start page</p>
<script>
function sendSize() { report('size ' + window.innerWidth + 'x' + window.innerHeight); }
window.addEventListener('resize', sendSize);
window.addEventListener('load', function () {
  report('loaded ' + location.href);
  sendSize();
});
</script></body></html>)HTML";
}

class LaunchTest : public E2eTest {};

TEST_F(LaunchTest, OpensTheWindowAtContentSizeLoadsTheExactOriginAndQuitsWhenClosed) {
    server().page("/start", startPage());
    const std::string origin = server().appUrl("/start?x=1");
    auto app = launch(originAt(origin));

    const auto window = app->window(kStartTimeout);
    EXPECT_EQ(x11::windowName(app->display(), window), "Corvidale");

    // The very first thing the server sees is the initial load: a GET of the
    // configured URL exactly, port, path and query included.
    ASSERT_TRUE(server().waitForRequestTo("/start", kStartTimeout)) << server().describeTraffic() << app->describe();
    const auto first = server().requests().front();
    EXPECT_EQ(first.method, "GET");
    EXPECT_EQ(first.target, "/start?x=1");
    EXPECT_EQ(first.host, std::string(kAppHost) + ":" + std::to_string(server().port()));

    ASSERT_TRUE(server().waitForReport("loaded ", kEventTimeout)) << server().describeTraffic();
    EXPECT_TRUE(server().sawReport("loaded " + origin)) << server().describeTraffic();

    // The window's client area is 1100 x 760. On Linux the menu bar lives
    // inside it, above the web view, so the page gets the full width and the
    // height less the menu bar.
    const auto geometry = x11::geometry(app->display(), window);
    ASSERT_TRUE(geometry);
    EXPECT_EQ(geometry->width, 1100);
    EXPECT_EQ(geometry->height, 760);
    ASSERT_TRUE(server().waitForReport("size ", kEventTimeout)) << server().describeTraffic();
    std::vector<std::string> sizes;
    for (const auto& report : server().reports()) {
        if (report.rfind("size ", 0) == 0) sizes.push_back(report);
    }
    ASSERT_FALSE(sizes.empty());
    int pageWidth = 0;
    int pageHeight = 0;
    ASSERT_EQ(std::sscanf(sizes.back().c_str(), "size %dx%d", &pageWidth, &pageHeight), 2) << sizes.back();
    EXPECT_EQ(pageWidth, 1100);
    EXPECT_GE(pageHeight, 760 - 60);
    EXPECT_LT(pageHeight, 760) << "the menu bar takes its share of the window";
    x11::screenshot(app->display(), artifactPath("window.png"));

    closeWithKeyboardAndExpectCleanExit(*app);
}

TEST_F(LaunchTest, ClosingFromTheWindowManagerEndsWithStatusZero) {
    server().page("/start", startPage());
    auto app = launchAt("/start");
    const auto window = app->window(kStartTimeout);
    ASSERT_TRUE(server().waitForReport("loaded ", kStartTimeout)) << server().describeTraffic() << app->describe();

    ASSERT_TRUE(x11::requestClose(app->display(), window));
    const auto status = app->waitForExit(kEventTimeout);
    ASSERT_TRUE(status) << "still running after WM_DELETE_WINDOW\n" << app->describe();
    EXPECT_TRUE(status->success()) << status->describe() << "\n" << app->describe();
}

TEST_F(LaunchTest, RefusesAnOriginThatIsNotHttpsAfterShowingTheWindow) {
    server().page("/", startPage());
    const std::vector<std::string> refused = {
        "http://" + std::string(kAppHost) + ":" + std::to_string(server().port()) + "/",
        "",
        "HTTPS://" + std::string(kAppHost) + ":" + std::to_string(server().port()) + "/",
    };
    for (const auto& origin : refused) {
        SCOPED_TRACE("CORVIDALE_ORIGIN=\"" + origin + "\"");
        x11::WindowWatcher watcher(display());
        auto app = launch(originAt(origin));
        const auto status = app->waitForExit(kStartTimeout);
        ASSERT_TRUE(status) << app->describe();
        EXPECT_TRUE(status->exited && status->code == 2) << status->describe() << "\n" << app->describe();
        EXPECT_EQ(app->countErrLines("CORVIDALE_ORIGIN must be an https URL: " + origin), 1u) << app->describe();
        // The window comes first; the refusal ends the run after it was shown.
        EXPECT_GE(watcher.mappedCount("Corvidale"), 1u) << "windows shown:\n" << joinLines(watcher.mappedNames());
        EXPECT_TRUE(app->outLines().empty()) << app->describe();
    }
    EXPECT_TRUE(server().requests().empty()) << server().describeTraffic();
}

TEST_F(LaunchTest, InfoPlistOriginCountsOnlyAsANonEmptyString) {
    server().page("/from-plist", startPage());
    server().page("/from-environment", startPage());
    const std::string fromEnvironment = server().appUrl("/from-environment");

    struct Case {
        std::string name;
        std::function<void(BundleCopy&)> edit;
        std::string expectedPath;
    };
    const std::vector<Case> cases = {
        {"string", [&](BundleCopy& copy) { copy.setString("CorvidaleOrigin", server().appUrl("/from-plist")); },
         "/from-plist"},
        {"number", [](BundleCopy& copy) { copy.setInteger("CorvidaleOrigin", 443); }, "/from-environment"},
        {"empty string", [](BundleCopy& copy) { copy.setString("CorvidaleOrigin", ""); }, "/from-environment"},
    };
    for (const auto& scenario : cases) {
        SCOPED_TRACE("CorvidaleOrigin as " + scenario.name);
        BundleCopy copy;
        scenario.edit(copy);
        const size_t before = server().requests().size();
        {
            LaunchOptions options = originAt(fromEnvironment);
            options.executable = copy.executable();
            auto app = launch(options);
            app->window(kStartTimeout);
            ASSERT_TRUE(server().waitForRequest(
                [&](const RecordedRequest& request) {
                    return request.path == "/from-plist" || request.path == "/from-environment";
                },
                kStartTimeout, before))
                << server().describeTraffic() << app->describe();
            closeWithKeyboardAndExpectCleanExit(*app);
        }
        // The run is over, so everything it loaded has arrived.
        std::vector<std::string> loaded;
        const auto all = server().requests();
        for (size_t i = before; i < all.size(); ++i) {
            if (all[i].path.rfind("/from-", 0) == 0) loaded.push_back(all[i].path);
        }
        EXPECT_EQ(loaded, std::vector<std::string>{scenario.expectedPath}) << server().describeTraffic();
    }
}

TEST_F(LaunchTest, HelpAndVersionWorkWithoutAnyDisplay) {
    const std::string plist = world().bundleDir() + "/Contents/Info.plist";
    const std::string shortVersion = bundleInfoString(plist, "CFBundleShortVersionString");
    const std::string buildNumber = bundleInfoString(plist, "CFBundleVersion");
    ASSERT_FALSE(shortVersion.empty());
    ASSERT_FALSE(buildNumber.empty());

    LaunchOptions bare;
    bare.withDisplay = false;
    bare.withTestNetwork = false;
    for (const std::string option : {"--help", "--version"}) {
        SCOPED_TRACE(option);
        LaunchOptions options = bare;
        options.arguments = {option};
        auto app = launch(options);
        const auto status = app->waitForExit(20s);
        ASSERT_TRUE(status) << app->describe();
        EXPECT_TRUE(status->success()) << status->describe() << "\n" << app->describe();
        EXPECT_FALSE(app->out().empty()) << app->describe();
        if (option == "--version") {
            EXPECT_NE(app->out().find(shortVersion), std::string::npos) << app->describe();
            EXPECT_NE(app->out().find(buildNumber), std::string::npos) << app->describe();
        }
    }

    // The version comes from the bundle the executable sits in, not from the build.
    BundleCopy copy;
    copy.setString("CFBundleShortVersionString", "7.8.9");
    copy.setString("CFBundleVersion", "4242");
    LaunchOptions options = bare;
    options.arguments = {"--version"};
    options.executable = copy.executable();
    auto app = launch(options);
    const auto status = app->waitForExit(20s);
    ASSERT_TRUE(status) << app->describe();
    EXPECT_TRUE(status->success()) << status->describe() << "\n" << app->describe();
    EXPECT_NE(app->out().find("7.8.9"), std::string::npos) << app->describe();
    EXPECT_NE(app->out().find("4242"), std::string::npos) << app->describe();
}

}  // namespace
}  // namespace corvidale::e2e
