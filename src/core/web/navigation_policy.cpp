#include "navigation_policy.h"

#include <algorithm>
#include <cctype>

#include "core/app/delegate.h"
#include "core/app/launch_config.h"
#include "core/util/url.h"

namespace corvidale {
namespace {

using platform::NavigationActionPolicy;
using platform::NavigationResponsePolicy;

constexpr std::string_view kDownloadSelfTestKey = "downloadSelfTest";
constexpr unsigned kConsoleLinesPerMinute = 20;

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

}  // namespace

ActionDecision decideNavigationAction(const platform::NavigationAction& action,
                                      const std::optional<std::string>& originHost) {
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
    if (originHost && *originHost == *host) return {NavigationActionPolicy::Allow, std::nullopt};
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

void Delegate::decidePolicyForNavigationAction(const platform::NavigationAction& action,
                                               platform::Completion<NavigationActionPolicy> decisionHandler) {
    if (shellPage_ && action.url == shellPage_->actionURL) {
        decisionHandler(NavigationActionPolicy::Cancel);
        // Not from inside the engine's question: it is still busy with this navigation.
        platform_.mainQueue().post([this, alive = std::weak_ptr<int>(lifetime_), action = shellPage_->actionURL] {
            if (alive.lock() && shellPage_ && shellPage_->actionURL == action) leaveShellPage();
        });
        return;
    }
    const auto originHost = appOrigin(platform_).canonicalHost();
    const auto decision = decideNavigationAction(action, originHost);
    if (decision.openExternally && isSafeToOpenExternally(*decision.openExternally)) {
        openExternally(*decision.openExternally, action.initiator, originHost);
    }
    decisionHandler(decision.policy);
}

bool Delegate::createWebViewForNavigationAction(const platform::NavigationAction& action) {
    if (action.url && isSafeToOpenExternally(*action.url)) {
        openExternally(*action.url, action.initiator, appOrigin(platform_).canonicalHost());
    }
    return false;
}

void Delegate::openExternally(const std::string& url, const std::optional<platform::Initiator>& initiator,
                              const std::optional<std::string>& originHost) {
    const auto verdict = gate_.admitExternalOpen(initiator, originHost);
    if (verdict == GateVerdict::Allow) {
        platform_.workspace().openURL(url);
    } else {
        tellPage(refusalMessage(verdict, "open", url));
    }
}

void Delegate::decidePolicyForNavigationResponse(const platform::NavigationResponse& response,
                                                 platform::Completion<NavigationResponsePolicy> decisionHandler) {
    auto policy = decideNavigationResponse(response);
    if (policy == NavigationResponsePolicy::Download) {
        const auto verdict = gate_.admitDownload(response, appOrigin(platform_).canonicalHost());
        if (verdict != GateVerdict::Allow) {
            tellPage(refusalMessage(verdict, "download", response.url.value_or("")));
            policy = NavigationResponsePolicy::Cancel;
        }
    }
    decisionHandler(policy);
}

void Delegate::tellPage(const std::string& line) {
    // A page that asks thousands of times is told why a few times, instead of
    // having a script queued for each.
    if (!web || *consoleLines_ >= kConsoleLinesPerMinute) return;
    ++*consoleLines_;
    platform_.mainQueue().after(60.0, [lines = std::weak_ptr<unsigned>(consoleLines_)] {
        if (auto left = lines.lock()) --*left;
    });
    web->evaluateJavaScript("console.warn(" + javaScriptString(line) + ")", {});
}

void Delegate::navigationActionDidBecomeDownload(platform::Download& download) { download.setDelegate(this); }

void Delegate::navigationResponseDidBecomeDownload(platform::Download& download) { download.setDelegate(this); }

void Delegate::didFinishNavigation() {
    if (!platform_.defaults().boolean(kDownloadSelfTestKey)) return;
    if (ranDownloadSelfTest) return;
    ranDownloadSelfTest = true;
    startDownloadSelfTest(*web);
}

}  // namespace corvidale
