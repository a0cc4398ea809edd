#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "core/platform/web_view.h"
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

// `originHost` is the host of the configured origin in the engine's form
// (Url::canonicalHost), nullopt if it has none.
ActionDecision decideNavigationAction(const platform::NavigationAction& action,
                                      const std::optional<std::string>& originHost);

platform::NavigationResponsePolicy decideNavigationResponse(const platform::NavigationResponse& response);

// Only web and mail links leave the shell for another application: handing
// file:, smb: or a custom scheme to the system's default handler can run code.
bool isSafeToOpenExternally(std::string_view url);

// Which navigations stay in the window, which go to the browser and which
// become downloads, with what the page may ask of the desktop on top.
class NavigationPolicy {
public:
    // `originHost` as for decideNavigationAction.
    NavigationPolicy(platform::Workspace& workspace, std::optional<std::string> originHost, RequestGate& gate,
                     PageConsole& console, ShellPageController& shellPage);

    void decidePolicyForNavigationAction(const platform::NavigationAction& action,
                                         platform::Completion<platform::NavigationActionPolicy> decisionHandler);
    void decidePolicyForNavigationResponse(const platform::NavigationResponse& response,
                                           platform::Completion<platform::NavigationResponsePolicy> decisionHandler);
    // The shell never opens a second window: what a page asks to open in one
    // goes to the browser, when it may. Answers false, no web view made.
    bool createWebViewForNavigationAction(const platform::NavigationAction& action);

private:
    // Hands `url` to the browser when the page may have it opened.
    void openExternally(const std::string& url, const std::optional<platform::Initiator>& initiator);

    platform::Workspace& workspace_;
    std::optional<std::string> originHost_;
    RequestGate& gate_;
    PageConsole& console_;
    ShellPageController& shellPage_;
};

}  // namespace corvidale
