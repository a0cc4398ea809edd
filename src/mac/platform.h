#pragma once

#include "activity.h"
#include "application.h"
#include "bundle.h"
#include "core/platform/platform.h"
#include "core/platform/web_view.h"
#include "defaults.h"
#include "dialogs.h"
#include "file_manager.h"
#include "main_queue.h"
#include "notification_center.h"
#include "process.h"
#include "url_session.h"
#include "workspace.h"

namespace corvidale::mac {

// AppKit, WebKit and Foundation behind the core's seam: one per process,
// made by main() and never destroyed.
class MacPlatform final : public platform::Platform {
public:
    platform::Bundle& bundle() override { return bundle_; }
    platform::Environment& environment() override { return environment_; }
    platform::Defaults& defaults() override { return defaults_; }
    platform::Application& application() override { return application_; }
    platform::Workspace& workspace() override { return workspace_; }
    platform::Dialogs& dialogs() override { return dialogs_; }
    platform::MainQueue& mainQueue() override { return mainQueue_; }
    platform::Process& process() override { return process_; }
    platform::URLSession& urlSession() override { return urlSession_; }
    platform::FileManager& fileManager() override { return fileManager_; }
    platform::NotificationCenter& notificationCenter() override { return notifications_; }
    platform::LauncherProgress& launcherProgress() override { return dock_; }
    // WKWebView on macOS 13 gives pages no Notification API: the shell's own stands in.
    bool webViewHasNotificationAPI() const override { return false; }

    // A global dispatch queue: its threads may block on a transfer or a tool.
    void runInBackground(std::function<void()> job) override;

    std::unique_ptr<platform::WebView> createWebView(const platform::WebViewConfiguration& configuration) override;
    std::unique_ptr<platform::Window> createWindow(const platform::WindowShape& shape) override;
    std::unique_ptr<platform::NetworkWatch> watchNetwork(std::function<void(bool available)> changed) override;
    // WebKit tells its default agent only to a page's scripts, so the core
    // asks a throw-away web view.
    std::optional<std::string> engineDefaultUserAgent() override { return std::nullopt; }
    std::string userAgentPlatformWord() const override { return "mac"; }

private:
    MainBundle bundle_;
    ProcessEnvironment environment_;
    StandardDefaults defaults_;
    MacApplication application_;
    MacWorkspace workspace_;
    MacDialogs dialogs_;
    MainDispatchQueue mainQueue_;
    StandardProcess process_;
    MacURLSession urlSession_;
    DefaultFileManager fileManager_;
    MacNotificationCenter notifications_;
    DockProgress dock_;
};

}  // namespace corvidale::mac
