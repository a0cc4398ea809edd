#include "delegate.h"

#include <algorithm>
#include <utility>

#include "core/app/menu_model.h"
#include "core/downloads/download_controller.h"
#include "core/downloads/interactive_download_reporter.h"
#include "core/downloads/self_test.h"
#include "core/updater/interactive_update_reporter.h"
#include "core/updater/update_controller.h"
#include "core/updater/update_self_test.h"
#include "core/web/frame_storage.h"
#include "core/web/notification_controller.h"
#include "core/web/navigation_policy.h"
#include "core/web/page_console.h"
#include "core/web/page_dialogs.h"
#include "core/web/reach_controller.h"
#include "core/web/request_gate.h"
#include "core/web/shell_page_controller.h"
#include "core/web/theme_bridge.h"
#include "core/web/user_agent.h"

namespace corvidale {
namespace {

constexpr double kZoomStep = 0.1;
constexpr double kZoomMin = 0.5;
constexpr double kZoomMax = 3.0;
constexpr double kUpdateCheckDelaySeconds = 2.0;

std::unique_ptr<DownloadReporter> makeDownloadReporter(platform::Platform& platform, ActivityBoard& board,
                                                       bool selfTest) {
    if (selfTest) return std::make_unique<DownloadSelfTest>(platform.process(), platform.mainQueue());
    return std::make_unique<InteractiveDownloadReporter>(platform.workspace(), platform.dialogs(),
                                                         platform.mainQueue(), board);
}

ActivityBoard& onWindow(ActivityBoard& board, platform::Window& window) {
    board.setWindow(&window);
    return board;
}

std::unique_ptr<updater::UpdateReporter> makeUpdateReporter(platform::Platform& platform, platform::Window& window,
                                                            ActivityBoard& board, bool selfTest) {
    if (selfTest) {
        return std::make_unique<updater::UpdateSelfTest>(platform.dialogs(), window, platform.bundle(),
                                                         platform.process(), board);
    }
    return std::make_unique<updater::InteractiveUpdateReporter>(platform.dialogs(), window, platform.bundle(),
                                                                platform.process(), board);
}

}  // namespace

// The one place the controllers are made and wired to each other, to the
// web view and to the window.
struct Delegate::Controllers {
    Controllers(platform::Platform& platform, const LaunchConfig& config, const AppOrigin& origin,
                platform::WebView& web, platform::Window& window)
        : activity(platform.mainQueue(), platform.launcherProgress()),
          downloadReporter(makeDownloadReporter(platform, onWindow(activity, window), config.downloadSelfTest)),
          updateReporter(makeUpdateReporter(platform, window, activity, config.updateSelfTest)),
          theme(platform.defaults(), platform.application(), platform.process(), platform.mainQueue(), origin, web),
          gate(platform.mainQueue(), origin),
          console(web, platform.mainQueue()),
          notifications(platform.notificationCenter(), platform.application(), platform.defaults(), platform.mainQueue(),
                        origin, !platform.webViewHasNotificationAPI(), web, console),
          shellPage(web, platform.application(), platform.mainQueue(), origin.url()),
          reach(web, platform.mainQueue(), platform.process(), shellPage, origin),
          navigation(platform.workspace(), origin, gate, console, shellPage),
          dialogs(platform.dialogs(), web, origin, gate, console),
          downloads(platform.workspace(), platform.downloadTemporarySuffix(), *downloadReporter),
          updates(platform, *updateReporter, config.updateSelfTest),
          networkWatch(platform.watchNetwork([this](bool available) { reach.networkChanged(available); })) {}

