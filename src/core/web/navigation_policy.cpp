#include "navigation_policy.h"

#include <algorithm>
#include <cctype>

#include "core/util/url.h"

namespace corvidale {
namespace {

using platform::NavigationActionPolicy;
using platform::NavigationResponsePolicy;

// Navigations remembered for the responses that answer them: enough for the
// frames of a busy page, and a response comes within moments of its request.
constexpr std::size_t kRememberedNavigations = 64;

std::string withoutFragment(const std::string& url) { return url.substr(0, url.find('#')); }

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

}  // namespace

ActionDecision decideNavigationAction(const platform::NavigationAction& action, const AppOrigin& origin) {
    if (action.shouldPerformDownload) return {NavigationActionPolicy::Download, std::nullopt};
    if (action.type != platform::NavigationType::LinkActivated) return {NavigationActionPolicy::Allow, std::nullopt};
    if (!action.url) return {NavigationActionPolicy::Allow, std::nullopt};
    const auto parsed = Url::parse(*action.url);
    const auto host = parsed ? parsed->host() : std::nullopt;
    if (!host) {
        // The engine may read a host where our parser reads none (characters
        // libcurl refuses, a URL past its length limit): such a link is
        // foreign, never shown in the window.
        if (hasAuthority(*action.url)) return {NavigationActionPolicy::Cancel, *action.url};
        // The engine cannot show a mail link, and following it would unload
        // the application; the mail application can.
        if (parsed && parsed->scheme() == "mailto") return {NavigationActionPolicy::Cancel, *action.url};
        return {NavigationActionPolicy::Allow, std::nullopt};
    }
    if (origin.ownsHost(*host)) return {NavigationActionPolicy::Allow, std::nullopt};
    if (std::find(kSignInHosts.begin(), kSignInHosts.end(), *host) != kSignInHosts.end()) {
        return {NavigationActionPolicy::Allow, std::nullopt};
    }
    return {NavigationActionPolicy::Cancel, *action.url};
}

NavigationResponsePolicy decideNavigationResponse(const platform::NavigationResponse& response) {
    const std::string disposition = response.isHTTP ? response.contentDisposition.value_or("") : "";
    if (!response.canShowMIMEType) return NavigationResponsePolicy::Download;
    if (startsWithIgnoringCase(disposition, "attachment")) return NavigationResponsePolicy::Download;
    return NavigationResponsePolicy::Allow;
}

bool isSafeToOpenExternally(std::string_view url) {
    const auto parsed = Url::parse(url);
    if (!parsed) return false;
    const auto& scheme = parsed->scheme();
    if (scheme == "mailto") return true;
    return (scheme == "http" || scheme == "https") && parsed->host().has_value();
}

NavigationPolicy::NavigationPolicy(platform::Workspace& workspace, const AppOrigin& origin, RequestGate& gate,
                                   PageConsole& console, ShellPageController& shellPage)
    : workspace_(workspace),
      origin_(origin),
      gate_(gate),
      console_(console),
      shellPage_(shellPage) {}

void NavigationPolicy::decidePolicyForNavigationAction(const platform::NavigationAction& action,
                                                       platform::Completion<NavigationActionPolicy> decisionHandler) {
    if (shellPage_.follow(action)) {
        decisionHandler(NavigationActionPolicy::Cancel);
        return;
    }
    const auto decision = decideNavigationAction(action, origin_);
    if (decision.openExternally && isSafeToOpenExternally(*decision.openExternally)) {
        openExternally(*decision.openExternally, action.initiator);
    }
    if (decision.policy != NavigationActionPolicy::Cancel && action.url) {
        if (recentNavigations_.size() == kRememberedNavigations) recentNavigations_.pop_front();
        recentNavigations_.emplace_back(withoutFragment(*action.url), action.initiator);
    }
    decisionHandler(decision.policy);
}

bool NavigationPolicy::createWebViewForNavigationAction(const platform::NavigationAction& action) {
    if (action.url && isSafeToOpenExternally(*action.url)) openExternally(*action.url, action.initiator);
    return false;
}

void NavigationPolicy::openExternally(const std::string& url, const std::optional<platform::Initiator>& initiator) {
    const auto verdict = gate_.admitExternalOpen(initiator);
    if (verdict == GateVerdict::Allow) {
        workspace_.openURL(url);
    } else {
        console_.warn(refusalMessage(verdict, "open", url));
    }
}

void NavigationPolicy::decidePolicyForNavigationResponse(
    const platform::NavigationResponse& response, platform::Completion<NavigationResponsePolicy> decisionHandler) {
    auto policy = decideNavigationResponse(response);
    const auto initiator = initiatorOf(response);
    if (policy == NavigationResponsePolicy::Download) {
        const auto verdict = gate_.admitDownload(initiator, response.forMainFrame);
        if (verdict != GateVerdict::Allow) {
            console_.warn(refusalMessage(verdict, "download", response.url.value_or("")));
            policy = NavigationResponsePolicy::Cancel;
        }
    }
    decisionHandler(policy);
}

std::optional<platform::Initiator> NavigationPolicy::initiatorOf(const platform::NavigationResponse& response) {
    const std::string url = withoutFragment(response.url.value_or(""));
    for (auto entry = recentNavigations_.rbegin(); entry != recentNavigations_.rend(); ++entry) {
        if (entry->first != url) continue;
        auto initiator = entry->second;
        recentNavigations_.erase(std::next(entry).base());
        return initiator;
    }
    // Not one this policy let through: nobody the shell can name asked.
    return platform::Initiator{};
}

bool NavigationPolicy::mayDownload(const platform::NavigationAction& action) {
    const auto verdict = gate_.admitDownload(action.initiator, false);
    if (verdict != GateVerdict::Allow) console_.warn(refusalMessage(verdict, "download", action.url.value_or("")));
    return verdict == GateVerdict::Allow;
}

}  // namespace corvidale
