#include "request_gate.h"

#include <nlohmann/json.hpp>

#include "core/util/text.h"

namespace corvidale {
namespace {

// A page may ask for a URL of megabytes; the console needs its start only.
constexpr std::size_t kShownURLCharacters = 200;

bool isPageDialog(const std::string& kind) { return kind == "alert" || kind == "confirm" || kind == "prompt"; }

std::string dialogRefusal(GateVerdict verdict, const std::string& kind, const std::string& asker) {
    if (verdict == GateVerdict::UnknownFrame) {
        return "Corvidale did not show the " + kind + " a frame asked for: it could not tell which frame that was.";
    }
    return "Corvidale did not show the " + kind + " " + asker +
           " asked for: only the top page and the application's own frames may show one.";
}

}  // namespace

bool RequestGate::isOwn(const std::optional<platform::FrameInfo>& frame) const {
    if (!frame) return false;
    const auto& origin = frame->securityOrigin;
    return origin_.ownsOrigin(origin.protocol, origin.host, origin.port);
}

bool RequestGate::spendGesture(const platform::Initiator& initiator) {
    if (!initiator.userGesture || (lastGestureSpent_ && *initiator.userGesture <= *lastGestureSpent_)) return false;
    lastGestureSpent_ = initiator.userGesture;
    return true;
}

GateVerdict RequestGate::whoElse(const platform::Initiator& initiator) const {
    return initiator.frame ? GateVerdict::ForeignFrame : GateVerdict::UnknownFrame;
}

GateVerdict RequestGate::admitExternalOpen(const std::optional<platform::Initiator>& initiator) {
    if (!initiator) return GateVerdict::Allow;
    // The engine counts a click as a gesture for everything its handler and
    // the timers it starts ask for; the user asked for one window.
    if (spendGesture(*initiator)) return GateVerdict::Allow;
    if (!initiator->knowsUserGestures) {
        // Nothing tells a click from a script here: the engine's own rules
        // hold for the pages the user sees, and frames of other sites get nothing.
        const bool top = initiator->frame && initiator->frame->isMainFrame;
        return isOwn(initiator->frame) || top ? GateVerdict::Allow : whoElse(*initiator);
    }
    if (!isOwn(initiator->frame)) return whoElse(*initiator);
    return unrequestedOpens_.spend() ? GateVerdict::Allow : GateVerdict::TooMany;
}

GateVerdict RequestGate::admitPrint(const platform::Initiator& initiator) {
    // A print dialog that comes back after every Cancel keeps the user from
    // the window: each print takes an action of its own.
    if (!initiator.knowsUserGestures) return GateVerdict::Allow;
    return spendGesture(initiator) ? GateVerdict::Allow : GateVerdict::NoGesture;
}

GateVerdict RequestGate::admitDownload(const std::optional<platform::Initiator>& initiator, bool forMainFrame) {
    // The top document is the application's, or one the user went to.
    if (!initiator || forMainFrame) return GateVerdict::Allow;
    if (isOwn(initiator->frame) || (initiator->frame && initiator->frame->isMainFrame)) return GateVerdict::Allow;
    return spendGesture(*initiator) ? GateVerdict::Allow : whoElse(*initiator);
}

GateVerdict RequestGate::admitDialog(const std::optional<platform::FrameInfo>& frame) const {
    // A frame of another site, however small, would speak in the
    // application's name: a password prompt from a 1x1 frame looks like ours.
    if (frame && (frame->isMainFrame || isOwn(frame))) return GateVerdict::Allow;
    return frame ? GateVerdict::ForeignFrame : GateVerdict::UnknownFrame;
}

std::string refusalMessage(GateVerdict verdict, const std::string& kind, const std::string& target) {
    const std::string shown = shortenedText(target, kShownURLCharacters);
    if (isPageDialog(kind)) return dialogRefusal(verdict, kind, shown);
    const std::string what = kind == "print" ? "Corvidale did not print" : "Corvidale did not " + kind + " " + shown;
    switch (verdict) {
    case GateVerdict::ForeignFrame:
        return what + ": a frame of another site asked for it without a click or key press in it.";
    case GateVerdict::UnknownFrame:
        return what + ": it could not tell which frame asked, and no click or key press was behind it.";
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

std::string serializedOrigin(const platform::SecurityOrigin& origin) {
    if (origin.protocol.empty()) return "null";
    std::string text = origin.protocol + "://" + origin.host;
    if (origin.port != 0 && origin.port != defaultPort(origin.protocol)) text += ":" + std::to_string(origin.port);
    return text;
}

std::string javaScriptString(const std::string& text) {
    // JSON strings are JavaScript string literals; bytes that are not UTF-8
    // become U+FFFD instead of an exception.
    return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace corvidale
