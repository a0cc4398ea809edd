#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "core/platform/web_view.h"

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

}  // namespace corvidale
