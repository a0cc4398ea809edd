#include "request_gate.h"

#include <nlohmann/json.hpp>

#include "core/web/page_dialogs.h"

namespace corvidale {
namespace {

constexpr double kAllowanceSeconds = 60.0;
// A page may ask for a URL of megabytes; the console needs its start only.
constexpr std::size_t kShownURLCharacters = 200;

bool fromOwnSite(const platform::Initiator& initiator, const std::optional<std::string>& originHost) {
    return initiator.frameHost && originHost && *initiator.frameHost == *originHost;
}

}  // namespace

GateVerdict RequestGate::admitExternalOpen(const std::optional<platform::Initiator>& initiator,
                                           const std::optional<std::string>& originHost) {
    if (!initiator) return GateVerdict::Allow;
    // The engine counts a click as a gesture for everything its handler and
    // the timers it starts ask for; the user asked for one window.
    if (initiator->userGesture && initiator->userGesture != lastGestureOpened_) {
        lastGestureOpened_ = initiator->userGesture;
        return GateVerdict::Allow;
    }
    if (!fromOwnSite(*initiator, originHost)) return GateVerdict::ForeignFrame;
    if (*unrequestedOpens_ >= kUnrequestedOpensPerMinute) return GateVerdict::TooMany;
    ++*unrequestedOpens_;
    queue_.after(kAllowanceSeconds, [count = std::weak_ptr<unsigned>(unrequestedOpens_)] {
        if (auto left = count.lock()) --*left;
    });
    return GateVerdict::Allow;
}

GateVerdict RequestGate::admitPrint(const platform::Initiator& initiator) {
    // A print dialog that comes back after every Cancel keeps the user from
    // the window: each print takes an action of its own.
    if (!initiator.userGesture || initiator.userGesture == lastGesturePrinted_) return GateVerdict::NoGesture;
    lastGesturePrinted_ = initiator.userGesture;
    return GateVerdict::Allow;
}

GateVerdict RequestGate::admitDownload(const platform::NavigationResponse& response,
                                       const std::optional<std::string>& originHost) const {
    // The top document is the application's, or one the user went to.
    if (!response.initiator || response.forMainFrame || response.initiator->userGesture) return GateVerdict::Allow;
    return fromOwnSite(*response.initiator, originHost) ? GateVerdict::Allow : GateVerdict::ForeignFrame;
}

std::string refusalMessage(GateVerdict verdict, const std::string& kind, const std::string& url) {
    const std::string shown = pageDialogText(url, kShownURLCharacters);
    std::string what;
    if (kind == "print") {
        what = "Corvidale did not print";
    } else {
        what = "Corvidale did not " + kind + " " + shown;
    }
    switch (verdict) {
    case GateVerdict::ForeignFrame:
        return what + ": a frame of another site asked for it without a click or key press.";
    case GateVerdict::TooMany:
        return what + ": more than " + std::to_string(kUnrequestedOpensPerMinute) +
               " windows a minute were asked for without a click or key press.";
    case GateVerdict::NoGesture:
        return what + ": that takes a click or key press of its own.";
    case GateVerdict::Allow:
        break;
    }
    return what + ".";
}

std::string javaScriptString(const std::string& text) {
    // JSON strings are JavaScript string literals; bytes that are not UTF-8
    // become U+FFFD instead of an exception.
    return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace corvidale
