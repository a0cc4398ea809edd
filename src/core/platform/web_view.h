#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "request.h"

namespace corvidale::platform {

class NavigationDelegate;
class UIDelegate;

struct ScriptMessage {
    std::string name;
    bool fromMainFrame = false;
    SecurityOrigin securityOrigin;
    std::optional<std::string> textBody;  // nullopt when the body is not a text
};

class ScriptMessageHandler {
public:
    virtual ~ScriptMessageHandler() = default;
    virtual void didReceiveScriptMessage(const ScriptMessage& message) = 0;
};

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
    // Origins ("https://host[:port]") whose pages may show notifications
    // without asking first.
    std::vector<std::string> notificationOrigins;
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
    // What pages post to window.webkit.messageHandlers.`name` goes to
    // `handler`, which outlives the web view. A name given twice keeps its
    // first handler.
    virtual void addScriptMessageHandler(const std::string& name, ScriptMessageHandler& handler) = 0;
    // Runs `script` in the documents loaded from now on.
    virtual void addUserScript(const UserScript& script) = 0;
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

}  // namespace corvidale::platform
