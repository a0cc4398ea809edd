#pragma once

#include <webkit/webkit.h>

#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/platform/defaults.h"
#include "core/platform/ui_delegate.h"
#include "core/platform/web_view.h"
#include "frame_reports.h"
#include "glib_ptr.h"
#include "page_notifications.h"
#include "shell_context.h"

namespace corvidale::gtk {

class DownloadCenter;

// A developer switch among the user defaults (or "-WebKitMockCaptureDevices
// YES" for one run): the engine offers a fake camera and microphone. It
// exists so that the camera and microphone permission path can be exercised
// on machines without either, where the engine would refuse getUserMedia for
// want of a device before it ever asked the shell. Read once, when a web
// view is made.
inline constexpr const char* kMockCaptureDevicesKey = "WebKitMockCaptureDevices";

// The script world that the shell's user scripts and message handlers live
// in. Page scripts run in the default world and frames other than the top
// one get no scripts of ours, so nothing but our own script can post.
inline constexpr const char* kShellScriptWorld = "corvidale";

// A WebKitWebView behind the core's WebView. It answers WebKit's signals by
// asking the navigation and UI delegates, and maps their answers back.
class GtkWebView final : public platform::WebView {
public:
    GtkWebView(ShellContext& context, DownloadCenter& downloads, const platform::Defaults& defaults,
               const platform::WebViewConfiguration& configuration);
    ~GtkWebView() override;
    GtkWebView(const GtkWebView&) = delete;
    GtkWebView& operator=(const GtkWebView&) = delete;

    void addScriptMessageHandler(const std::string& name, platform::ScriptMessageHandler& handler) override;
    void addUserScript(const platform::UserScript& script) override;
    void setNavigationDelegate(platform::NavigationDelegate* delegate) override { navigationDelegate_ = delegate; }
    void setUIDelegate(platform::UIDelegate* delegate) override { uiDelegate_ = delegate; }
    void setAllowsBackForwardNavigationGestures(bool allow) override;
    void setCustomUserAgent(const std::string& userAgent) override;
    void load(const platform::URLRequest& request) override;
    void reload() override;
    double pageZoom() const override;
    void setPageZoom(double zoom) override;
    std::string url() const override;
    void loadHTMLString(const std::string& html, const std::string& baseURL) override;
    bool loadAlternateHTMLString(const std::string& html, const std::string& unreachableURL) override;
    void evaluateJavaScript(const std::string& script, std::function<void(platform::ScriptResult)> completion) override;
    void notificationClicked(std::uint64_t id) override { notifications_->clicked(id); }
    void setNotificationOrigins(const std::vector<std::string>& origins) override { notifications_->setOrigins(origins); }

    WebKitWebView* widget() const { return view_.get(); }
    // Hands a download the engine started for this view to the navigation
    // delegate, with the navigation or response it answered that way; false
    // when it answered none so, and the download is nobody's.
    bool tellDownload(WebKitDownload* native, platform::Download& download);

private:
    struct MessageBinding {
        GtkWebView* owner;
        std::string name;
        platform::ScriptMessageHandler* handler;
        gulong signalId;
    };

    static void onScriptMessage(WebKitUserContentManager*, JSCValue* value, gpointer data);
    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                   gpointer self);
    static GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self);
    static gboolean onScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self);
    static gboolean onRunFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer self);
    static gboolean onPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request, gpointer self);
    static void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self);
    static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar*, GError*, gpointer self);
    static gboolean onPrint(WebKitWebView*, WebKitPrintOperation*, gpointer self);
    static void onWebProcessTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer self);
    static void onResponsivenessChanged(WebKitWebView*, GParamSpec*, gpointer self);
    static gboolean onUserMessage(WebKitWebView*, WebKitUserMessage* message, gpointer self);

    void connectSignals();
    gboolean decideNavigationAction(WebKitPolicyDecision* decision);
    gboolean decideNewWindowAction(WebKitPolicyDecision* decision);
    gboolean decideResponse(WebKitPolicyDecision* decision);
    platform::NavigationAction navigationActionFrom(WebKitNavigationAction* native) const;
    platform::Initiator initiatorOf(WebKitNavigationAction* native) const;
    std::optional<platform::FrameInfo> dialogFrame() const;
    std::string currentHost() const;
    // The origin of the top document now shown.
    platform::SecurityOrigin currentOrigin() const;
    guint mainResponseStatus() const;

    ShellContext& context_;
    // Released in this order after the destructor's body: the view first.
    GLibPtr<WebKitSettings> settings_;
    GLibPtr<WebKitUserContentManager> contentManager_;
    GLibPtr<WebKitWebView> view_;
    std::vector<std::unique_ptr<MessageBinding>> bindings_;
    // Whether a message from our script world can only come from the top
    // frame: true unless one of our scripts also runs in subframes.
    bool scriptsTopFrameOnly_ = true;
    bool currentLoadFailed_ = false;
    bool committedOnce_ = false;  // a document has been shown since the view was made
    std::string failedUri_;  // the URL of the last load that failed, until a load succeeds
    std::string alternateUri_;  // the URL the shell's page stands in for, until that page is shown
    platform::NavigationDelegate* navigationDelegate_ = nullptr;
    platform::UIDelegate* uiDelegate_ = nullptr;
    std::unique_ptr<PageNotifications> notifications_;
    FrameReports frames_;
    // What the delegate let through lately, by URL, newest last: the engine
    // turns some navigations it was allowed into downloads by itself (a link
    // with a download attribute), and others the delegate answered with one.
    std::deque<std::pair<std::string, platform::NavigationAction>> allowedNavigations_;
    std::deque<std::pair<std::string, platform::NavigationResponse>> downloadResponses_;
    std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
};

// "Error Domain=<domain> Code=<code> "<message>"", the way the desktop
// platform prints an error object.
std::string describeError(const GError* error);

}  // namespace corvidale::gtk
