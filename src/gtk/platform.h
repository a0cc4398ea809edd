#pragma once

#include <gtk/gtk.h>

#include <map>
#include <memory>
#include <string>

#include "application.h"
#include "bundle.h"
#include "core/platform/platform.h"
#include "core/platform/web_view.h"
#include "curl/url_session.h"
#include "defaults.h"
#include "dialogs.h"
#include "downloads.h"
#include "file_manager.h"
#include "launcher_entry.h"
#include "notifications.h"
#include "shell_context.h"
#include "main_queue.h"
#include "process.h"
#include "workspace.h"

namespace corvidale::gtk {

// The GTK and WebKitGTK platform: one per process, made by main() before the
// application runs and never destroyed.
class GtkPlatform final : public platform::Platform {
public:
    explicit GtkPlatform(std::map<std::string, std::string> argumentDomain);
    GtkPlatform(const GtkPlatform&) = delete;
    GtkPlatform& operator=(const GtkPlatform&) = delete;

    // Before activation: the application the windows belong to.
    void attach(GtkApplication* application);
    // At activation: the controller that answers for the shell.
    void setDelegate(platform::ApplicationDelegate* delegate) { context_.delegate = delegate; }
    platform::ApplicationDelegate* delegate() const { return context_.delegate; }
    GtkWindow* mainWindow() const { return context_.mainWindow; }

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
    platform::LauncherProgress& launcherProgress() override { return launcher_; }
    void runInBackground(std::function<void()> job) override;

    std::unique_ptr<platform::WebView> createWebView(const platform::WebViewConfiguration& configuration) override;
    std::unique_ptr<platform::Window> createWindow(const platform::WindowShape& shape) override;
    std::unique_ptr<platform::NetworkWatch> watchNetwork(std::function<void(bool available)> changed) override;
    std::optional<std::string> engineDefaultUserAgent() override;
    // WebKitGTK writes "<destination>.wkdownload" and renames it at the end.
    std::string downloadTemporarySuffix() const override { return ".wkdownload"; }
    std::string userAgentPlatformWord() const override { return "linux"; }

private:
    static void onWindowRemoved(GtkApplication*, GtkWindow*, gpointer self);

    ShellContext context_;
    GtkBundle bundle_;
    ProcessEnvironment environment_;
    StandardProcess process_;
    KeyFileDefaults defaults_;
    GtkShellApplication application_;
    DesktopWorkspace workspace_;
    GtkDialogs dialogs_;
    GLibMainQueue mainQueue_;
    curl::CurlURLSession urlSession_;
    LocalFileManager fileManager_;
    DownloadCenter downloads_;
    GtkNotificationCenter notifications_{context_};
    LauncherEntry launcher_{bundle_};
};

}  // namespace corvidale::gtk
