#include "user_agent.h"

#include <memory>

#include "core/platform/web_view.h"

namespace corvidale {

std::string defaultUserAgent(platform::Platform& platform) {
    if (auto known = platform.engineDefaultUserAgent()) return *known;

    // A throw-away web view with the default configuration: the shell's own
    // script and handler must not take part.
    auto probe = platform.createWebView(platform::WebViewConfiguration{});
    if (!probe) return {};
    // Shared with the completion so that a late answer, after the probe and
    // this frame are gone, lands harmlessly.
    struct Answer {
        std::string text;
        bool arrived = false;
    };
    auto answer = std::make_shared<Answer>();
    probe->evaluateJavaScript("navigator.userAgent", [answer](platform::ScriptResult result) {
        if (answer->arrived) return;
        answer->text = result.text.value_or(std::string());
        answer->arrived = true;
    });
    platform.mainQueue().runUntil([answer] { return answer->arrived; }, kUserAgentWaitSeconds);
    probe.reset();
    std::string text = answer->arrived ? answer->text : std::string();
    answer->arrived = true;  // anything later is discarded
    return text;
}

std::string composeUserAgent(platform::Platform& platform, const std::string& buildStamp) {
    return defaultUserAgent(platform) + " CorvidaleShell/" + platform.userAgentPlatformWord() + "-" + buildStamp;
}

}  // namespace corvidale
