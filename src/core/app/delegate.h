#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/platform/platform.h"
#include "core/web/request_gate.h"
#include "core/web/shell_page.h"

namespace corvidale {

namespace Updater {
struct Release;
struct CheckOutcome;
struct InstalledApp;
class Installer;
}  // namespace Updater

// The one controller of the shell: application delegate, the web view's
// navigation, UI and download delegate, and the theme message handler. Lives
// for the whole process and runs on the main thread only.
class Delegate final : public platform::NavigationDelegate,
                       public platform::UIDelegate,
                       public platform::DownloadDelegate,
                       public platform::ScriptMessageHandler {
public:
    explicit Delegate(platform::Platform& platform);
    Delegate(const Delegate&) = delete;
    Delegate& operator=(const Delegate&) = delete;

    // --- Application -----------------------------------------------------
    void applicationDidFinishLaunching();
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }

    // --- View commands ---------------------------------------------------
    void reload();
    void zoomIn();
    void zoomOut();
    void zoomReset();
    // Runs the action named by a menu item's selector when the Delegate
    // handles it; answers false for actions that belong to the platform.
    bool performMenuAction(const std::string& action);

    // --- Updates ---------------------------------------------------------
    void checkForUpdates();
    void checkInteractively();
    void scheduleAutoUpdate();
    void runAutoUpdate();
    void installUpdate(const Updater::Release& release, bool automatic);
    // What installUpdate runs; the shipped installer unless replaced.
    void setInstaller(std::shared_ptr<Updater::Installer> installer) { installer_ = std::move(installer); }

    // --- Theme messages --------------------------------------------------
    void didReceiveScriptMessage(const platform::ScriptMessage& message) override;
    void applyTheme(const std::string& theme);

    // --- Navigation ------------------------------------------------------
    void decidePolicyForNavigationAction(const platform::NavigationAction& action,
                                         platform::Completion<platform::NavigationActionPolicy> decisionHandler) override;
    void decidePolicyForNavigationResponse(
        const platform::NavigationResponse& response,
        platform::Completion<platform::NavigationResponsePolicy> decisionHandler) override;
    void navigationActionDidBecomeDownload(platform::Download& download) override;
    void navigationResponseDidBecomeDownload(platform::Download& download) override;
    void didFinishNavigation() override;
    void webContentProcessDidTerminate() override;

    // --- The shell's own page ----------------------------------------------
    // Shows `page` in the window in place of the web application; its button,
    // and Reload, load `retryURL`.
    void showShellPage(const ShellPage& page, const std::string& retryURL);

    // --- Page dialogs ----------------------------------------------------
    bool createWebViewForNavigationAction(const platform::NavigationAction& action) override;
    void runJavaScriptAlertPanel(const std::string& message, platform::Completion<> completionHandler) override;
    void runJavaScriptConfirmPanel(const std::string& message, platform::Completion<bool> completionHandler) override;
    void runJavaScriptTextInputPanel(const std::string& prompt, const std::optional<std::string>& defaultText,
                                     platform::Completion<std::optional<std::string>> completionHandler) override;
    void runOpenPanel(const platform::OpenPanelParameters& parameters,
                      platform::Completion<std::optional<std::vector<std::string>>> completionHandler) override;
    void requestMediaCapturePermission(const std::string& securityOriginHost, platform::MediaCaptureType type,
                                       platform::Completion<platform::PermissionDecision> decisionHandler) override;
    bool printFrame(const platform::Initiator& initiator) override;

    // --- Downloads -------------------------------------------------------
    void decideDestination(platform::Download& download, const std::string& suggestedFilename,
                           platform::Completion<std::optional<std::string>> completionHandler) override;
    void downloadDidFinish(platform::Download& download) override;
    void downloadDidFail(platform::Download& download, const platform::Error& error) override;

    // --- Download self-test ----------------------------------------------
    void startDownloadSelfTest(platform::WebView& webView);
    [[noreturn]] void completeDownloadSelfTest(const std::string& destination);
    [[noreturn]] void failDownloadSelfTest(const std::string& errorDescription);

    // Fields, in the order the controller declares them.
    std::unique_ptr<platform::Window> window;
    std::unique_ptr<platform::WebView> web;
    std::unordered_map<platform::DownloadId, std::string> downloads;
    std::unique_ptr<platform::Timer> autoUpdateTimer;
    bool ranDownloadSelfTest = false;

private:
    void showCheckOutcome(const Updater::CheckOutcome& outcome);
    void finishInstallation(const Updater::InstalledApp& installed, bool automatic, std::exception_ptr error);

    void reportDownloadFailure(const std::string& name, const platform::Error& error);
    void revealOncePerBurst(const std::string& path);
    // Hands `url` to the browser when the page may have it opened.
    void openExternally(const std::string& url, const std::optional<platform::Initiator>& initiator,
                        const std::optional<std::string>& originHost);
    // A line in the page's console, where its developers look for why the
    // shell did not do what the page asked.
    void tellPage(const std::string& line);
    void leaveShellPage();

    platform::Platform& platform_;
    // Downloads refused a destination, with the name and the reason to report
    // when the engine tells of their end.
    std::unordered_map<platform::DownloadId, std::pair<std::string, platform::Error>> declinedDownloads_;
    std::shared_ptr<Updater::Installer> installer_;
    RequestGate gate_{platform_.mainQueue()};
    // Lines told to the page's console in the last minute.
    std::shared_ptr<unsigned> consoleLines_ = std::make_shared<unsigned>(0);
    // A download finished in the last few seconds: the folder is showing.
    bool revealBurst_ = false;
    std::uint64_t revealBurstNumber_ = 0;
    // The page's process died a short while ago: another death means a
    // reload will not help.
    bool recentTermination_ = false;
    std::uint64_t terminationNumber_ = 0;
    struct ShownShellPage {
        ShellPage page;
        std::string actionURL;
        std::string retryURL;
    };
    std::optional<ShownShellPage> shellPage_;
    // One installation at a time.
    bool installing_ = false;
    // The newest build installed since launch: the running bundle's Info.plist
    // still names the old one, and the next check must not fetch this again.
    std::optional<std::int64_t> installedBuild_;
    std::string installedVersion_;
    // Which arming of the automatic check is current; a first check left
    // over from an earlier one does not run.
    std::uint64_t autoUpdateArming_ = 0;
    // Jobs that come back later hold this weakly: they do nothing once the
    // Delegate is gone.
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

}  // namespace corvidale