    // The long work the window's strip and the launcher show.
    ActivityBoard activity;
    // How the download and update flows show their outcomes: to the user, or
    // as an unattended self-test. Chosen once, here.
    std::unique_ptr<DownloadReporter> downloadReporter;
    std::unique_ptr<updater::UpdateReporter> updateReporter;
    ThemeBridge theme;
    RequestGate gate;
    PageConsole console;
    NotificationController notifications;
    ShellPageController shellPage;
    ReachController reach;
    NavigationPolicy navigation;
    PageDialogs dialogs;
    DownloadController downloads;
    updater::UpdateController updates;
    // Last, so that it goes first: nothing reaches `reach` once it is gone.
    std::unique_ptr<platform::NetworkWatch> networkWatch;
};

Delegate::Delegate(platform::Platform& platform)
    : platform_(platform),
      config_(readLaunchConfig(platform.bundle(), platform.environment(), platform.defaults())),
      origin_(config_.appOrigin.value_or(AppOrigin())),
      links_(platform.process(), config_.urlScheme, origin_) {}

Delegate::~Delegate() = default;

void Delegate::applicationDidFinishLaunching() {
    web_ = platform_.createWebView(webViewConfiguration());
    web_->addUserScript(frameStorageScript());
    web_->setAllowsBackForwardNavigationGestures(true);
    web_->setCustomUserAgent(composeUserAgent(platform_, config_.buildStamp));
    window_ = makeWindow();
    controllers_ = std::make_unique<Controllers>(platform_, config_, origin_, *web_, *window_);
    // The window opens in the theme the page last had.
    controllers_->theme.restoreLastTheme();
    window_->makeKeyAndOrderFront();

    web_->setNavigationDelegate(this);
    web_->setUIDelegate(this);
    platform_.application().setMainMenu(buildMainMenu());
    controllers_->updates.scheduleAutoUpdate();
    if (platform_.defaults().boolean("showUpdates")) {
        platform_.mainQueue().after(kUpdateCheckDelaySeconds, [this] { controllers_->updates.checkInteractively(); });
    }

    // The window is up and nothing is loaded when an origin that is none ends the run.
    if (!config_.appOrigin) refuseOrigin();
    // In the engine's form: an international host written as typed would be
    // read by the engine byte by byte.
    web_->load({startURL_.value_or(origin_.url()), platform::CachePolicy::UseProtocolCachePolicy, 60.0});
    platform_.application().activateIgnoringOtherApps();
}

void Delegate::openURLs(const std::vector<std::string>& urls) {
    auto page = links_.pageFor(urls);
    if (!page) return;
    if (!controllers_) {
        startURL_ = std::move(page);
        return;
    }
    controllers_->reach.leave();  // a pending retry would load the failed URL over the link's page
    controllers_->shellPage.open(*page);
    platform_.application().activateIgnoringOtherApps();
}

platform::WebViewConfiguration Delegate::webViewConfiguration() const {
    platform::WebViewConfiguration configuration;
    configuration.persistentDefaultDataStore = true;
    configuration.javaScriptEnabled = true;
    configuration.notificationOrigins = grantedNotificationOrigins(platform_.defaults(), origin_);
    return configuration;
}

std::unique_ptr<platform::Window> Delegate::makeWindow() {
    platform::WindowShape shape;
    shape.contentRect = {0, 0, 1100, 760};
    shape.styleMask = platform::WindowStyleTitled | platform::WindowStyleClosable |
                      platform::WindowStyleMiniaturizable | platform::WindowStyleResizable;
    shape.backing = 2;
    shape.defer = false;
    auto window = platform_.createWindow(shape);
    window->setTitle("Corvidale");
    window->setMovableByWindowBackground(true);
    window->setMinSize({420, 480});
    window->setContentView(*web_);
    window->setFrameAutosaveName("CorvidaleMain");
    window->center();
    return window;
}

void Delegate::refuseOrigin() {
    platform_.process().writeStderr("CORVIDALE_ORIGIN must be an https URL: " + config_.originText);
    platform_.process().exit(2);
}

bool Delegate::performMenuAction(platform::MenuAction action) {
    using platform::MenuAction;
    switch (action) {
    case MenuAction::Reload:
        controllers_->shellPage.reload();
        return true;
    case MenuAction::ZoomIn:
        web_->setPageZoom(std::min(web_->pageZoom() + kZoomStep, kZoomMax));
        return true;
    case MenuAction::ZoomOut:
        web_->setPageZoom(std::max(web_->pageZoom() - kZoomStep, kZoomMin));
        return true;
    case MenuAction::ZoomReset:
        web_->setPageZoom(1.0);
        return true;
    case MenuAction::CheckForUpdates:
        controllers_->updates.checkInteractively();
        return true;
    default:
        return false;
    }
}

void Delegate::decidePolicyForNavigationAction(const platform::NavigationAction& action,
                                               platform::Completion<platform::NavigationActionPolicy> decisionHandler) {
    controllers_->navigation.decidePolicyForNavigationAction(action, std::move(decisionHandler));
}

void Delegate::decidePolicyForNavigationResponse(
    const platform::NavigationResponse& response,
    platform::Completion<platform::NavigationResponsePolicy> decisionHandler) {
    controllers_->navigation.decidePolicyForNavigationResponse(response, std::move(decisionHandler));
}

void Delegate::navigationActionDidBecomeDownload(const platform::NavigationAction& action,
                                                 platform::Download& download) {
    // Only here does the engine say that a navigation it was allowed is a download.
    if (controllers_->navigation.mayDownload(action)) {
        controllers_->downloads.adopt(download);
    } else {
        download.cancel();
    }
}

void Delegate::navigationResponseDidBecomeDownload(const platform::NavigationResponse& /*response*/,
                                                   platform::Download& download) {
    // The response's decision asked for it, past the gate.
    controllers_->downloads.adopt(download);
}

void Delegate::didFinishNavigation() {
    if (controllers_->reach.didFinishNavigation()) controllers_->downloads.pageDidFinishLoading(*web_);
}

bool Delegate::didFailNavigation(const platform::LoadFailure& failure) {
    return controllers_->reach.didFailNavigation(failure);
}

void Delegate::webContentProcessDidTerminate() { controllers_->shellPage.webContentProcessDidTerminate(); }

bool Delegate::createWebViewForNavigationAction(const platform::NavigationAction& action) {
    return controllers_->navigation.createWebViewForNavigationAction(action);
}

void Delegate::runJavaScriptAlertPanel(const std::string& message, const std::optional<platform::FrameInfo>& frame,
                                       platform::Completion<> completionHandler) {
    controllers_->dialogs.runJavaScriptAlertPanel(message, frame, std::move(completionHandler));
}

void Delegate::runJavaScriptConfirmPanel(const std::string& message, const std::optional<platform::FrameInfo>& frame,
                                         platform::Completion<bool> completionHandler) {
    controllers_->dialogs.runJavaScriptConfirmPanel(message, frame, std::move(completionHandler));
}

void Delegate::runJavaScriptTextInputPanel(const std::string& prompt, const std::optional<std::string>& defaultText,
                                           const std::optional<platform::FrameInfo>& frame,
                                           platform::Completion<std::optional<std::string>> completionHandler) {
    controllers_->dialogs.runJavaScriptTextInputPanel(prompt, defaultText, frame, std::move(completionHandler));
}

void Delegate::runOpenPanel(const platform::OpenPanelParameters& parameters,
                            platform::Completion<std::optional<std::vector<std::string>>> completionHandler) {
    controllers_->dialogs.runOpenPanel(parameters, std::move(completionHandler));
}

void Delegate::requestMediaCapturePermission(const std::string& /*securityOriginHost*/,
                                             platform::MediaCaptureType /*type*/,
                                             platform::Completion<platform::PermissionDecision> decisionHandler) {
    // The page shown decides, not the frame that asks.
    controllers_->dialogs.requestMediaCapturePermission(std::move(decisionHandler));
}

bool Delegate::printFrame(const platform::Initiator& initiator) { return controllers_->dialogs.printFrame(initiator); }

void Delegate::requestNotificationPermission(bool fromMainFrame, platform::Completion<bool> decisionHandler) {
    controllers_->notifications.requestPermission(fromMainFrame, std::move(decisionHandler));
}

bool Delegate::showNotification(const platform::PageNotification& notification) {
    return controllers_->notifications.show(notification);
}

void Delegate::notificationClosed(std::uint64_t id) { controllers_->notifications.closed(id); }

}  // namespace corvidale
