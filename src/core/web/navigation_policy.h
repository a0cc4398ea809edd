#pragma once

#include <array>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "core/platform/navigation.h"
#include "core/platform/workspace.h"
#include "page_console.h"
#include "request_gate.h"
#include "shell_page_controller.h"

namespace corvidale {

// Hosts besides the origin's that stay in the window, so that sign-in with
// Google and Apple accounts can run inside it.
inline constexpr std::array<std::string_view, 9> kSignInHosts = {
    "accounts.google.com", "accounts.youtube.com", "myaccount.google.com",
    "ssl.gstatic.com",     "www.google.com",       "appleid.apple.com",
    "idmsa.apple.com",     "appleid.cdn-apple.com", "iforgot.apple.com",
};

struct ActionDecision {
    platform::NavigationActionPolicy policy = platform::NavigationActionPolicy::Allow;
    // Set when the URL is to be handed to the default browser.
    std::optional<std::string> openExternally;
};

// `origin` is the configured origin, nullopt if it is none. Links stay in the
// window for its host, whatever their scheme and port.
ActionDecision decideNavigationAction(const platform::NavigationAction& action, const AppOrigin& origin);

platform::NavigationResponsePolicy decideNavigationResponse(const platform::NavigationResponse& response);

// Only web and mail links leave the shell for another application: handing
// file:, smb: or a custom scheme to the system's default handler can run code.
bool isSafeToOpenExternally(std::string_view url);

// Which navigations stay in the window, which go to the browser and which
// become downloads, with what the page may ask of the desktop on top.
class NavigationPolicy {
public:
    // `origin` as for decideNavigationAction.
    NavigationPolicy(platform::Workspace& workspace, const AppOrigin& origin, RequestGate& gate,
                     PageConsole& console, ShellPageController& shellPage);

    void decidePolicyForNavigationAction(const platform::NavigationAction& action,
                                         platform::Completion<platform::NavigationActionPolicy> decisionHandler);
    void decidePolicyForNavigationResponse(const platform::NavigationResponse& response,
                                           platform::Completion<platform::NavigationResponsePolicy> decisionHandler);
    // The shell never opens a second window: what a page asks to open in one
    // goes to the browser, when it may. Answers false, no web view made.
    bool createWebViewForNavigationAction(const platform::NavigationAction& action);
    // A navigation this policy let through turned into a download: whether
    // it may go on. A refusal is named in the page's console.
    bool mayDownload(const platform::NavigationAction& action);

private:
    // Who asked for the navigation a response answers: the engine tells it of
    // the navigation, not of its response.
    std::optional<platform::Initiator> initiatorOf(const platform::NavigationResponse& response);
    // Hands `url` to the browser when the page may have it opened.
    void openExternally(const std::string& url, const std::optional<platform::Initiator>& initiator);

    platform::Workspace& workspace_;
    const AppOrigin& origin_;
    RequestGate& gate_;
    PageConsole& console_;
    ShellPageController& shellPage_;
    // The navigations let through lately, newest last, by URL without its
    // fragment; a page that starts thousands pushes out only its own.
    std::deque<std::pair<std::string, std::optional<platform::Initiator>>> recentNavigations_;
};

}  // namespace corvidale
