#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "completion.h"

namespace corvidale::platform {

class ScriptMessageHandler;
class NavigationDelegate;
class UIDelegate;

struct UserScript {
    std::string source;
    bool injectAtDocumentEnd = true;
    bool forMainFrameOnly = true;
    // In the page's own world, where the page's scripts see what it changes;
    // otherwise where the backend keeps the shell's scripts apart from the
    // page's (on macOS both are the page's world).
    bool pageWorld = false;
};

struct WebViewConfiguration {
    bool persistentDefaultDataStore = false;
    bool javaScriptEnabled = false;
    struct Handler {
        std::string name;
        ScriptMessageHandler* handler = nullptr;
    };
    std::vector<Handler> scriptMessageHandlers;
    std::vector<UserScript> userScripts;
    // Origins ("https://host[:port]") whose pages may show notifications
    // without asking first.
    std::vector<std::string> notificationOrigins;
};

enum class CachePolicy { UseProtocolCachePolicy = 0, ReloadIgnoringLocalCacheData = 1 };

struct URLRequest {
    std::string url;
    CachePolicy cachePolicy = CachePolicy::UseProtocolCachePolicy;
    double timeoutSeconds = 60.0;
};

// Outcome of evaluating a script: a text result, a non-text result (neither
// set), or an error with the engine's full description.
struct ScriptResult {
    std::optional<std::string> text;
    std::optional<std::string> error;
};

class WebView {
public:
    virtual ~WebView() = default;
    virtual void setNavigationDelegate(NavigationDelegate* delegate) = 0;
    virtual void setUIDelegate(UIDelegate* delegate) = 0;
    virtual void setAllowsBackForwardNavigationGestures(bool allow) = 0;
    virtual void setCustomUserAgent(const std::string& userAgent) = 0;
    virtual void load(const URLRequest& request) = 0;
    virtual void reload() = 0;
    virtual double pageZoom() const = 0;
    virtual void setPageZoom(double zoom) = 0;
    // URL of the top-level document now shown; empty before the first load.
    virtual std::string url() const = 0;
    // Shows `html`, fetching nothing; relative references resolve against
    // `baseURL`, whose origin the page then has (none when empty).
    virtual void loadHTMLString(const std::string& html, const std::string& baseURL) = 0;
    // Shows `html` where the failed load of `unreachableURL` would have been:
    // it fetches nothing and belongs to no site, it takes that load's place in
    // the back-forward list instead of adding one, url() names
    // `unreachableURL`, and reload() loads `unreachableURL` again. Its own
    // finish is not reported to the navigation delegate. Answers whether the
    // engine could put it in that place; when it could not, the page is
    // shown as loadHTMLString(html, "") shows it, and a reload reloads the
    // page itself.
    virtual bool loadAlternateHTMLString(const std::string& html, const std::string& unreachableURL) = 0;
    virtual void evaluateJavaScript(const std::string& script, std::function<void(ScriptResult)> completion) = 0;
    // Tells the page that the user clicked its notification `id` (one the UI
    // delegate was shown), which fires the notification's click event.
    virtual void notificationClicked(std::uint64_t id) = 0;
    // From now on, pages of these origins may show notifications without
    // asking, also in a content process started later.
    virtual void setNotificationOrigins(const std::vector<std::string>& origins) = 0;
};

// --- What the engine asks of its delegates -------------------------------

enum class NavigationType {
    LinkActivated = 0,
    FormSubmitted = 1,
    BackForward = 2,
    Reload = 3,
    FormResubmitted = 4,
    Other = -1,
};

// An origin as the engine names a document's: scheme, host and port, the way
// WKSecurityOrigin does. An opaque origin (a sandboxed frame, a data: document)
// has an empty protocol and host.
struct SecurityOrigin {
    std::string protocol;
    std::string host;
    int port = 0;  // 0: the scheme's default
};

// A frame as the engine tells of it (WKFrameInfo): whether it is the top one,
// and the origin of the document it shows.
struct FrameInfo {
    bool isMainFrame = false;
    SecurityOrigin securityOrigin;
};

// Who is behind a request, as far as the engine tells.
struct Initiator {
    // The user's click or key press in the asking frame that led to it, by a
    // number the backend gives each one; nullopt when none did.
    std::optional<std::uint64_t> userGesture;
    // The frame that asked; nullopt when the engine did not tell which.
    std::optional<FrameInfo> frame;
    // False where the engine tells nothing of the user's actions (WKWebView):
    // userGesture is then always nullopt and proves nothing.
    bool knowsUserGestures = true;
};

struct NavigationAction {
    NavigationType type = NavigationType::Other;
    std::optional<std::string> url;  // nullopt when the request has no URL
    bool shouldPerformDownload = false;
    // nullopt where the engine tells nothing of who asked.
    std::optional<Initiator> initiator;
};

enum class NavigationActionPolicy { Cancel = 0, Allow = 1, Download = 2 };

struct NavigationResponse {
    bool isHTTP = false;
    std::optional<std::string> contentDisposition;  // the header's value, when present
    bool canShowMIMEType = true;
    std::optional<std::string> url;
    bool forMainFrame = true;
};

enum class NavigationResponsePolicy { Cancel = 0, Allow = 1, Download = 2 };

struct ScriptMessage {
    std::string name;
    bool fromMainFrame = false;
    SecurityOrigin securityOrigin;
    std::optional<std::string> textBody;  // nullopt when the body is not a text
};

struct OpenPanelParameters {
    bool allowsDirectories = false;
    bool allowsMultipleSelection = false;
};

enum class MediaCaptureType { Camera = 0, Microphone = 1, CameraAndMicrophone = 2 };
enum class PermissionDecision { Prompt = 0, Grant = 1, Deny = 2 };

// A notification a page shows, by the id the engine gave it.
struct PageNotification {
    std::uint64_t id = 0;
    std::string title;
    std::string body;
    std::string tag;  // empty when the page gave none
};

struct Error {
    std::string localizedDescription;
    // Domain, code and details, as the platform prints an error object.
    std::string fullDescription;
};

// Why a main-frame navigation failed, in the engine's own terms: the error's
// domain ("NSURLErrorDomain", "g-io-error-quark", ...) and code.
struct LoadFailure {
    std::string url;
    std::string domain;
    long code = 0;
    std::string fullDescription;
};

// An errno value as the platform tells it, about the item at `path` when
// there is one.
inline Error posixError(int code, const std::string& path = {}) {
    const std::string text = std::strerror(code);
    std::string full = "Error Domain=NSPOSIXErrorDomain Code=" + std::to_string(code) + " \"" + text + "\"";
    if (path.empty()) return {text, full};
    return {text + ": " + path, full + " UserInfo={NSFilePath=" + path + "}"};
}

using DownloadId = std::uint64_t;

class DownloadDelegate;

// A running download. The backend gives each one an id unique for the life of
// the process; the id is the download's identity.
class Download {
public:
    virtual ~Download() = default;
    virtual DownloadId id() const = 0;
    virtual void setDelegate(DownloadDelegate* delegate) = 0;
    // The length the server declared for the body, when it declared one the
    // engine writes as is (no content coding), and the bytes written so far.
    virtual std::optional<std::uint64_t> expectedLength() const { return std::nullopt; }
    virtual std::uint64_t receivedLength() const { return 0; }
    // Stops it; the engine then reports it failed, or nothing if it had not
    // asked for a destination yet.
    virtual void cancel() = 0;
};

class NavigationDelegate {
public:
    virtual ~NavigationDelegate() = default;
    virtual void decidePolicyForNavigationAction(const NavigationAction& action,
                                                 Completion<NavigationActionPolicy> decisionHandler) = 0;
    virtual void decidePolicyForNavigationResponse(const NavigationResponse& response,
                                                   Completion<NavigationResponsePolicy> decisionHandler) = 0;
    // `action` or `response` is the one the delegate answered; a download the
    // delegate is not told of is cancelled by the backend.
    virtual void navigationActionDidBecomeDownload(const NavigationAction& action, Download& download) = 0;
    virtual void navigationResponseDidBecomeDownload(const NavigationResponse& response, Download& download) = 0;
    virtual void didFinishNavigation() = 0;
    // The main frame's navigation failed, before or after it committed.
    // Answers whether the delegate showed a page of its own in its place;
    // the engine then shows no error page.
    virtual bool didFailNavigation(const LoadFailure& failure) = 0;
    // The engine's process that ran the page is gone (it crashed or the
    // system ended it); the view shows nothing live until it loads again.
    virtual void webContentProcessDidTerminate() = 0;
};

class UIDelegate {
public:
    virtual ~UIDelegate() = default;
    // Answers whether a web view was created; the shell never creates one.
    virtual bool createWebViewForNavigationAction(const NavigationAction& action) = 0;
    // `frame` is the frame that asked, nullopt when the engine did not tell.
    virtual void runJavaScriptAlertPanel(const std::string& message, const std::optional<FrameInfo>& frame,
                                         Completion<> completionHandler) = 0;
    virtual void runJavaScriptConfirmPanel(const std::string& message, const std::optional<FrameInfo>& frame,
                                           Completion<bool> completionHandler) = 0;
    virtual void runJavaScriptTextInputPanel(const std::string& prompt, const std::optional<std::string>& defaultText,
                                             const std::optional<FrameInfo>& frame,
                                             Completion<std::optional<std::string>> completionHandler) = 0;
    virtual void runOpenPanel(const OpenPanelParameters& parameters,
                              Completion<std::optional<std::vector<std::string>>> completionHandler) = 0;
    virtual void requestMediaCapturePermission(const std::string& securityOriginHost, MediaCaptureType type,
                                               Completion<PermissionDecision> decisionHandler) = 0;
    // window.print(): answers whether the engine may go on to its print dialog.
    virtual bool printFrame(const Initiator& initiator) = 0;
    // Notification.requestPermission(); `fromMainFrame` is whether the top
    // frame's document asked, as far as the engine tells.
    virtual void requestNotificationPermission(bool fromMainFrame, Completion<bool> decisionHandler) = 0;
    // Answers whether it went to the desktop: one that was dropped is the
    // backend's to forget at once, however many a page makes.
    virtual bool showNotification(const PageNotification& notification) = 0;
    // The page closed notification `id`, or the engine withdrew it.
    virtual void notificationClosed(std::uint64_t id) = 0;
};

class DownloadDelegate {
public:
    virtual ~DownloadDelegate() = default;
    // Answers the destination path, or nullopt to decline the download.
    virtual void decideDestination(Download& download, const std::string& suggestedFilename,
                                   Completion<std::optional<std::string>> completionHandler) = 0;
    virtual void downloadDidFinish(Download& download) = 0;
    virtual void downloadDidFail(Download& download, const Error& error) = 0;
};

class ScriptMessageHandler {
public:
    virtual ~ScriptMessageHandler() = default;
    virtual void didReceiveScriptMessage(const ScriptMessage& message) = 0;
};

}  // namespace corvidale::platform
