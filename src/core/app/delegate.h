#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/app/launch_config.h"
#include "core/platform/application_delegate.h"
#include "core/platform/platform.h"
#include "core/platform/ui_delegate.h"
#include "core/platform/web_view.h"
#include "core/web/deep_link.h"

namespace corvidale {

// The application's delegate and the web view's navigation and UI delegate:
// it builds the window at launch, wires the controllers that decide, and hands
// each of the engine's questions to the one that owns the answer. Lives for
// the whole process and runs on the main thread only.
class Delegate final : public platform::ApplicationDelegate,
                       public platform::NavigationDelegate,
                       public platform::UIDelegate {
public:
    explicit Delegate(platform::Platform& platform);
    ~Delegate() override;
    Delegate(const Delegate&) = delete;
    Delegate& operator=(const Delegate&) = delete;

    // --- Application -----------------------------------------------------
    void applicationDidFinishLaunching() override;
    bool applicationShouldTerminateAfterLastWindowClosed() const override { return true; }
    // Before launch the last good link is the first page, after it the
    // window shows it and comes forward. Refused links change nothing.
    void openURLs(const std::vector<std::string>& urls) override;
    // Reload, the zoom steps and the update check.
    bool performMenuAction(platform::MenuAction action) override;

    // --- Navigation ------------------------------------------------------
    void decidePolicyForNavigationAction(const platform::NavigationAction& action,
                                         platform::Completion<platform::NavigationActionPolicy> decisionHandler) override;
    void decidePolicyForNavigationResponse(
        const platform::NavigationResponse& response,
        platform::Completion<platform::NavigationResponsePolicy> decisionHandler) override;
    void navigationActionDidBecomeDownload(const platform::NavigationAction& action,
                                           platform::Download& download) override;
    void navigationResponseDidBecomeDownload(const platform::NavigationResponse& response,
                                             platform::Download& download) override;
    void didFinishNavigation() override;
    bool didFailNavigation(const platform::LoadFailure& failure) override;
    void webContentProcessDidTerminate() override;

    // --- Page dialogs ----------------------------------------------------
    bool createWebViewForNavigationAction(const platform::NavigationAction& action) override;
    void runJavaScriptAlertPanel(const std::string& message, const std::optional<platform::FrameInfo>& frame,
                                 platform::Completion<> completionHandler) override;
    void runJavaScriptConfirmPanel(const std::string& message, const std::optional<platform::FrameInfo>& frame,
                                   platform::Completion<bool> completionHandler) override;
    void runJavaScriptTextInputPanel(const std::string& prompt, const std::optional<std::string>& defaultText,
                                     const std::optional<platform::FrameInfo>& frame,
                                     platform::Completion<std::optional<std::string>> completionHandler) override;
    void runOpenPanel(const platform::OpenPanelParameters& parameters,
                      platform::Completion<std::optional<std::vector<std::string>>> completionHandler) override;
    void requestMediaCapturePermission(const std::string& securityOriginHost, platform::MediaCaptureType type,
                                       platform::Completion<platform::PermissionDecision> decisionHandler) override;
    bool printFrame(const platform::Initiator& initiator) override;
    void requestNotificationPermission(bool fromMainFrame, platform::Completion<bool> decisionHandler) override;
    bool showNotification(const platform::PageNotification& notification) override;
    void notificationClosed(std::uint64_t id) override;

private:
    // The controllers of the window and its page, made once both exist.
    struct Controllers;

    platform::WebViewConfiguration webViewConfiguration() const;
    // The window, set up around the web view and not shown yet.
    std::unique_ptr<platform::Window> makeWindow();
    [[noreturn]] void refuseOrigin();

    platform::Platform& platform_;
    const LaunchConfig config_;
    // What every controller asks "is this the application's own?"; owns
    // nothing when the configuration names no origin.
    const AppOrigin origin_;
    // Links come from the system before launch too; they need no window.
    DeepLinkController links_;
    std::optional<std::string> startURL_;
    // Before the web view, so that it goes after it: the view's message
    // handlers are among them.
    std::unique_ptr<Controllers> controllers_;
    std::unique_ptr<platform::WebView> web_;
    std::unique_ptr<platform::Window> window_;
};

}  // namespace corvidale
