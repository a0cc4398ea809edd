#include "delegate.h"

#include <algorithm>

#include "core/app/launch_config.h"
#include "core/app/menu_model.h"
#include "core/web/theme_bridge.h"
#include "core/web/user_agent.h"

namespace corvidale {
namespace {

constexpr double kZoomStep = 0.1;
constexpr double kZoomMin = 0.5;
constexpr double kZoomMax = 3.0;
constexpr double kUpdateCheckDelaySeconds = 2.0;
// A page that takes its process down again this soon after a reload would
// only do it again.
constexpr double kTerminationMemorySeconds = 30.0;

}  // namespace

Delegate::Delegate(platform::Platform& platform) : platform_(platform) {}

void Delegate::applicationDidFinishLaunching() {
    platform::WebViewConfiguration configuration;
    configuration.persistentDefaultDataStore = true;
    configuration.javaScriptEnabled = true;
    configuration.scriptMessageHandlers.push_back({std::string(kThemeHandlerName), this});
    configuration.userScripts.push_back(themeUserScript());

    applyTheme(platform_.defaults().string(kLastAppThemeKey).value_or("dark"));

    web = platform_.createWebView(configuration);
    web->setNavigationDelegate(this);
    web->setUIDelegate(this);
    web->setAllowsBackForwardNavigationGestures(true);
    web->setCustomUserAgent(composeUserAgent(platform_));

    platform::WindowShape shape;
    shape.contentRect = {0, 0, 1100, 760};
    shape.styleMask = platform::WindowStyleTitled | platform::WindowStyleClosable |
                     platform::WindowStyleMiniaturizable | platform::WindowStyleResizable;
    shape.backing = 2;
    shape.defer = false;
    window = platform_.createWindow(shape);
    window->setTitle("Corvidale");
    window->setMovableByWindowBackground(true);
    window->setMinSize({420, 480});
    window->setContentView(*web);
    window->setFrameAutosaveName("CorvidaleMain");
    window->center();
    window->makeKeyAndOrderFront();

    platform_.application().setMainMenu(buildMainMenu());

    scheduleAutoUpdate();

    if (platform_.defaults().boolean("showUpdates")) {
        platform_.mainQueue().after(kUpdateCheckDelaySeconds, [this] { checkInteractively(); });
    }

    web->load({appOrigin(platform_).text(), platform::CachePolicy::UseProtocolCachePolicy, 60.0});

    platform_.application().activateIgnoringOtherApps();
}

void Delegate::reload() {
    if (shellPage_) {
        leaveShellPage();
        return;
    }
    web->reload();
}

void Delegate::webContentProcessDidTerminate() {
    const bool again = recentTermination_;
    recentTermination_ = true;
    const auto number = ++terminationNumber_;
    platform_.mainQueue().after(kTerminationMemorySeconds, [this, number, alive = std::weak_ptr<int>(lifetime_)] {
        if (alive.lock() && number == terminationNumber_) recentTermination_ = false;
    });
    if (shellPage_) {
        // The shell's own page went with the process: show it again, once.
        if (!again) showShellPage(shellPage_->page, shellPage_->retryURL);
        return;
    }
    if (!again) {
        web->reload();
        return;
    }
    const std::string shown = web->url();
    showShellPage({"Corvidale", "The page stopped unexpectedly, twice in a short time.", "Reload"},
                  shown.empty() ? appOrigin(platform_).text() : shown);
}

void Delegate::zoomIn() { web->setPageZoom(std::min(web->pageZoom() + kZoomStep, kZoomMax)); }

void Delegate::zoomOut() { web->setPageZoom(std::max(web->pageZoom() - kZoomStep, kZoomMin)); }

void Delegate::zoomReset() { web->setPageZoom(1.0); }

bool Delegate::performMenuAction(const std::string& action) {
    if (action == "reload") {
        reload();
    } else if (action == "zoomIn") {
        zoomIn();
    } else if (action == "zoomOut") {
        zoomOut();
    } else if (action == "zoomReset") {
        zoomReset();
    } else if (action == "checkForUpdates:") {
        checkForUpdates();
    } else {
        return false;
    }
    return true;
}

}  // namespace corvidale
